// The export windows and the grid row source, offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include "dialogs/uiseam.h"
#include "export/datasetsource.h"
#include "export/ui/gridsource.h"
#include "export/ui/progressform.h"
#include "export/ui/qtdesktop.h"
#include "export/ui/selectionform.h"
#include "export_support.h"
#include "sqlstore/database.h"
#include "sqlstore/dataset.h"

using namespace quorvel::test;

namespace {

// One application for the whole run, gone before the program's exit handlers
// run (the toolkit's own globals are destroyed by then).
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { app_ = std::make_unique<QApplication>(argc_, argv_); }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[16] = "test_export_ui";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};
[[maybe_unused]] ::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class RecordingSeam : public TUiSeam {
 public:
  bool MessageBox(QWidget*, BoxKind, const QString&, const QString& text) override {
    boxes << text;
    return true;
  }
  QString SaveFileName(QWidget*, const QString&, const QString& f, const QString& ext,
                       const QString&) override {
    filter = f;
    defaultExt = ext;
    return answer;
  }
  bool SetClipboardText(const QString& text) override {
    clipboard = text;
    return true;
  }
  bool OpenUrl(const QString& path) override {
    opened << path;
    return true;
  }
  QStringList boxes, opened;
  QString filter, defaultExt, clipboard, answer;
};

class ExportUi : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigureReportExport(engine, "/tmp/");
    previous = SetUiSeam(&seam);
  }
  void TearDown() override { SetUiSeam(previous); }
  TkxDBGridExport engine;
  RecordingSeam seam;
  TUiSeam* previous = nullptr;
};

TEST_F(ExportUi, SelectionWindowListsFormatsAndFollowsTheChoice) {
  Tfrm_Selection form;
  form.Prepare(engine);
  EXPECT_EQ(form.windowTitle(), "Exporting DBGrid");
  EXPECT_EQ(form.size(), QSize(322, 123));
  EXPECT_EQ(form.GroupBox->title(), " E&xport formats: ");
  EXPECT_EQ(form.GroupBox->geometry(), QRect(8, 8, 225, 113));
  EXPECT_EQ(form.btn_Selection->geometry(), QRect(240, 8, 75, 25));
  EXPECT_EQ(form.btn_Cancel->geometry(), QRect(240, 40, 75, 25));
  EXPECT_EQ(form.btn_Selection->text(), "&Export");
  EXPECT_TRUE(form.btn_Selection->isDefault());
  ASSERT_EQ(form.FormatList->count(), 14);
  EXPECT_EQ(form.FormatList->itemText(0), "HTML");
  EXPECT_EQ(form.FormatList->itemText(10), "Clipboard");
  EXPECT_EQ(form.FormatList->itemText(11), "Excel Workbook");
  EXPECT_EQ(form.FormatList->itemText(12), "LDIF (RFC 2849)");
  EXPECT_EQ(form.FormatList->itemText(13), "JSON Lines");
  EXPECT_EQ(form.FormatList->currentText(), "Microsoft Excel");
  EXPECT_EQ(form.Picture->Index(), 5);
  EXPECT_TRUE(form.rdo_File->isChecked());
  EXPECT_FALSE(form.rdo_View->isChecked());
  EXPECT_EQ(form.rdo_View->text(), "&View only");

  form.FormatList->setCurrentText("Clipboard");
  EXPECT_EQ(engine.ExportType, xtClipboard);
  EXPECT_FALSE(form.rdo_View->isEnabled());
  EXPECT_FALSE(form.rdo_File->isEnabled());
  EXPECT_EQ(form.Picture->Index(), 7);
  form.FormatList->setCurrentText("Excel Workbook");
  EXPECT_EQ(engine.ExportType, xtXLSX);
  EXPECT_EQ(form.Picture->Index(), 8);
  EXPECT_TRUE(form.rdo_View->isEnabled());
  form.FormatList->setCurrentText("LDIF");
  EXPECT_EQ(engine.ExportType, xtLDIF);
  EXPECT_TRUE(form.rdo_View->isEnabled());
  form.rdo_View->click();
  EXPECT_EQ(engine.ExportStyle, xsView);

  // Only the allowed formats are listed; the current one is always among them.
  engine.ExportTypes = TkxExportTypes{xtCSV};
  engine.ExportType = xtExcel;
  form.Prepare(engine);
  ASSERT_EQ(form.FormatList->count(), 2);
  EXPECT_EQ(form.FormatList->itemText(0), "Microsoft Excel");
  EXPECT_EQ(form.FormatList->itemText(1), "Comma-Separated Text");
  EXPECT_TRUE(form.rdo_View->isChecked());
}

