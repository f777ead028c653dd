// The windowed program's speed, measured on the real main window offscreen:
//   run:    from "Run" to the rows shown in the grid (connect, bind, search,
//           every progress line, the working table, the grid bound)
//   browse: "Browse" of a node, every child added to the tree
//
//   bench_app BUILD_DIR SOURCE_DIR SLAPD_DIR run BASE FILTER ATT
//     (QUORVEL_BENCH_AGAIN=1: the second of two runs in one window is timed)
//   bench_app BUILD_DIR SOURCE_DIR SLAPD_DIR browse BASE
// Prints one line of key=value pairs. Driven by bench/app/bench.sh.
#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>

#include "app/apptool.h"
#include "app/mainform.h"
#include "app/messagepane.h"
#include "app/splash.h"
#include "common/slapd_env.h"
#include "dialogs/testseam.h"
#include "store/data.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const bool run = argc == 8 && std::string(argv[4]) == "run";
  const bool browse = argc == 6 && std::string(argv[4]) == "browse";
  if (!run && !browse) {
    std::fprintf(stderr, "usage: %s BUILD SOURCE SLAPD_DIR run BASE FILTER ATT | ... browse BASE\n",
                 argv[0]);
    return 2;
  }
  const quorvel::test::SlapdEnv env = quorvel::test::ReadSlapdEnv(argv[3]);
  if (!env.ok) {
    std::fprintf(stderr, "no slapd: %s\n", env.error.c_str());
    return 1;
  }
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString() + "/";
  const std::string err =
      quorvel::tool::PrepareProgramFolder(argv[1], argv[2], folder, [&](Tdata& d) {
        const int id = d.AddServer("bench", env.host, std::to_string(env.port), "N", env.adminDn,
                                   env.adminPw, argv[5]);
        if (run) d.AddProfile("bench", std::to_string(id), argv[5], "2", argv[6], argv[7]);
      });
  if (!err.empty()) {
    std::fprintf(stderr, "%s\n", err.c_str());
    return 1;
  }
  quorvel::SetPausesEnabled(false);
  quorvel::SetProgramFolder(folder);
  quorvel::test::TTestSeam seam;  // answers Yes, records the boxes
  Tdata module;
  data = &module;
  int rc = 0;
  {
    TMainForm form;
    form.show();
    QApplication::processEvents();
    QElapsedTimer t;
    if (run) {
      QTreeWidgetItem* server = form.tv_workspace->topLevelItem(0)->child(0);
      form.tv_workspace->setCurrentItem(server->child(0));
      form.tv_workspaceMouseUp();
      // With QUORVEL_BENCH_AGAIN set the run timed is the second: its rows
      // take the place of the first's and replace its snapshot, as every
      // Run after the first does.
      if (!qEnvironmentVariableIsEmpty("QUORVEL_BENCH_AGAIN")) form.run_profileClick();
      t.start();
      form.run_profileClick();
      const int rows = form.grid->model()->rowCount();
      form.grid->repaint();  // the first screen of rows is painted
      const double s = t.nsecsElapsed() / 1e9;
      // Counted where they are kept: a copy of every line would be the
      // benchmark's own memory, not the window's.
      form.FlushPane();
      std::printf("run_seconds=%.3f rows=%d pane_lines=%d errors=%lld\n", s, rows,
                  form.rt_msg->LineCount(), static_cast<long long>(seam.Errors().size()));
      rc = rows > 0 ? 0 : 1;
    } else {
      QTreeWidgetItem* server = form.tv_browse->topLevelItem(0)->child(0);
      form.tabs->setCurrentIndex(1);
      form.tv_browse->setCurrentItem(server);
      t.start();
      form.o_browseClick();
      const double s = t.nsecsElapsed() / 1e9;
      std::printf("browse_seconds=%.3f children=%d errors=%lld\n", s, server->childCount(),
                  static_cast<long long>(seam.Errors().size()));
      rc = server->childCount() > 0 ? 0 : 1;
    }
    form.hide();
  }
  data = nullptr;
  return rc;
}
