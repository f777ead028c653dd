// The main window from the keyboard and for assistive technology: mnemonics,
// shortcuts and where they act, the focus at start and the Tab order, and the
// texts a screen reader gets from the message pane and the status bar.
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QScrollBar>

#include "app/guifixture.h"
#include "app/keyboard.h"
#include "app/messagepane.h"
#include "app/statuspanels.h"
#include "dialogs/profileform.h"
#include "dialogs/serverform.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

class KeyboardTest : public TGuiTest {
 protected:
  void StartActive() {
    Start();
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  }
  void Press(QWidget* w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(w, static_cast<Qt::Key>(key), mods);
    QApplication::processEvents();
  }
  // The class names of the dialogs shown from now on (each is cancelled).
  QStringList& WatchDialogs(int count) {
    for (int i = 0; i < count; ++i)
      seam_->dialogs.push_back([this](QDialog& d) {
        shown_.append(d.metaObject()->className());
        d.reject();
      });
    return shown_;
  }
  QStringList shown_;
};

// The mnemonic letter of a caption ("E&xit" -> 'x'), or 0 without one.
QChar Mnemonic(const QString& caption) {
  for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != QLatin1Char('&')) continue;
    if (caption[i + 1] != QLatin1Char('&')) return caption[i + 1].toLower();
    ++i;
  }
  return QChar();
}

TEST_F(KeyboardTest, EveryMenuEntryHasAMnemonicOfItsOwnWithinItsMenu) {
  Start();
  QList<QPair<QString, QList<QAction*>>> menus;
  menus.append({"menu bar", form_->menuBar()->actions()});
  for (QAction* m : form_->menuBar()->actions()) menus.append({m->text(), m->menu()->actions()});
  menus.append({"workspace popup", form_->Popup->actions()});
  menus.append({"browse popup", form_->pop_browse->actions()});
  for (const auto& [menu, actions] : menus) {
    QSet<QChar> seen;
    for (QAction* a : actions) {
      if (a->isSeparator()) continue;
      const QChar m = Mnemonic(a->text());
      EXPECT_FALSE(m.isNull()) << menu.toStdString() << ": " << a->text().toStdString();
      EXPECT_FALSE(seen.contains(m)) << menu.toStdString() << ": " << a->text().toStdString();
      seen.insert(m);
    }
  }
}

TEST_F(KeyboardTest, ShortcutsAreShownByTheirEntriesAndToolTips) {
  Start();
  TMainForm& f = *form_;
  struct Row {
    QAction* action;
    QKeySequence key;  // the key the entry shows
    const char* tip;   // a tool button's tool tip, or nullptr
  };
  const Row rows[] = {
      {f.mnu_actions_run, QKeySequence(Qt::Key_F5), nullptr},
      {f.run_profile, QKeySequence(Qt::Key_F5), nullptr},
      {f.tb_run, QKeySequence(), "Run Report (F5)"},
      {f.mnu_action_report, QKeySequence(Qt::CTRL | Qt::Key_E), nullptr},
      {f.tb_export, QKeySequence(), "Save Report (Ctrl+E)"},
      {f.copy_results, QKeySequence(Qt::CTRL | Qt::Key_C), nullptr},
      {f.find_results, QKeySequence(Qt::CTRL | Qt::Key_F), nullptr},
      {f.mnu_file_exit, QKeySequence(Qt::CTRL | Qt::Key_Q), nullptr},
      {f.tb_exit, QKeySequence(), "Exit (Ctrl+Q)"},
      {f.mnu_help_file, QKeySequence(Qt::Key_F1), nullptr},
      {f.mnu_edit_object, QKeySequence(Qt::Key_F2), nullptr},
      {f.e_server, QKeySequence(Qt::Key_F2), nullptr},
      {f.e_profile, QKeySequence(Qt::Key_F2), nullptr},
      {f.tb_edit, QKeySequence(), "Edit Selection (F2)"},
      {f.d_server, QKeySequence(Qt::Key_Delete), nullptr},
      {f.d_profile, QKeySequence(Qt::Key_Delete), nullptr},
      {f.o_browse, QKeySequence(Qt::Key_F5), nullptr},
      {f.o_properties, QKeySequence(Qt::Key_F2), nullptr},
      {f.tb_add_server, QKeySequence(), "Add Server"},
      {f.tb_help, QKeySequence(), "About"},
  };
  for (const Row& r : rows) {
    const std::string name = r.action->objectName().toStdString();
    EXPECT_EQ(r.action->shortcut(), r.key) << name;
    if (r.tip) {
      EXPECT_EQ(r.action->toolTip(), r.tip) << name;
    }
  }
  // Every tool button is named for screen readers by its caption.
  for (QToolButton* b : f.findChild<QToolBar*>("ToolBar")->findChildren<QToolButton*>()) {
    if (b->defaultAction()) {
      EXPECT_FALSE(b->accessibleName().isEmpty()) << b->defaultAction()->objectName().toStdString();
    }
  }
}

