// Stopping a run: against a scripted directory that goes silent half way (the
// way a slow or hung server looks to the client), the Stop button and Esc
// end the run at once, the grid keeps the last run's rows, the pane says after
// how many entries, and the server sees the abandon and the unbind. Every
// other input stays ignored while the search runs.
#include <QAction>
#include <QApplication>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <chrono>
#include <functional>

#include "app/guifixture.h"
#include "common/scripted_directory.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

const std::string kBase = "ou=people,o=x";

void People(ScriptedDirectory& dir, int n) {
  for (int i = 0; i < n; ++i)
    dir.Add("uid=u" + std::to_string(i) + "," + kBase, {{"cn", {"User " + std::to_string(i)}}});
}

class StopTest : public TGuiTest {
 protected:
  // Runs the profile; once the server has the search and has gone silent,
  // `act` runs inside the run's wait (as the user's input would).
  void RunAndAct(const QStringList& path, ScriptedDirectory& dir,
                 const std::function<void()>& act) {
    ActWhenSilent(dir, act, [&] {
      Click(form_->tv_workspace, Item(form_->tv_workspace, path));
      form_->tb_run->trigger();
    });
  }
  // Gives `command`; `act` runs once the server has its search and went silent.
  void ActWhenSilent(ScriptedDirectory& dir, const std::function<void()>& act,
                     const std::function<void()>& command) {
    QTimer poll;
    const auto start = std::chrono::steady_clock::now();
    bool acted = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (acted) return;
      if (dir.Requests().size() < 2 && ElapsedMs(start) < 8000) return;
      acted = true;
      poll.stop();
      // The entries before the silence have long arrived by then.
      QTimer::singleShot(400, act);
    });
    poll.start(20);
    command();
  }
  QWidget* Button(QAction* a) const {
    return form_->findChild<QToolBar*>("ToolBar")->widgetForAction(a);
  }
};

}  // namespace

TEST_F(StopTest, StopAndEscEndARunAndKeepTheLastRowsInTheGrid) {
  ScriptedDirectory good, silentA, silentB;
  People(good, 5);
  for (ScriptedDirectory* d : {&silentA, &silentB}) {
    People(*d, 50);
    d->StallSearch = 0;  // the search: 3 entries, then nothing
    d->StallAfter = 3;
  }
  FakeServer goodSrv, srvA, srvB;
  good.ServeOn(goodSrv);
  silentA.ServeOn(srvA);
  silentB.ServeOn(srvB);
  ASSERT_TRUE(goodSrv.Start() && srvA.Start() && srvB.Start());
  Catalogue({TServerRow("good", "127.0.0.1", goodSrv.Port()),
             TServerRow("silentA", "127.0.0.1", srvA.Port()),
             TServerRow("silentB", "127.0.0.1", srvB.Port())},
            {{"p", 0, kBase, 2, "(objectClass=*)", "cn"},
             {"p", 1, kBase, 2, "(objectClass=*)", "cn"},
             {"p", 2, kBase, 2, "(objectClass=*)", "cn"}});
  Start();
  EXPECT_FALSE(form_->mnu_actions_stop->isVisible());
  RunAndAct({"good", "p"}, good, [] {});
  ASSERT_EQ(form_->grid->model()->rowCount(), 5);
  EXPECT_TRUE(form_->mnu_action_report->isEnabled());

  struct Case {
    const char* what;
    ScriptedDirectory* dir;
    FakeServer* srv;
    QStringList path;
    bool esc;
  } cases[] = {{"the Stop button", &silentA, &srvA, {"silentA", "p"}, false},
               {"Esc", &silentB, &srvB, {"silentB", "p"}, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int questions = seam_->Texts(TUiSeam::bkQuestion).size();
    bool stopShown = false, runEnabled = true;
    const auto start = std::chrono::steady_clock::now();
    RunAndAct(c.path, *c.dir, [&] {
      stopShown = form_->mnu_actions_stop->isVisible() && form_->mnu_actions_stop->isEnabled();
      runEnabled = form_->mnu_actions_run->isEnabled();
      // Other input is ignored: Exit on the toolbar would ask a question.
      QTest::mouseClick(Button(form_->tb_exit), Qt::LeftButton);
      QTest::keyClick(form_->tv_workspace, Qt::Key_Delete);
      if (c.esc)
        QTest::keyClick(form_->grid, Qt::Key_Escape);
      else
        QTest::mouseClick(Button(form_->mnu_actions_stop), Qt::LeftButton);
    });
    // The session's own time-out would be a minute.
    EXPECT_LT(ElapsedMs(start), 20000);
    EXPECT_TRUE(stopShown);
    EXPECT_FALSE(runEnabled);
    EXPECT_EQ(seam_->Texts(TUiSeam::bkQuestion).size(), questions + 1);  // the run's own
    EXPECT_TRUE(seam_->Errors().isEmpty()) << seam_->Errors().join("\n").toStdString();
    const QStringList pane = form_->PaneLines();
    EXPECT_EQ(pane.last().trimmed(), "MSG: Run cancelled after 3 entries...")
        << pane.join("\n").toStdString();
    // The last run's rows stay, and what could be done with them.
    EXPECT_EQ(form_->grid->model()->rowCount(), 5);
    EXPECT_TRUE(form_->mnu_action_report->isEnabled());
    EXPECT_TRUE(form_->mnu_actions_run->isEnabled());
    EXPECT_FALSE(form_->mnu_actions_stop->isVisible());
    EXPECT_EQ(CatalogueRows("servers", "name").size(), 3u);
    EXPECT_TRUE(c.srv->Finish()) << c.srv->Error();
    const auto req = c.dir->Requests();
    ASSERT_EQ(req.size(), 4u);  // bind, search, abandon, unbind
    EXPECT_EQ(req[2].tag, 0x50);
    EXPECT_EQ(req[2].abandoned, req[1].id);
    EXPECT_EQ(req[3].tag, 0x42);
  }
}

TEST_F(StopTest, EscEndsABrowseOnASilentServer) {
  ScriptedDirectory silent;
  People(silent, 10);
  silent.StallSearch = 0;
  silent.StallAfter = 2;
  FakeServer srv;
  silent.ServeOn(srv);
  ASSERT_TRUE(srv.Start());
  Catalogue({TServerRow("silent", "127.0.0.1", srv.Port(), "N", "", "", kBase)});
  Start();
  form_->tabs->setCurrentIndex(1);
  QApplication::processEvents();
  auto* br = form_->tv_browse;
  Click(br, Item(br, {"silent"}));
  ActWhenSilent(
      silent, [&] { QTest::keyClick(br, Qt::Key_Escape); }, [&] { form_->o_browse->trigger(); });
  EXPECT_EQ(form_->PaneLines().last().trimmed(), "MSG: Browse cancelled after 2 entries...");
  EXPECT_EQ(Item(br, {"silent"})->childCount(), 0);
  EXPECT_TRUE(seam_->Errors().isEmpty());
  EXPECT_TRUE(srv.Finish()) << srv.Error();
  const auto req = silent.Requests();
  ASSERT_EQ(req.size(), 4u);  // bind, search, abandon, unbind
  EXPECT_EQ(req[2].tag, 0x50);
  EXPECT_EQ(req[3].tag, 0x42);
}