TEST_F(ExportUi, EnterExportsAndEscapeCancels) {
  Tfrm_Selection form;
  QTimer::singleShot(0, &form, [&] { QTest::keyClick(&form, Qt::Key_Return); });
  EXPECT_TRUE(form.Execute(engine));
  QTimer::singleShot(0, &form, [&] { QTest::keyClick(&form, Qt::Key_Escape); });
  EXPECT_FALSE(form.Execute(engine));
  QTimer::singleShot(0, &form, [&] { form.btn_Cancel->click(); });
  EXPECT_FALSE(form.Execute(engine));
}

TEST_F(ExportUi, KeyboardStartsAtTheListAndTabsInTheLayoutsOrder) {
  Tfrm_Selection form;
  QStringList visited;
  auto walk = [&] {
    if (!QTest::qWaitForWindowActive(&form)) return;
    visited = {QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 4; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      visited.append(QApplication::focusWidget()->objectName());
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  };
  form.FormatList->setObjectName("FormatList");
  // The two choices are one stop (the arrow keys move between them).
  const QStringList expected{"FormatList", "rdo_View", "btn_Selection", "btn_Cancel", "FormatList"};
  QTimer::singleShot(0, &form, walk);
  EXPECT_FALSE(form.Execute(engine));
  EXPECT_EQ(visited, expected);
  // The next time it starts at the list again, wherever the focus was left.
  form.btn_Cancel->setFocus();
  QTimer::singleShot(0, &form, walk);
  EXPECT_FALSE(form.Execute(engine));
  EXPECT_EQ(visited, expected);
}

TEST_F(ExportUi, ProgressWindowGeometry) {
  Tfrm_ProgressForm form;
  TkxMessagesOptions m;
  form.Start(m, 500);
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.windowTitle(), "Exporting DBGrid");
  EXPECT_EQ(form.frameGeometry().size(), QSize(300, 80));
  EXPECT_EQ(form.ProgressLabel->pos(), QPoint(8, 8));
  EXPECT_EQ(form.ProgressLabel->text(), "Processing...");
  const int labelH = form.ProgressLabel->height();
  EXPECT_EQ(form.ProgressBar->geometry(),
            QRect(8, (80 - form.height()) + (form.height() - labelH - 16 - 16) / 2,
                  form.width() - 16, 16));
  EXPECT_EQ(form.ProgressBar->maximum(), 500);
  form.SetPosition(500);
  EXPECT_EQ(form.ProgressBar->value(), 500);
  form.Finish();
  EXPECT_FALSE(form.isVisible());

  m.Text.clear();
  m.Width = 200;
  form.Start(m, 0);
  EXPECT_FALSE(form.ProgressLabel->isVisible());
  EXPECT_EQ(form.frameGeometry().size(), QSize(200, 80));
  EXPECT_EQ(form.ProgressBar->geometry(), QRect(8, (80 - 16 - 16) / 2, form.width() - 16, 16));
}

