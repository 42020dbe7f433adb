// Processor time that the about window's falling letters cost: the window is shown for a
// while with its animation running, then as long with the animation stopped, and the
// process's user + system time is compared with the wall-clock time of each phase.
//   about_animation_cpu [seconds per phase, default 10]
// Run it on a real display (or under xvfb-run) so that every tick is painted.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <sys/resource.h>

#include "about/about_box.h"
#include "platform/app_values.h"

namespace {

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Phase {
  double cpuSeconds;
  double wallSeconds;
};

Phase Run(int seconds) {
  QEventLoop loop;
  QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
  QElapsedTimer wall;
  wall.start();
  const double cpu = ProcessCpuSeconds();
  loop.exec();
  return {ProcessCpuSeconds() - cpu, static_cast<double>(wall.elapsed()) / 1000.0};
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  cellverter::App().productName = "Cellverter";
  cellverter::App().appVersion = "2.1";

  cellverter::TAboutBox box;
  box.show();
  Run(1);  // settle: first paints, glyph cache

  const std::uint64_t ticksBefore = box.rain().frameCount();
  const Phase animated = Run(seconds);
  const std::uint64_t ticks = box.rain().frameCount() - ticksBefore;
  box.findChild<QTimer*>("tmTimer")->stop();
  const Phase idle = Run(seconds);

  std::printf("platform %s, %d drops, %llu ticks in %.1f s\n",
              qPrintable(QGuiApplication::platformName()), box.rain().dropCount(),
              static_cast<unsigned long long>(ticks), animated.wallSeconds);
  std::printf("animated: %.3f s CPU = %.2f %% of one core (%.3f ms per tick)\n",
              animated.cpuSeconds, 100.0 * animated.cpuSeconds / animated.wallSeconds,
              ticks > 0 ? 1000.0 * animated.cpuSeconds / static_cast<double>(ticks) : 0.0);
  std::printf("stopped:  %.3f s CPU = %.2f %% of one core\n", idle.cpuSeconds,
              100.0 * idle.cpuSeconds / idle.wallSeconds);
  return 0;
}
