#pragma once

#include <gtest/gtest.h>

namespace cellverter::testing_support {

// The one QApplication of a window test program, on the offscreen platform unless
// QT_QPA_PLATFORM names another. Windows need it before they exist; closing the last window
// does not quit it. Created at the first call, never destroyed: Qt's own statics may already
// be gone when those of the test program end.
void StartOffscreenApplication();

// The same, started before the first test:
//   const auto* const kQt = ::testing::AddGlobalTestEnvironment(new OffscreenApplication);
class OffscreenApplication : public ::testing::Environment {
 public:
  void SetUp() override { StartOffscreenApplication(); }
};

}  // namespace cellverter::testing_support