TEST_F(ExportUi, GridSourceFollowsTheViewAndTheQtDesktopUsesTheSeam) {
  TASQLite3DB db;
  db.SetDriverDLL("libsqlite3.so.0");
  db.SetDatabase(":memory:");
  db.Open();
  db.ExecDirect("CREATE TABLE export (\"oid\" VARCHAR(1024),\"cn\" VARCHAR(1024),\"mail\")");
  db.ExecDirect("INSERT INTO export VALUES ('a','x','a@x'),('b','y','b@y'),('c','z','c@z')");
  TASQLite3Query run(&db);
  run.SetSQL("SELECT * FROM export ORDER BY oid ASC");
  run.Open();

  QStandardItemModel model(3, 3);
  model.setHorizontalHeaderLabels({"oid", "Common name", "mail"});
  QTableView grid;
  grid.setModel(&model);
  grid.setSelectionMode(QAbstractItemView::ExtendedSelection);
  grid.setColumnHidden(1, true);
  grid.horizontalHeader()->moveSection(2, 0);  // mail shown first
  grid.selectionModel()->setCurrentIndex(model.index(2, 0), QItemSelectionModel::NoUpdate);
  grid.selectionModel()->select(model.index(1, 0),
                                QItemSelectionModel::Select | QItemSelectionModel::Rows);

  TkxGridRowSource source(&grid, &run);
  TkxQtExportDesktop desktop;
  engine.DBGrid = &source;
  engine.SetDesktop(&desktop);
  engine.NowText = [] { return std::string(kNow); };
  EXPECT_EQ(engine.ColumnTitle(2), "Common name");
  EXPECT_EQ(engine.ColumnWidth(0), 255);  // the untyped mail column

  ExportTempDir dir;
  engine.ExportType = xtCSV;
  ASSERT_TRUE(engine.ExportToPath(dir.File("r.csv")));
  EXPECT_EQ(ReadAll(dir.File("r.csv")), "mail,oid\r\na@x,a\r\nb@y,b\r\nc@z,c\r\n");
  engine.Options.Include(xoSelectedRowsOnly);
  engine.Options.Include(xoExportInvisibles);
  ASSERT_TRUE(engine.ExportToPath(dir.File("s.csv")));
  EXPECT_EQ(ReadAll(dir.File("s.csv")), "mail,oid,\"Common name\"\r\nb@y,b,y\r\n");
  EXPECT_EQ(grid.currentIndex().row(), 2);
  EXPECT_TRUE(grid.updatesEnabled());

  // The clipboard goes through the seam, followed by the information box.
  engine.Options.Exclude(xoShowProgress);
  engine.ExportType = xtClipboard;
  engine.FileName = dir.File("x");
  engine.ExportToTarget();
  EXPECT_TRUE(seam.clipboard.startsWith("mail"));
  EXPECT_EQ(seam.boxes, QStringList{"Data was copied to clipboard!"});

  // The save dialog gets a filter the toolkit understands.
  engine.FileName.clear();
  engine.ExportType = xtCSV;
  desktop.Selection();  // created with the desktop and kept
  QTimer::singleShot(0, [&] { QTest::keyClick(&desktop.Selection(), Qt::Key_Return); });
  engine.RunExportDialog();
  EXPECT_EQ(seam.filter, "CSV (Comma delimited) (*.csv *.CSV)");
  EXPECT_EQ(seam.defaultExt, "csv");
  EXPECT_EQ(engine.LastRun().Result, TkxRunResult::roCancelled);
}

TEST_F(ExportUi, GridAndDatasetSourcesWriteIdenticalReports) {
  TASQLite3DB db;
  db.SetDriverDLL("libsqlite3.so.0");
  db.SetDatabase(":memory:");
  db.Open();
  db.ExecDirect("CREATE TABLE export (\"oid\" VARCHAR(1024),\"cn\")");
  db.ExecDirect("INSERT INTO export VALUES ('cn=a','Jürgen'),('cn=b',''),('cn=c','x, \"y\"')");
  TASQLite3Query run(&db);
  run.SetSQL("SELECT * FROM export ORDER BY oid ASC");
  run.Open();
  QStandardItemModel model(3, 2);
  model.setHorizontalHeaderLabels({"oid", "cn"});
  QTableView grid;
  grid.setModel(&model);
  TkxGridRowSource windowed(&grid, &run);
  TkxDatasetRowSource headless(&run);
  Exporter a(windowed), b(headless);
  ExportTempDir dir;
  for (int t = 0; t < kxExportTypeCount; ++t) {
    const auto type = static_cast<TkxExportType>(t);
    if (type == xtXLSX) continue;  // a workbook records the second it was made
    EXPECT_EQ(a.Write(type, dir.File("a")), b.Write(type, dir.File("b"))) << t;
  }
}

}  // namespace
