// The results grid as a workbench, on the real window against the private
// directory server: header clicks sort (numbers, case, ties, empty cells),
// the filter box keeps rows and the title counts them, columns hidden and
// moved come back with the profile's next run, cells are copied as shown, and
// every report holds what the grid shows, checked against Python's own sort
// and filter of the whole report.
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QTimer>
#include <algorithm>

#include "app/exporthookup.h"
#include "app/guifixture.h"
#include "app/resultsview.h"
#include "common/slapd_env.h"
#include "export/kxexport.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

class ResultsViewTest : public TGuiTest {
 protected:
  void SetUp() override {
    TGuiTest::SetUp();
    env_ = &Slapd();
  }
  void StartWithPeople() {
    Catalogue({TServerRow("dir", env_->host, env_->port, "N", env_->adminDn, env_->adminPw)},
              {{"people", 0, "ou=people," + env_->base, 1, "(objectClass=person)",
                "cn;sn;employeeNumber;mail"}});
    Start();
  }
  void Run() {
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
    Click(form_->tv_workspace, Item(form_->tv_workspace, {"dir", "people"}));
    form_->tb_run->trigger();
  }
  QHeaderView* Header() const { return form_->grid->horizontalHeader(); }
  // A real click on a column's header.
  void ClickHeader(int logical) {
    QHeaderView* h = Header();
    const int x = h->sectionViewportPosition(logical) + h->sectionSize(logical) / 2;
    QTest::mouseClick(h->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(x, h->height() / 2));
  }
  // The header's context menu, with the entry `caption` chosen in it.
  void HeaderMenuChoose(const QString& caption) {
    QTimer::singleShot(0, [caption] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      ASSERT_NE(menu, nullptr);
      for (QAction* a : menu->actions())
        if (a->text() == caption) a->trigger();
      menu->close();
    });
    QHeaderView* h = Header();
    const QPoint at(5, h->height() / 2);
    QContextMenuEvent e(QContextMenuEvent::Mouse, at, h->viewport()->mapToGlobal(at));
    QApplication::sendEvent(h->viewport(), &e);
  }
  QStringList Column(int logical) const {
    QStringList out;
    for (int r = 0; r < form_->grid->model()->rowCount(); ++r) out << Cell(r, logical);
    return out;
  }
  std::string Export(const std::string& name) {
    TkxDBGridExport& engine = form_->ExportHookup().Engine();
    engine.SetDesktop(&desktop_);
    desktop_.SelectAnswer = true;
    desktop_.SelectTypeAnswer = xtCSV;
    desktop_.SelectStyleAnswer = xsFile;
    engine.FileName.clear();
    desktop_.SaveAnswer = folder_ + "data/" + name;
    form_->mnu_action_report->trigger();
    return desktop_.SaveAnswer;
  }
  TkxHeadlessDesktop desktop_;
  const SlapdEnv* env_ = nullptr;
};