TEST_F(KeyboardTest, TreeKeysActOnTheSelectedNodeOnlyWhileTheTreeHasTheFocus) {
  Catalogue({{"alpha", "127.0.0.1", 1, "N", "", "", "o=a"}}, {{"p1", 0, "o=a", 2, "(cn=*)", "cn"}});
  StartActive();
  TMainForm& f = *form_;
  auto* tv = f.tv_workspace;
  // The keyboard starts in the workspace tree, nothing selected; the arrows
  // walk down to the profile.
  ASSERT_EQ(QApplication::focusWidget(), tv);
  EXPECT_EQ(tv->currentItem(), nullptr);
  for (int i = 0; i < 3; ++i) Press(tv, Qt::Key_Down);
  ASSERT_EQ(tv->currentItem(), Item(tv, {"alpha", "p1"}));
  EXPECT_TRUE(f.tb_run->isEnabled());

  QStringList& shown = WatchDialogs(4);
  Press(tv, Qt::Key_F2);
  Press(tv, Qt::Key_Return);
  Press(tv, Qt::Key_Up);  // the server
  Press(tv, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(shown, QStringList({"TProfileForm", "TProfileForm", "TServerForm"}));

  // Delete asks about the selected node; answered No, nothing goes.
  seam_->answers = {false, false};
  Press(tv, Qt::Key_Delete);
  Press(tv, Qt::Key_Down);
  Press(tv, Qt::Key_Delete);
  EXPECT_EQ(seam_->Texts(TUiSeam::bkQuestion),
            QStringList({"Are you sure that you want to delete the server profile \"alpha\"?",
                         "Are you sure that you want to delete the export profile \"p1\"?"}));
  EXPECT_NE(Item(tv, {"alpha", "p1"}), nullptr);

  // F5 runs the profile (the confirmation, answered No).
  seam_->Clear();
  seam_->answers = {false};
  Press(tv, Qt::Key_F5);
  EXPECT_EQ(seam_->Texts(TUiSeam::bkQuestion),
            QStringList("This process may take several minutes depending on your query, do you "
                        "want to proceed?"));

  // Enter, F2 and Delete in the grid are the grid's: nothing opens or asks.
  seam_->Clear();
  f.grid->setFocus();
  for (int key : {Qt::Key_Return, Qt::Key_F2, Qt::Key_Delete}) Press(f.grid, key);
  EXPECT_EQ(shown.size(), 3);
  EXPECT_TRUE(seam_->boxes.empty());

  // The browse tree: F5 on its root and F2 on a server node offer nothing
  // (as their popup would), and F5 there does not run the profile.
  f.tabs->setCurrentIndex(1);
  auto* br = f.tv_browse;
  br->setFocus();
  br->setCurrentItem(Item(br, {}));
  Press(br, Qt::Key_F5);
  br->setCurrentItem(Item(br, {"alpha"}));
  Press(br, Qt::Key_F2);
  EXPECT_TRUE(seam_->boxes.empty());
  EXPECT_EQ(shown.size(), 3);

  // Ctrl+Q asks before closing; No keeps the window.
  seam_->answers = {false};
  Press(br, Qt::Key_Q, Qt::ControlModifier);
  EXPECT_EQ(seam_->Texts(TUiSeam::bkQuestion), QStringList("Are you sure that you want to exit?"));
  EXPECT_TRUE(f.isVisible());
}

TEST_F(KeyboardTest, TabGoesRoundTheTabsTheTreeTheGridAndThePane) {
  StartActive();
  TMainForm& f = *form_;
  const QList<QWidget*> order = {f.tv_workspace, f.grid, f.rt_msg, f.tabs->tabBar()};
  ASSERT_EQ(QApplication::focusWidget(), order[0]);
  for (int i = 1; i <= order.size(); ++i) {
    Press(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), order[i % order.size()]) << "Tab " << i;
  }
  for (int i = order.size() - 1; i >= 0; --i) {
    Press(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), order[i]) << "Shift+Tab to " << i;
  }
}

