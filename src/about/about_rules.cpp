#include "about/about_rules.h"

#include <chrono>
#include <system_error>

#include "platform/program_data.h"

namespace cellverter {

RainColor GreenTint(int w) { return {w * 150 / 255, w, w * 100 / 255}; }

MatrixRain::MatrixRain(std::string letters, std::uint32_t seed)
    : letters_(letters.empty() ? std::string(" ") : std::move(letters)), random_(seed) {
  drops_.reserve(kCapacity);
}

int MatrixRain::Random(int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(random_);
}

void MatrixRain::SetUp(int outerWidth, int outerHeight) {
  columns_ = outerWidth > 0 ? outerWidth / kCharWidth : 0;
  rows_ = outerHeight > 0 ? outerHeight / kCharHeight : 0;
  drops_.clear();
  for (int i = 0; i < 2 * columns_; ++i) AddDrop();
}

void MatrixRain::AddDrop() {
  // A grid without columns has nowhere to put a drop (and no column to divide by).
  if (dropCount() >= kCapacity || columns_ <= 0) return;
  RainDrop drop;
  drop.column = dropCount() % columns_;
  drop.row = Random(0, rows_ > 0 ? rows_ - 1 : 0);
  drop.speed = Random(1, 3);
  drop.brightness = Random(0, 99);
  drops_.push_back(drop);
}

void MatrixRain::Draw(RainCanvas& canvas, const RainDrop& drop, char letter) const {
  const int x = drop.column * kCharWidth;
  int tail = drop.row - kTrailRows;
  while (tail < 0) tail += rows_ + 1;
  canvas.EraseCell(x, tail * kCharHeight);
  const int head = drop.brightness * 255 / 100;
  const int trail = head / 3;
  if (drop.row > 0) canvas.DrawLetter(letter, x, (drop.row - 1) * kCharHeight, GreenTint(trail));
  canvas.DrawLetter(letter, x, drop.row * kCharHeight, GreenTint(head));
}

void MatrixRain::Tick(RainCanvas& canvas) {
  const int lastLetter = static_cast<int>(letters_.size()) - 1;
  for (RainDrop& drop : drops_) {
    Draw(canvas, drop, letters_[static_cast<size_t>(Random(0, lastLetter))]);
    if (frameCount_ % static_cast<std::uint64_t>(drop.speed) == 0) {
      ++drop.row;
      if (drop.row > rows_ + 1) {
        drop.row = 0;
        drop.speed = Random(1, 3);
        drop.brightness = Random(0, 99);
      }
    }
  }
  ++frameCount_;
}

std::uint32_t SystemTickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

bool DropDownMenuState::ShouldShow(const void* button, const void* menu) {
  if (button == button_ && menu == menu_ && button_ != nullptr &&
      static_cast<std::uint32_t>(clock_() - closedAt_) < kReopenDelayMs) {
    button_ = nullptr;
    menu_ = nullptr;
    return false;
  }
  return true;
}

void DropDownMenuState::Closed(const void* button, const void* menu) {
  closedAt_ = clock_();
  button_ = button;
  menu_ = menu;
}

std::string HomePageAddress(std::string_view host) { return "http://" + std::string(host) + "/"; }

std::string CreditsAddress(std::string_view host) {
  return "https://" + std::string(host) + "/blog/credits-and-acknowledgements/";
}

std::string UninstallAddress(std::string_view host) {
  return "http://" + std::string(host) + "/blog/how-to-uninstall-korvane-software/";
}

std::filesystem::path LicensePath(const std::filesystem::path& programFolder) {
  return ProgramDataPath(programFolder, "license.txt");
}

bool LicenseExists(const std::filesystem::path& programFolder) {
  std::error_code error;
  return std::filesystem::is_regular_file(LicensePath(programFolder), error);
}

}  // namespace cellverter