TEST_F(ResultsViewTest, HeaderClicksSortAndTheFilterKeepsRows) {
  QUORVEL_REQUIRE_SLAPD(*env_);
  StartWithPeople();
  Run();
  ASSERT_EQ(form_->grid->model()->rowCount(), 3006);
  const QStringList runOrder = Column(0);
  const QString title = form_->title->text();

  // employeeNumber holds whole numbers only: 9 before 10; the six people
  // without one come last, in both directions.
  ClickHeader(3);
  QStringList n = Column(3);
  EXPECT_EQ(n.mid(0, 11), QStringList({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"}));
  EXPECT_EQ(n[2999], "3000");
  EXPECT_EQ(n.mid(3000), QStringList(6, QString()));
  EXPECT_TRUE(Header()->isSortIndicatorShown());
  EXPECT_EQ(Header()->sortIndicatorOrder(), Qt::AscendingOrder);
  ClickHeader(3);
  n = Column(3);
  EXPECT_EQ(n.first(), "3000");
  EXPECT_EQ(n[2999], "1");
  EXPECT_EQ(n.mid(3000), QStringList(6, QString()));
  // The six without a number keep the DN order among themselves.
  QStringList tail = Column(0).mid(3000), sorted = tail;
  sorted.sort();
  EXPECT_EQ(tail, sorted);
  ClickHeader(3);
  EXPECT_EQ(Column(0), runOrder);
  EXPECT_FALSE(Header()->isSortIndicatorShown());

  // Text without regard to case: sn "User" (tuser) among the numbers' texts
  // (the ASCII ones: other letters go where the locale puts them).
  ClickHeader(2);
  QStringList sn;
  for (const QString& s : Column(2))
    if (std::all_of(s.begin(), s.end(), [](QChar c) { return c.unicode() < 128; })) sn << s;
  ASSERT_GT(sn.size(), 3000);
  for (int r = 1; r < sn.size(); ++r)
    ASSERT_LE(sn[r - 1].toLower().compare(sn[r].toLower()), 0) << r;

  // The filter: any shown column, any case; the title counts the rows.
  ClickHeader(2);
  ClickHeader(2);
  form_->find_results->trigger();
  EXPECT_TRUE(form_->resultsView->FilterBox()->hasFocus());
  QTest::keyClicks(form_->resultsView->FilterBox(), "USER 001");
  EXPECT_EQ(Column(1),
            QStringList({"User 0010", "User 0011", "User 0012", "User 0013", "User 0014",
                         "User 0015", "User 0016", "User 0017", "User 0018", "User 0019"}));
  EXPECT_EQ(form_->title->text(), title.chopped(1) + " (showing 10)");
  // Narrowed to one column: sn holds no "user 001".
  QComboBox* only = form_->resultsView->FilterColumn();
  only->setCurrentIndex(only->findText("sn"));
  EXPECT_EQ(form_->grid->model()->rowCount(), 0);
  EXPECT_EQ(form_->title->text(), title.chopped(1) + " (showing 0)");
  only->setCurrentIndex(0);
  QTest::keyClick(form_->resultsView->FilterBox(), Qt::Key_Escape);
  EXPECT_TRUE(form_->resultsView->FilterBox()->text().isEmpty());
  EXPECT_EQ(form_->grid->model()->rowCount(), 3006);
  EXPECT_EQ(form_->title->text(), title);
}

TEST_F(ResultsViewTest, TheLayoutIsSavedReportsHoldWhatIsShownAndCellsCopy) {
  QUORVEL_REQUIRE_SLAPD(*env_);
  StartWithPeople();
  Run();
  ASSERT_EQ(form_->grid->model()->rowCount(), 3006);
  const std::string plain = Export("plain.csv");

  // mail hidden through the header's menu, sn moved first, sorted by cn
  // descending, a filter typed.
  HeaderMenuChoose("mail");
  EXPECT_TRUE(Header()->isSectionHidden(4));
  Header()->moveSection(Header()->visualIndex(2), 0);
  ClickHeader(1);
  ClickHeader(1);
  QTest::keyClicks(form_->resultsView->FilterBox(), "user 00");
  const std::string shown = Export("shown.csv");
  const std::string script =
      "import csv,sys\n"
      "rd=lambda p: list(csv.reader(open(p,newline='',encoding='utf-8')))\n"
      "whole=rd(sys.argv[1]); got=rd(sys.argv[2])\n"
      "head=whole[0]; rows=[dict(zip(head,r)) for r in whole[1:]]\n"
      "cols=['sn','oid','cn','employeeNumber']\n"
      "rows=[r for r in rows if any('user 00' in r[c].lower() for c in cols)]\n"
      "rows.sort(key=lambda r: r['oid'])\n"
      "rows.sort(key=lambda r: r['cn'].lower(), reverse=True)\n"
      "want=[cols]+[[r[c] for c in cols] for r in rows]\n"
      "sys.exit(0 if got==want and len(want)>50 else 1)\n";
  const std::string check = folder_ + "check.py";
  {
    QFile f(QString::fromStdString(check));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(script.c_str());
  }
  EXPECT_EQ(std::system(("python3 '" + check + "' '" + plain + "' '" + shown + "'").c_str()), 0);

  // Ctrl+C: the selected cells in the order shown; one cell alone.
  QTest::keyClick(form_->resultsView->FilterBox(), Qt::Key_Escape);
  auto* sel = form_->grid->selectionModel();
  auto* m = form_->grid->model();
  sel->select(QItemSelection(m->index(0, 0), m->index(1, 2)), QItemSelectionModel::ClearAndSelect);
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  form_->grid->setFocus();
  seam_->Clear();
  QTest::keyClick(form_->grid, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(seam_->clipboard, Cell(0, 2) + "\t" + Cell(0, 0) + "\t" + Cell(0, 1) + "\n" +
                                  Cell(1, 2) + "\t" + Cell(1, 0) + "\t" + Cell(1, 1) + "\n");
  sel->select(m->index(5, 1), QItemSelectionModel::ClearAndSelect);
  QTest::keyClick(form_->grid, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(seam_->clipboard, Cell(5, 1));
  EXPECT_TRUE(seam_->Infos().isEmpty());
  EXPECT_EQ(form_->resultsView->RowText(5),
            Cell(5, 2) + "\t" + Cell(5, 0) + "\t" + Cell(5, 1) + "\t" + Cell(5, 3));
  EXPECT_EQ(form_->resultsView->DnText(5), Cell(5, 0));

  // The layout went to the catalogue and comes back with the next run.
  form_->resultsView->FlushView();
  const std::vector<std::string> saved = CatalogueRows("profiles", "view");
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_NE(saved[0].find("hidden\tmail"), std::string::npos) << saved[0];
  EXPECT_NE(saved[0].find("sort\tdesc\tcn"), std::string::npos) << saved[0];
  const QStringList before = Column(1);
  Run();
  ASSERT_EQ(form_->grid->model()->rowCount(), 3006);
  EXPECT_TRUE(Header()->isSectionHidden(4));
  EXPECT_EQ(Header()->logicalIndex(0), 2);
  EXPECT_EQ(Column(1), before);
  EXPECT_EQ(Header()->sortIndicatorSection(), 1);

  // Reset view: today's layout, saved as nothing, and today's report again.
  HeaderMenuChoose("Reset view");
  EXPECT_FALSE(Header()->isSectionHidden(4));
  EXPECT_EQ(Header()->logicalIndex(0), 0);
  EXPECT_EQ(CatalogueRows("profiles", "view"), std::vector<std::string>{"view="});
  const std::string again = Export("again.csv");
  auto lines = [](const std::string& path) {
    QFile f(QString::fromStdString(path));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll();
  };
  EXPECT_EQ(lines(again), lines(plain));
}

}  // namespace