TEST_F(KeyboardTest, PaneLinesAndStatusTextsAreReadByAssistiveTechnology) {
  Catalogue({{"alpha", "10.1.2.3", 389, "N", "", "", "o=a"}});
  Start();
  TMainForm& f = *form_;
  f.AddMessage(0, "MSG: first");
  f.AddMessage(2, "ERR: \xc3\xa9t\xc3\xa9 <b>not bold</b>");
  f.FlushPane();
  Click(f.tv_workspace, Item(f.tv_workspace, {"alpha"}));
  QApplication::processEvents();

  QAccessibleInterface* pane = QAccessible::queryAccessibleInterface(f.rt_msg);
  ASSERT_NE(pane, nullptr);
  EXPECT_EQ(pane->text(QAccessible::Name), "Messages");
  QStringList read;
  for (int i = 0; i < pane->childCount(); ++i)
    if (QAccessibleInterface* c = pane->child(i); c && c->role() == QAccessible::Cell)
      read.append(c->text(QAccessible::Name));
  EXPECT_EQ(read, f.PaneLines());
  EXPECT_EQ(read.last(), QString::fromUtf8(" ERR: \xc3\xa9t\xc3\xa9 <b>not bold</b>"));

  // The panels' whole texts, each where its panel is.
  QAccessibleInterface* status = QAccessible::queryAccessibleInterface(f.Status);
  ASSERT_NE(status, nullptr);
  QStringList panels;
  for (int i = 0; i < status->childCount(); ++i)
    panels.append(status->child(i)->text(QAccessible::Name));
  EXPECT_EQ(panels, QStringList({QString::fromUtf8("ERR: \xc3\xa9t\xc3\xa9 <b>not bold</b>"),
                                 "10.1.2.3", "Anonymous"}));
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(status->child(i)->rect().center(),
              f.Status->mapToGlobal(f.Status->PanelRect(i).center()));
  for (QWidget* w : QList<QWidget*>{f.tv_workspace, f.tv_browse, f.grid})
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name).isEmpty());
}

TEST(MessagePane, KeepsEveryLineInOrderAcrossBlocksAndCopiesThemAll) {
  // Long lines, empty lines and non-Latin text; enough of them to fill
  // several storage blocks and to end a block part way through a line.
  TMessagePane pane;
  pane.resize(300, 120);
  pane.show();
  QStringList all;
  const QString long1(40000, QChar(0x4e2d));  // 120,000 bytes of UTF-8
  const QString huge(360000, QChar(0x4e2d));  // more than a block
  for (int burst = 0; burst < 6; ++burst) {
    QStringList lines;
    for (int i = 0; i < 1000; ++i) lines.append(QString(" MSG: Processing object %1").arg(i));
    lines.append(QString());
    if (burst > 0) lines.append(burst == 3 ? huge : long1);  // wider after the first burst
    pane.AppendLines(lines);
    QApplication::processEvents();
    all += lines;
  }
  ASSERT_EQ(pane.LineCount(), all.size());
  // The rows are as wide as the widest line: it can be scrolled into view.
  EXPECT_GE(pane.horizontalScrollBar()->maximum(), pane.Widest() - 300);
  EXPECT_GT(pane.Widest(), 100000);
  EXPECT_EQ(pane.Lines(), all);
  EXPECT_EQ(pane.model()->data(pane.model()->index(2002, 0)).toString(), long1);
  EXPECT_EQ(pane.Text(), all.join('\n'));
}

TEST(MessagePane, NumberedLinesReadBackExactlyAsWritten) {
  // Lines that a run of numbers keeps compactly, and look-alikes that must
  // stay as they are: leading zeros, a number too long, a step other than
  // one, another text after the number, a count that gains a digit.
  TMessagePane pane;
  QStringList all;
  for (int i = 1; i <= 120; ++i) all << QString(" MSG: Processing object %1 of 120...").arg(i);
  all << " MSG: Processing object 121 of 121..."
      << " MSG: Processing object 122 of 120..."
      << "item 007"
      << "item 008"
      << "item 9"
      << "item 10"
      << "item 12"
      << "item 11"
      << "n 99999999999999999998"
      << "n 99999999999999999999"
      << "7"
      << "8"
      << "9"
      << ""
      << "0"
      << "1"
      << "x0y"
      << "x1y"
      << "x2z"
      << "x3z" << QString::fromUtf8("\xc3\xa9 1") << QString::fromUtf8("\xc3\xa9 2");
  for (int i = 0; i < 300; ++i) all << QString("%1 %2").arg(i % 2 ? "odd" : "even").arg(i);
  // One line at a time and in bursts, as the window flushes them.
  for (int i = 0; i < 130; ++i) pane.AppendLines({all[i]});
  pane.AppendLines(all.mid(130));
  ASSERT_EQ(pane.LineCount(), all.size());
  EXPECT_EQ(pane.Lines(), all);
  for (int i : {0, 119, 120, 121, 122, 135, 140, static_cast<int>(all.size()) - 1})
    EXPECT_EQ(pane.model()->data(pane.model()->index(i, 0)).toString(), all[i]) << i;

  // Written as a run at once: the same lines as one at a time, whether they
  // go on from the line before or not.
  pane.AppendNumbered(" n ", 5, 5, " of 9");
  pane.AppendNumbered(" n ", 6, 40000, " of 9");
  pane.AppendNumbered(" n ", 3, 4, " of 9");
  pane.AppendNumbered(QString::fromUtf8(" \xc3\xa9 "), 9, 10, "");
  all << " n 5 of 9";
  for (int i = 6; i <= 40000; ++i) all << QString(" n %1 of 9").arg(i);
  all << " n 3 of 9"
      << " n 4 of 9" << QString::fromUtf8(" \xc3\xa9 9") << QString::fromUtf8(" \xc3\xa9 10");
  EXPECT_EQ(pane.Lines(), all);
}

}  // namespace
