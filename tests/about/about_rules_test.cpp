#include "about/about_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace cellverter {
namespace {

// Records what a tick draws.
class RecordingCanvas : public RainCanvas {
 public:
  struct Op {
    char kind;  // 'e' erase, 'd' draw
    char letter;
    int x;
    int y;
    RainColor color;
  };
  void EraseCell(int x, int y) override { ops.push_back({'e', 0, x, y, {}}); }
  void DrawLetter(char letter, int x, int y, RainColor color) override {
    ops.push_back({'d', letter, x, y, color});
  }
  std::vector<Op> ops;
};

TEST(MatrixRainTest, GridOfA452PixelWindowHas56ColumnsAndTwoDropsInEach) {
  MatrixRain rain("kor", 7);
  rain.SetUp(452, 400);
  EXPECT_EQ(rain.columns(), 56);
  EXPECT_EQ(rain.rows(), 33);
  ASSERT_EQ(rain.dropCount(), 112);
  std::vector<int> perColumn(56);
  for (int i = 0; i < rain.dropCount(); ++i) {
    const RainDrop& drop = rain.drops()[static_cast<size_t>(i)];
    EXPECT_EQ(drop.column, i % 56);
    ++perColumn[static_cast<size_t>(drop.column)];
    EXPECT_TRUE(drop.row >= 0 && drop.row < 33) << drop.row;
    EXPECT_TRUE(drop.speed >= 1 && drop.speed <= 3) << drop.speed;
    EXPECT_TRUE(drop.brightness >= 0 && drop.brightness <= 99) << drop.brightness;
  }
  EXPECT_TRUE(std::all_of(perColumn.begin(), perColumn.end(), [](int n) { return n == 2; }));

  // A new set-up (a resize) starts the table afresh.
  rain.SetUp(160, 120);
  EXPECT_EQ(rain.columns(), 20);
  EXPECT_EQ(rain.dropCount(), 40);
}

TEST(MatrixRainTest, TableNeverHoldsMoreThan5000Drops) {
  MatrixRain rain;
  rain.SetUp(8 * 3000, 120);  // would want 6000
  EXPECT_EQ(rain.dropCount(), MatrixRain::kCapacity);
  rain.AddDrop();
  EXPECT_EQ(rain.dropCount(), MatrixRain::kCapacity);
}

TEST(MatrixRainTest, WindowNarrowerOrLowerThanACellIsSafe) {
  RecordingCanvas canvas;
  MatrixRain narrow;
  narrow.SetUp(7, 300);  // no column: nothing to divide by, nothing to draw
  EXPECT_EQ(narrow.dropCount(), 0);
  narrow.AddDrop();
  EXPECT_EQ(narrow.dropCount(), 0);
  narrow.Tick(canvas);
  EXPECT_TRUE(canvas.ops.empty());

  MatrixRain flat;
  flat.SetUp(80, 5);  // no row
  EXPECT_EQ(flat.dropCount(), 20);
  for (int i = 0; i < 10; ++i) flat.Tick(canvas);
  for (const RainDrop& drop : flat.drops()) EXPECT_LE(drop.row, 1);
}

struct DrawCase {
  const char* name;
  int row;
  int brightness;
  int eraseRow;  // the trail's end, 40 rows behind, wrapped over rows + 1
};

class MatrixRainDrawTest : public ::testing::TestWithParam<DrawCase> {};

// A grid of 10 columns and 30 rows; drop 3 sits in column 3.
TEST_P(MatrixRainDrawTest, ErasesTheTrailEndThenDrawsAboveAndAtTheHead) {
  const DrawCase& c = GetParam();
  MatrixRain rain("kor", 1);
  rain.SetUp(80, 360);
  ASSERT_EQ(rain.rows(), 30);
  rain.drop(3).row = c.row;
  rain.drop(3).brightness = c.brightness;

  RecordingCanvas canvas;
  rain.Tick(canvas);
  // Column 3 (x = 24) is drawn first by drop 3, in table order.
  std::vector<RecordingCanvas::Op> ops;
  for (const auto& op : canvas.ops) {
    if (op.x == 24) ops.push_back(op);
  }
  ASSERT_GE(ops.size(), 2u);
  EXPECT_EQ(ops[0].kind, 'e');
  EXPECT_EQ(ops[0].y, c.eraseRow * 12);

  const int head = c.brightness * 255 / 100;
  size_t next = 1;
  if (c.row > 0) {
    const auto& above = ops[next++];
    EXPECT_EQ(above.kind, 'd');
    EXPECT_EQ(above.y, (c.row - 1) * 12);
    EXPECT_EQ(above.color, GreenTint(head / 3));
  }
  const auto& headOp = ops[next];
  EXPECT_EQ(headOp.kind, 'd');
  EXPECT_EQ(headOp.x, 24);
  EXPECT_EQ(headOp.y, c.row * 12);
  EXPECT_EQ(headOp.color, GreenTint(head));
  EXPECT_NE(std::string("kor").find(headOp.letter), std::string::npos);
  if (c.row > 0) {
    EXPECT_EQ(ops[next - 1].letter, headOp.letter);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, MatrixRainDrawTest,
                         ::testing::Values(DrawCase{"Top", 0, 99, 22},        // 0-40+31+31
                                           DrawCase{"Near", 5, 50, 27},       // 5-40+31+31
                                           DrawCase{"Exact", 40, 10, 0},      // no wrap
                                           DrawCase{"Below", 31, 0, 22},      // 31-40+31
                                           DrawCase{"PastEnd", 45, 100, 5}),  // 45-40
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(MatrixRainTest, DropsMoveEverySpeedthTickAndRestartPastTheBottom) {
  MatrixRain rain("kor", 3);
  rain.SetUp(24, 120);  // 3 columns, 10 rows, 6 drops
  ASSERT_EQ(rain.dropCount(), 6);
  for (int i = 0; i < 3; ++i) {
    rain.drop(i).row = 0;
    rain.drop(i).speed = i + 1;
  }
  rain.drop(3).row = 11;  // the last row + 1: one more step restarts it
  rain.drop(3).speed = 1;

  RecordingCanvas canvas;
  for (int tick = 0; tick < 6; ++tick) rain.Tick(canvas);
  EXPECT_EQ(rain.frameCount(), 6u);
  EXPECT_EQ(rain.drops()[0].row, 6);  // ticks 0..5
  EXPECT_EQ(rain.drops()[1].row, 3);  // ticks 0, 2, 4
  EXPECT_EQ(rain.drops()[2].row, 2);  // ticks 0, 3
  // Drop 3 went from row 11 to 12 > 11 on tick 0, restarted at row 0 and kept falling with
  // its new speed.
  EXPECT_LE(rain.drops()[3].row, 5);
  EXPECT_TRUE(rain.drops()[3].speed >= 1 && rain.drops()[3].speed <= 3);
}

struct ReopenCase {
  const char* name;
  std::uint32_t closedAt;
  std::uint32_t clickedAt;
  bool shown;
};

class DropDownMenuStateTest : public ::testing::TestWithParam<ReopenCase> {};

TEST_P(DropDownMenuStateTest, TheClickThatClosedTheMenuDoesNotReopenIt) {
  const ReopenCase& c = GetParam();
  std::uint32_t now = c.closedAt;
  DropDownMenuState state([&] { return now; });
  int button = 0;
  int menu = 0;
  EXPECT_TRUE(state.ShouldShow(&button, &menu));  // nothing remembered yet
  state.Closed(&button, &menu);
  now = c.clickedAt;
  EXPECT_EQ(state.ShouldShow(&button, &menu), c.shown);
  // Suppressing forgets the menu, so the next click opens it whatever the time.
  EXPECT_TRUE(state.ShouldShow(&button, &menu));
}

INSTANTIATE_TEST_SUITE_P(
    Clock, DropDownMenuStateTest,
    ::testing::Values(ReopenCase{"SameMoment", 1000, 1000, false},
                      ReopenCase{"After99ms", 1000, 1099, false},
                      ReopenCase{"After100ms", 1000, 1100, true},
                      ReopenCase{"WrappedAfter80ms", 0xFFFFFFC0u, 0x10u, false},
                      ReopenCase{"WrappedAfter100ms", 0xFFFFFFC0u, 0x24u, true}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(DropDownMenuStateTest, AnotherButtonOrMenuIsShownAtOnce) {
  std::uint32_t now = 500;
  DropDownMenuState state([&] { return now; });
  int button = 0, other = 0, menu = 0;
  state.Closed(&button, &menu);
  EXPECT_TRUE(state.ShouldShow(&other, &menu));
  EXPECT_TRUE(state.ShouldShow(&button, &other));
  EXPECT_FALSE(state.ShouldShow(&button, &menu));
}

TEST(AboutAddressesTest, PagesOnTheMakersHost) {
  EXPECT_EQ(HomePageAddress("maker.test"), "http://maker.test/");
  EXPECT_EQ(CreditsAddress("maker.test"), "https://maker.test/blog/credits-and-acknowledgements/");
  EXPECT_EQ(UninstallAddress("maker.test"),
            "http://maker.test/blog/how-to-uninstall-korvane-software/");
}

TEST(LicenseTest, FoundOnlyAsAFileBesideTheProgram) {
  testing_support::TempDir folder;
  EXPECT_EQ(LicensePath(folder.path()), folder.path() / "license.txt");
  EXPECT_FALSE(LicenseExists(folder.path()));

  std::filesystem::create_directory(folder.path() / "license.txt");
  EXPECT_FALSE(LicenseExists(folder.path())) << "a folder is no licence";
  std::filesystem::remove(folder.path() / "license.txt");

  std::filesystem::create_symlink(folder.path() / "elsewhere.txt", folder.path() / "license.txt");
  EXPECT_FALSE(LicenseExists(folder.path())) << "a dangling link";
  std::ofstream(folder.path() / "elsewhere.txt") << "terms";
  EXPECT_TRUE(LicenseExists(folder.path())) << "links are followed";
}

}  // namespace
}  // namespace cellverter
