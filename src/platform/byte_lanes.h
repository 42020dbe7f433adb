#pragma once

#include <cstdint>

namespace cellverter {

// Byte searches a word at a time, for the short texts of cells, where a call of memchr costs
// more than the bytes it looks at. The lanes of `word` that hold `byte`, as the high bit of
// each: word ^ byte...byte has a zero byte there. Exact as a yes or no, and in its lowest lane
// set (the first in memory order on this little-endian machine); a lane above a match may be
// set falsely by the borrow.
template <typename Word>
[[gnu::always_inline]] inline Word LanesHolding(Word word, unsigned char byte) {
  constexpr Word kOnes = static_cast<Word>(0x0101010101010101);
  constexpr Word kHighs = static_cast<Word>(0x8080808080808080);
  const Word x = word ^ static_cast<Word>(kOnes * byte);
  return (x - kOnes) & ~x & kHighs;
}

}  // namespace cellverter
