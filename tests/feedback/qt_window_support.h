#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <stdlib.h>

#include "i18n/translate.h"
#include "platform/app_values.h"
#include "qt_application.h"

namespace cellverter::testing_support {

// What a message box showed.
struct BoxSeen {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString title;
  QString text;
  QStringList buttons;
};

// Answers every message box that opens while it lives by pressing its first button, and
// keeps what each box showed: the real boxes run, the test reads them.
class BoxAnswerer {
 public:
  BoxAnswerer() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || !box->isVisible()) return;
      BoxSeen seen{box->icon(), box->windowTitle(), box->text(), {}};
      for (QAbstractButton* button : box->buttons()) seen.buttons << button->text();
      boxes_.push_back(seen);
      box->buttons().value(0)->click();
    });
    timer_.start(5);
  }
  const std::vector<BoxSeen>& boxes() const { return boxes_; }

 private:
  QTimer timer_;
  std::vector<BoxSeen> boxes_;
};

// A language folder beside a pretend program, chosen through the interface language.
// Without entries the program runs untranslated.
class LanguageFixture {
 public:
  explicit LanguageFixture(const std::filesystem::path& programFolder) : folder_(programFolder) {}

  void LoadItalian(const std::string& entries) {
    const auto languages = folder_ / "Languages";
    std::filesystem::create_directories(languages);
    std::ofstream(languages / "LanguageCodes.csv", std::ios::binary) << "\xEF\xBB\xBF"
                                                                        "1040,Italian.lang.txt\r\n";
    std::ofstream(languages / "Italian.lang.txt", std::ios::binary) << entries;
    SetUserInterfaceLanguageOverride(1040);
    LoadLanguage(folder_);
  }

  static void Unload() {
    LoadLanguage(std::filesystem::temp_directory_path() / "cellverter-no-such-program-folder");
    SetUserInterfaceLanguageOverride(std::nullopt);
  }

 private:
  std::filesystem::path folder_;
};

inline void SetProgramValues() {
  App().companyName = "KORVANE";
  App().productName = "Cellverter";
  App().appTitle = "KORVANE - Cellverter";
  App().appVersion = "2.1";
}

}  // namespace cellverter::testing_support
