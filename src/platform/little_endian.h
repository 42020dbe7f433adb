#pragma once

#include <cstdint>

// Little-endian fields of the file formats (zip, compound files, BIFF records, encryption
// headers, version resources), read byte by byte: no alignment and no host order assumed.
namespace cellverter {

inline uint16_t LoadLe16(const void* at) {
  const auto* p = static_cast<const unsigned char*>(at);
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t LoadLe32(const void* at) {
  const auto* p = static_cast<const unsigned char*>(at);
  return LoadLe16(p) | static_cast<uint32_t>(LoadLe16(p + 2)) << 16;
}
inline uint64_t LoadLe64(const void* at) {
  const auto* p = static_cast<const unsigned char*>(at);
  return LoadLe32(p) | static_cast<uint64_t>(LoadLe32(p + 4)) << 32;
}

}  // namespace cellverter
