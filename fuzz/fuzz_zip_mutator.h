// A libFuzzer mutator for zip packages. The .xlsx reader checks every part's CRC-32 and sizes,
// so a byte changed inside a part would stop at the checksum and never reach the XML. This
// mutator unpacks the input, changes one part (its bytes, or whether it is deflated) and packs
// it again with correct checksums, sizes and offsets, in one of the container layouts Excel
// and other producers write. Now and then it changes the raw bytes instead, so that the
// container's own checks are fuzzed too. Inputs that are not zip packages (.xls) get the
// ordinary mutations.
#pragma once

#include <fcntl.h>

#include <cstdint>
#include <cstring>
#include <exception>
#include <optional>
#include <random>
#include <vector>

#include "fuzz_support.h"
#include "spreadsheet/container/zip_archive.h"
#include "xlsx_builder.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace cellverter::fuzzing {

// The parts of a readable package, or nothing when the reader refuses it.
inline std::optional<std::vector<testing_support::ZipPart>> ReadZipParts(const uint8_t* data,
                                                                         size_t size,
                                                                         size_t maxPartSize) {
  if (size < 4 || std::memcmp(data, "PK\3\4", 4) != 0) return std::nullopt;
  MemoryFile file(data, size);
  const int fd = ::open(file.path().c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  try {
    ZipArchive archive(fd);
    std::vector<testing_support::ZipPart> parts;
    for (const ZipArchive::Entry& entry : archive.entries()) {
      parts.push_back({entry.name, archive.ReadAll(entry, maxPartSize), entry.method == 8});
    }
    return parts;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

inline size_t MutateZipPackage(uint8_t* data, size_t size, size_t maxSize, unsigned seed) {
  std::minstd_rand random(seed);
  auto parts = random() % 8 == 0 ? std::nullopt : ReadZipParts(data, size, maxSize);
  if (!parts || parts->empty()) return LLVMFuzzerMutate(data, size, maxSize);
  testing_support::ZipPart& part = (*parts)[random() % parts->size()];
  if (random() % 16 == 0) {
    part.deflate = !part.deflate;
  } else {
    if (part.data.empty()) part.data = "<";
    const size_t used = part.data.size();
    part.data.resize(used + std::min<size_t>(maxSize, 4096));
    part.data.resize(
        LLVMFuzzerMutate(reinterpret_cast<uint8_t*>(part.data.data()), used, part.data.size()));
  }
  testing_support::ZipOptions options;
  options.dataDescriptors = random() % 8 == 0;
  options.zip64 = random() % 8 == 0;
  const std::string zip = testing_support::BuildZip(*parts, options);
  if (zip.size() > maxSize) return LLVMFuzzerMutate(data, size, maxSize);
  std::memcpy(data, zip.data(), zip.size());
  return zip.size();
}

}  // namespace cellverter::fuzzing

#ifdef CELLVERTER_LIBFUZZER
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize,
                                          unsigned seed) {
  return cellverter::fuzzing::MutateZipPackage(data, size, maxSize, seed);
}
#endif
