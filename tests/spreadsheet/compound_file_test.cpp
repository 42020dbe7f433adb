#include "spreadsheet/container/compound_file.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "platform/error.h"
#include "temp_dir.h"
#include "xls_test_files.h"

namespace cellverter {
namespace {

using testing_support::CompoundLayout;
using testing_support::Put32;
using testing_support::TempDir;
using testing_support::WriteBytes;
using testing_support::WriteCompoundFile;

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::string ReadWhole(CompoundFile& file, const std::string& name) {
  const auto entry = file.FindStream(name);
  if (!entry) return "<missing>";
  CompoundFile::Stream stream = file.OpenStream(*entry);
  std::string bytes(stream.size(), '\0');
  // Odd-sized reads cross sector and mini sector boundaries at every possible place.
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t got = stream.Read(bytes.data() + done, std::min<size_t>(777, bytes.size() - done));
    if (got == 0) break;
    done += got;
  }
  bytes.resize(done);
  return bytes;
}

struct RoundTripCase {
  const char* name;
  int sectorShift;
  size_t smallSize, largeSize;
};

class CompoundFileRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

// Streams in the mini stream and in regular sectors, with both sector sizes, read back byte
// for byte; names are found without regard to case.
TEST_P(CompoundFileRoundTrip, ReadsEveryStreamBack) {
  const RoundTripCase& c = GetParam();
  const std::string small = RandomBytes(c.smallSize, 1), large = RandomBytes(c.largeSize, 2);
  TempDir dir;
  WriteBytes(
      dir / "f.xls",
      WriteCompoundFile({{"Small", small}, {"Workbook", large}, {"Empty", ""}}, c.sectorShift)
          .bytes);
  CompoundFile file(dir / "f.xls");
  EXPECT_EQ(ReadWhole(file, "small"), small);
  EXPECT_EQ(ReadWhole(file, "WORKBOOK"), large);
  EXPECT_EQ(ReadWhole(file, "Empty"), "");
  EXPECT_FALSE(file.FindStream("Book"));

  // Seeking anywhere, then reading, gives the same bytes.
  CompoundFile::Stream stream = file.OpenStream(*file.FindStream("Workbook"));
  for (uint64_t offset :
       {uint64_t{0}, uint64_t{511}, uint64_t{4095}, c.largeSize / 2, c.largeSize - 3}) {
    stream.Seek(offset);
    char buffer[10] = {};
    const size_t got = stream.Read(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, got), large.substr(offset, 10)) << offset;
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, CompoundFileRoundTrip,
                         ::testing::Values(RoundTripCase{"Sectors512", 9, 1000, 70000},
                                           RoundTripCase{"Sectors4096", 12, 4095, 100001},
                                           RoundTripCase{"MiniStreamAcrossSectors", 9, 3000, 4096}),
                         [](const auto& testInfo) { return testInfo.param.name; });

// More than 109 FAT sectors: the rest are listed in the DIFAT chain.
TEST(CompoundFile, ReadsFatListedInDifatSectors) {
  const std::string large = RandomBytes(7'500'000, 3);
  CompoundLayout layout = WriteCompoundFile({{"Workbook", large}});
  ASSERT_GT(layout.fatSectors.size(), 109u);
  TempDir dir;
  WriteBytes(dir / "f.xls", layout.bytes);
  CompoundFile file(dir / "f.xls");
  EXPECT_EQ(ReadWhole(file, "Workbook"), large);

  // A DIFAT chain that points back to itself ends in an error, not a hang.
  Put32(layout.bytes, layout.SectorOffset(layout.difatSectors[0]) + layout.sectorSize - 4,
        layout.difatSectors[0]);
  Put32(layout.bytes, 0x48, 2);  // claims two DIFAT sectors
  Put32(layout.bytes, 0x2C,
        static_cast<uint32_t>(layout.fatSectors.size() + 200));  // and more FAT sectors
  WriteBytes(dir / "loop.xls", layout.bytes);
  try {
    CompoundFile broken(dir / "loop.xls");
    ADD_FAILURE() << "no error";
  } catch (const Error& error) {
    EXPECT_NE(std::string(error.what()).find("loop.xls"), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find("damaged"), std::string::npos) << error.what();
  }
}

struct BrokenCase {
  const char* name;
  std::function<void(CompoundLayout&)> damage;
  const char* expected;  // part of the message
};

class BrokenCompoundFile : public ::testing::TestWithParam<BrokenCase> {};

// Each damage gives an Error naming the file and the cause, whether it is found while the
// file is opened or while the stream is opened.
TEST_P(BrokenCompoundFile, GivesAnErrorNamingTheFile) {
  CompoundLayout layout =
      WriteCompoundFile({{"Small", std::string(200, 's')}, {"Workbook", RandomBytes(20000, 4)}});
  GetParam().damage(layout);
  TempDir dir;
  WriteBytes(dir / "broken.xls", layout.bytes);
  try {
    CompoundFile file(dir / "broken.xls");
    for (const char* name : {"Workbook", "Small", "Book"}) {
      if (auto entry = file.FindStream(name)) file.OpenStream(*entry);
    }
    ADD_FAILURE() << "no error";
  } catch (const Error& error) {
    const std::string message = error.what();
    EXPECT_EQ(message.find("Cannot open \"" + (dir / "broken.xls") + "\": "), 0u) << message;
    EXPECT_NE(message.find(GetParam().expected), std::string::npos) << message;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Damages, BrokenCompoundFile,
    ::testing::Values(
        BrokenCase{
            "CyclicStreamChain",
            [](CompoundLayout& l) { l.SetFatEntry(l.streamStart[1] + 5, l.streamStart[1] + 2); },
            "loops"},
        BrokenCase{"SectorOutOfRange",
                   [](CompoundLayout& l) { l.SetFatEntry(l.streamStart[1] + 1, 0x00ABCDEF); },
                   "outside the file"},
        BrokenCase{"ChainEndsBeforeStreamSize",
                   [](CompoundLayout& l) {
                     l.SetFatEntry(l.streamStart[1] + 3, testing_support::kEndOfChain);
                   },
                   "shorter than its size"},
        BrokenCase{"StreamSizeBeyondFile",
                   [](CompoundLayout& l) {
                     Put32(l.bytes, l.SectorOffset(l.directorySector) + 2 * 128 + 120, 0x7FFFFFFF);
                   },
                   "larger than the file"},
        BrokenCase{"CyclicDirectoryChain",
                   [](CompoundLayout& l) { l.SetFatEntry(l.directorySector, l.directorySector); },
                   "loops"},
        BrokenCase{"CyclicDirectoryTree",
                   [](CompoundLayout& l) {
                     Put32(l.bytes, l.SectorOffset(l.directorySector) + 2 * 128 + 72, 1);
                   },
                   "directory tree"},
        BrokenCase{"MiniStreamChainLoops",
                   [](CompoundLayout& l) {
                     // The mini FAT sits right after the directory; the stream's second mini
                     // sector points back to its first.
                     Put32(l.bytes,
                           l.SectorOffset(l.directorySector + 1) + 4 * (l.streamStart[0] + 1),
                           l.streamStart[0]);
                   },
                   "loops"},
        // Cut off inside the directory, which the file cannot do without.
        BrokenCase{
            "TruncatedInsideTheDirectory",
            [](CompoundLayout& l) { l.bytes.resize(l.SectorOffset(l.directorySector) + 76); },
            "truncated"},
        BrokenCase{"TruncatedHeader", [](CompoundLayout& l) { l.bytes.resize(300); }, "truncated"},
        BrokenCase{"BadSectorShift", [](CompoundLayout& l) { l.bytes[30] = 7; }, "header"},
        BrokenCase{"NotACompoundFile",
                   [](CompoundLayout& l) { l.bytes = "PK\3\4" + std::string(600, 'x'); },
                   "it is not a workbook (the formats read are"},
        BrokenCase{"TooManyFatSectors", [](CompoundLayout& l) { Put32(l.bytes, 0x2C, 0x10000000); },
                   "larger than the file"}),
    [](const auto& testInfo) { return testInfo.param.name; });

// A file cut off inside a stream, in a sector and at a sector's end: the stream holds the
// bytes before the cut; the file says it was truncated. Streams the cut spares are whole.
TEST(CompoundFile, TruncatedFileServesTheBytesItHolds) {
  const std::string small(200, 's'), large = RandomBytes(20000, 4);
  for (const uint64_t held : {7100u, 7168u}) {
    CompoundLayout layout = WriteCompoundFile({{"Small", small}, {"Workbook", large}});
    layout.bytes.resize(layout.SectorOffset(layout.streamStart[1]) + held);
    TempDir dir;
    WriteBytes(dir / "cut.xls", layout.bytes);
    CompoundFile file(dir / "cut.xls");
    EXPECT_EQ(ReadWhole(file, "Small"), small);
    EXPECT_FALSE(file.Truncated());
    EXPECT_EQ(ReadWhole(file, "Workbook"), large.substr(0, held)) << held;
    EXPECT_TRUE(file.Truncated());
  }
}

// The same in the mini stream, which follows the directory and the mini FAT here.
TEST(CompoundFile, TruncatedMiniStreamServesTheBytesItHolds) {
  const std::string small = RandomBytes(3000, 5);
  CompoundLayout layout = WriteCompoundFile({{"Small", small}});
  layout.bytes.resize(layout.SectorOffset(layout.directorySector + 2) + 1000);
  TempDir dir;
  WriteBytes(dir / "cut.xls", layout.bytes);
  CompoundFile file(dir / "cut.xls");
  EXPECT_EQ(ReadWhole(file, "Small"), small.substr(0, 1000));
  EXPECT_TRUE(file.Truncated());
}

TEST(CompoundFile, MissingFileIsNamed) {
  TempDir dir;
  try {
    CompoundFile file(dir / "absent.xls");
    ADD_FAILURE() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()),
              "Cannot open \"" + (dir / "absent.xls") + "\": the file does not exist.");
  }
}

}  // namespace
}  // namespace cellverter
