#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <exception>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "app/main_window.h"
#include "app/main_window_dialogs.h"
#include "app/main_window_rules.h"
#include "app/version_info.h"

namespace {

// The program's named lock, held until the process ends: a socket in the abstract
// namespace, which the system removes with the process. Whether it was free is not
// examined; a second instance runs like the first.
void HoldNamedLock() {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  constexpr char kName[] = "KORVANE_Cellverter";
  std::memcpy(address.sun_path + 1, kName, sizeof kName - 1);
  const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + sizeof kName - 1);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) ::close(fd);
}

// The paths a file manager's "Open with" passes (names or file: addresses), made absolute.
QStringList PathsOfArguments(const QStringList& arguments) {
  QStringList paths;
  for (const QString& argument : arguments) {
    const QUrl url(argument);
    const QString path = argument.startsWith(QStringLiteral("file:")) && url.isLocalFile()
                             ? url.toLocalFile()
                             : argument;
    if (!path.isEmpty()) paths << QFileInfo(path).absoluteFilePath();
  }
  return paths;
}

}  // namespace

int main(int argc, char** argv) {
  HoldNamedLock();
  QApplication application(argc, argv);
  QApplication::setApplicationName("Cellverter");
  // Names the desktop entry, so that the desktop shows its icon and name for our windows.
  QGuiApplication::setDesktopFileName(QStringLiteral(CELLVERTER_DESKTOP_ID));
  cellverter::DesktopDialogs dialogs;
  try {
    cellverter::TAppForm form(dialogs,
                              QString::fromStdString(cellverter::ExecutablePath().string()));
    form.AddDroppedPaths(PathsOfArguments(QApplication::arguments().mid(1)));
    form.show();
    return application.exec();
  } catch (const std::exception& error) {
    dialogs.ShowMessage(nullptr, QMessageBox::Critical, "Cellverter",
                        QString::fromStdString(cellverter::GeneralErrorText(error.what())));
    return 1;
  }
}
