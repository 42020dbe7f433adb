#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace cellverter {

// The rules of the about window, free of widgets so that tests reach them directly.

// ---- Falling letters ----------------------------------------------------------------

struct RainColor {
  int red = 0;
  int green = 0;
  int blue = 0;
  friend bool operator==(const RainColor&, const RainColor&) = default;
};

// The green tint of a value w (0..255): red w*150/255, green w, blue w*100/255.
RainColor GreenTint(int w);

struct RainDrop {
  int column = 0;      // 0 .. columns - 1
  int row = 0;         // the head's row, 0 downwards
  int speed = 1;       // moves one row every speed-th tick, 1..3
  int brightness = 0;  // 0..99
};

// What one tick draws, in canvas pixels. The window paints these onto its surface.
class RainCanvas {
 public:
  virtual ~RainCanvas() = default;
  // Fill the cell whose top-left corner is (x, y) with black.
  virtual void EraseCell(int x, int y) = 0;
  // Draw `letter` opaquely on black in the cell whose top-left corner is (x, y).
  virtual void DrawLetter(char letter, int x, int y, RainColor color) = 0;
};

// The animation of letters falling down a grid of 8 x 12 pixel cells: a fixed table of
// drops, two per column, each trailing 40 rows of fading letters.
class MatrixRain {
 public:
  static constexpr int kCapacity = 5000;
  static constexpr int kCharWidth = 8;
  static constexpr int kCharHeight = 12;
  static constexpr int kTrailRows = 40;

  explicit MatrixRain(std::string letters = "kor", std::uint32_t seed = std::random_device{}());

  // Grid set-up for a window of the given outer size: columns = width / 8, rows =
  // height / 12, the table emptied and refilled with two drops per column. A window
  // narrower than one cell gets no drops.
  void SetUp(int outerWidth, int outerHeight);

  // Adds one drop in column (count mod columns) at a random row, unless the table is full.
  void AddDrop();

  // One animation tick: every drop in table order draws a random letter, then moves down
  // when the tick count is a multiple of its speed and starts again at the top once it has
  // fallen past the last row + 1.
  void Tick(RainCanvas& canvas);

  int columns() const { return columns_; }
  int rows() const { return rows_; }
  int dropCount() const { return static_cast<int>(drops_.size()); }
  std::uint64_t frameCount() const { return frameCount_; }
  const std::vector<RainDrop>& drops() const { return drops_; }
  // For tests that pin a drop's state.
  RainDrop& drop(int index) { return drops_.at(static_cast<size_t>(index)); }

 private:
  int Random(int low, int high);  // inclusive
  void Draw(RainCanvas& canvas, const RainDrop& drop, char letter) const;

  std::string letters_;
  std::mt19937 random_;
  std::vector<RainDrop> drops_;
  int columns_ = 0;
  int rows_ = 0;
  std::uint64_t frameCount_ = 0;
};

// ---- Drop-down menu under a button ------------------------------------------------

// A millisecond tick count that wraps around like the system's 32-bit one.
using TickClock = std::function<std::uint32_t()>;
std::uint32_t SystemTickCount();

// Remembers which menu closed when, so that the click that closed a menu by landing on
// its own button does not open it again.
class DropDownMenuState {
 public:
  static constexpr std::uint32_t kReopenDelayMs = 100;

  explicit DropDownMenuState(TickClock clock = SystemTickCount) : clock_(std::move(clock)) {}

  // False (and the memory forgotten) when this button's menu closed less than 100 ms ago.
  bool ShouldShow(const void* button, const void* menu);
  // Called when the menu shown under the button has closed.
  void Closed(const void* button, const void* menu);

 private:
  TickClock clock_;
  const void* button_ = nullptr;
  const void* menu_ = nullptr;
  std::uint32_t closedAt_ = 0;
};

// ---- Addresses and files ----------------------------------------------------------

std::string HomePageAddress(std::string_view host);   // http://host/
std::string CreditsAddress(std::string_view host);    // https://host/blog/credits-...
std::string UninstallAddress(std::string_view host);  // http://host/blog/how-to-...

// The licence beside the program or installed with it (ProgramDataPath), when it is there
// as a file (links followed).
std::filesystem::path LicensePath(const std::filesystem::path& programFolder);
bool LicenseExists(const std::filesystem::path& programFolder);

// Left (or top) coordinate that centres a child of `inner` size in `outer`, truncated
// toward zero as the window's own arithmetic does.
constexpr int CentredOffset(int outer, int inner) { return (outer - inner) / 2; }

}  // namespace cellverter
