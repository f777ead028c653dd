// The message pane's cost per line: the progress lines of a run of N entries
// ("MSG: Processing object i of N..."), appended in bursts as the main window
// flushes them, on a shown pane (offscreen). Prints the time and the growth of
// the process's peak memory for 100,000 lines and for 1,000,000.
//
//   bench_pane [N ...]          (default: 100000 1000000, each in a fresh pane)
#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>

#include "app/messagepane.h"

namespace {

long PeakKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

long CurrentKb() {
  std::ifstream f("/proc/self/statm");
  long pages = 0, resident = 0;
  f >> pages >> resident;
  return resident * 4;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::vector<long> counts;
  for (int i = 1; i < argc; ++i) counts.push_back(std::atol(argv[i]));
  if (counts.empty()) counts = {100000, 1000000};
  for (long n : counts) {
    const long before = CurrentKb();
    QElapsedTimer t;
    t.start();
    {
      quorvel::TMessagePane pane;
      pane.resize(700, 100);
      pane.show();
      const QString total = QString::number(n);
      constexpr int kBurst = 5000;  // about 50 ms of a fast run's lines
      for (long i = 1; i <= n;) {
        QStringList burst;
        for (int k = 0; k < kBurst && i <= n; ++k, ++i)
          burst.append(" MSG: Processing object " + QString::number(i) + " of " + total + "...");
        pane.AppendLines(burst);
        QApplication::processEvents();
      }
      const long held = CurrentKb() - before;
      std::printf(
          "%8ld lines: %6.2f s, %7.1f MB held by the pane (%.1f bytes per line), "
          "process peak %.1f MB\n",
          n, t.elapsed() / 1000.0, held / 1024.0, held * 1024.0 / n, PeakKb() / 1024.0);
    }
  }
  return 0;
}
