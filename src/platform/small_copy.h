#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace cellverter {

// Copies `size` bytes, at least one Word and at most two, as a first and a last Word that may
// overlap.
template <typename Word>
[[gnu::always_inline]] inline void CopyAsTwoWords(const char* from, size_t size, char* at) {
  Word head, tail;
  std::memcpy(&head, from, sizeof head);
  std::memcpy(&tail, from + size - sizeof tail, sizeof tail);
  std::memcpy(at, &head, sizeof head);
  std::memcpy(at + size - sizeof tail, &tail, sizeof tail);
}

// Copies `bytes` to `at` and returns the end. Most texts copied on the per-cell paths are a few
// bytes: those take two loads and two stores instead of a call.
[[gnu::always_inline]] inline char* PutBytes(std::string_view bytes, char* at) {
  const char* from = bytes.data();
  const size_t size = bytes.size();
  if (size > 16) {
    std::memcpy(at, from, size);
  } else if (size >= 8) {
    CopyAsTwoWords<uint64_t>(from, size, at);
  } else if (size >= 4) {
    CopyAsTwoWords<uint32_t>(from, size, at);
  } else if (size >= 2) {
    CopyAsTwoWords<uint16_t>(from, size, at);
  } else if (size == 1) {
    *at = *from;
  }
  return at + size;
}

}  // namespace cellverter
