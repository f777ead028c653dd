// The main window against the private directory server: running profiles
// (rows, pane lines, status, title, failures), the connection test, and the
// directory browser with entry properties.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "app/guifixture.h"
#include "app/messagepane.h"
#include "common/scripted_directory.h"
#include "common/slapd_env.h"
#include "app/exporthookup.h"
#include "dialogs/serverform.h"
#include "export/kxexport.h"
#include "ldap/base64.h"
#include "store/connect.h"
#include "store/data.h"
#include "store/stagedtable.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

class RunTest : public TGuiTest {
 protected:
  void SetUp() override {
    TGuiTest::SetUp();
    env_ = &Slapd();
  }
  TServerRow Admin(const std::string& name, const std::string& basedn = "") const {
    return TServerRow(name, env_->host, env_->port, "N", env_->adminDn, env_->adminPw, basedn);
  }
  std::string People() const { return "ou=people," + env_->base; }
  // Selects the profile with the mouse and runs it from the toolbar.
  void RunProfile(const QStringList& path) {
    Click(form_->tv_workspace, Item(form_->tv_workspace, path));
    form_->tb_run->trigger();
  }
  // The pane lines from the first one starting with `from`.
  QStringList PaneFrom(const QString& from) {
    QStringList lines = form_->PaneLines();
    int i = lines.indexOf(from);
    return i < 0 ? QStringList() : lines.mid(i);
  }
  const SlapdEnv* env_ = nullptr;
};

TEST_F(RunTest, RunWritesOneRowPerEntryAndReportsEveryStep) {
  QUORVEL_REQUIRE_SLAPD(*env_);
  Catalogue({Admin("dir")},
            {{"few", 0, People(), 2, "(|(uid=tuser)(uid=smithj)(uid=user0010)(uid=juergen))",
              "cn;givenname; mail;description"}});
  Start();
  RunProfile({"dir", "few"});
  EXPECT_EQ(seam_->Texts(TUiSeam::bkQuestion),
            QStringList("This process may take several minutes depending on your query, do you "
                        "want to proceed?"));
  EXPECT_TRUE(seam_->Errors().isEmpty()) << seam_->Errors().join("\n").toStdString();
  EXPECT_EQ(seam_->Infos(), QStringList("Search completed..."));

  EXPECT_EQ(Columns(), QStringList({"oid", "cn", "givenname", " mail", "description"}));
  ASSERT_EQ(form_->grid->model()->rowCount(), 4);
  const std::string p = "," + People();
  // Sorted by DN; the requested "givenname" matches the server's givenName.
  EXPECT_EQ(Cell(0, 0).toStdString(), "cn=Smith\\2C John" + p);  // as the server writes it
  EXPECT_EQ(Cell(0, 2), "John");
  // Values holding double quotes are stored like any other; each value trimmed.
  EXPECT_EQ(Cell(0, 4), "[6\" pipe][\"Quoted\"][Smith, John][leading blank][trailing blank]");
  EXPECT_EQ(Cell(1, 0).toStdString(), "uid=juergen" + p);
  EXPECT_EQ(Cell(1, 1), QString::fromUtf8("Jürgen Müller"));
  EXPECT_EQ(Cell(2, 0).toStdString(), "uid=tuser" + p);
  EXPECT_EQ(Cell(2, 1), "Test User");
  EXPECT_EQ(Cell(2, 2), "Test");
  EXPECT_EQ(Cell(2, 3), "[tuser@quorvel.test][test.user@quorvel.test]");
  EXPECT_EQ(Cell(2, 4), "");  // no such attribute: an empty cell
  EXPECT_EQ(Cell(3, 3), "[user0010@quorvel.test][user0010@alt.quorvel.test]");

  EXPECT_EQ(form_->title->text().toStdString(),
            "Results from server \"" + env_->host + "\" on object \"" + People() +
                "\" with scope \"Sub Containers\" with filter "
                "\"(|(uid=tuser)(uid=smithj)(uid=user0010)(uid=juergen))\" returned 4 objects.");
  const QString host = QString::fromStdString(env_->host);
  EXPECT_EQ(PaneFrom(" MSG: Please wait..."),
            QStringList({" MSG: Please wait...", " MSG: Connecting to " + host + "...",
                         " MSG: Connected to " + host + "...", " MSG: Querying " + host + "...",
                         " MSG: Found 4 objects...", " MSG: Processing object 1 of 4...",
                         " MSG: Processing object 2 of 4...", " MSG: Processing object 3 of 4...",
                         " MSG: Processing object 4 of 4...", " APP: Search completed...",
                         " MSG: Search completed..."}));
  EXPECT_EQ(form_->StatusMessage, "MSG: Search completed...");
  EXPECT_EQ(form_->StatusKind, 0);
  EXPECT_EQ(form_->StatusHost, env_->host);
  EXPECT_EQ(form_->StatusUser, env_->adminDn);
  for (QAction* a : {form_->tb_export, form_->mnu_action_report, form_->mnu_file_exit,
                     form_->mnu_actions_run, form_->run_profile})
    EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
  EXPECT_EQ(form_->grid->columnWidth(1), 100);
}

TEST_F(RunTest, ExportReportsOnlyWhatReallyHappened) {
  QUORVEL_REQUIRE_SLAPD(*env_);
  Catalogue({Admin("dir")},
            {{"intl", 0, People(), 2, "(|(uid=tuser)(uid=ivan)(uid=nihon))", "cn;sn"}});
  Start();
  RunProfile({"dir", "intl"});
  ASSERT_EQ(form_->grid->model()->rowCount(), 3);
  TkxHeadlessDesktop desktop;
  TkxDBGridExport& engine = form_->ExportHookup().Engine();
  engine.SetDesktop(&desktop);
  auto lastLine = [&] { return form_->PaneLines().last(); };
  const QString before = lastLine();

  // Cancelling the selection window or the save dialog posts nothing.
  desktop.SelectAnswer = false;
  form_->tb_export->trigger();
  desktop.SelectAnswer = true;
  desktop.SelectTypeAnswer = xtCSV;
  desktop.SelectStyleAnswer = xsFile;
  desktop.SaveAnswer.clear();
  form_->mnu_action_report->trigger();
  EXPECT_EQ(lastLine(), before);
  EXPECT_TRUE(seam_->Errors().isEmpty());

  // A file that cannot be written: an error naming it, no success line.
  const std::string bad = folder_ + "no/such/folder/r.csv";
  desktop.SaveAnswer = bad;
  form_->mnu_action_report->trigger();
  ASSERT_EQ(seam_->Errors().size(), 1);
  EXPECT_TRUE(seam_->Errors()[0].contains(QString::fromStdString(bad)));
  EXPECT_FALSE(lastLine().contains("Exported successfuly"));

  // Written: the success line names the file, which holds the rows.
  const std::string good = folder_ + "data/r.csv";
  desktop.SaveAnswer = good;
  form_->mnu_action_report->trigger();
  EXPECT_EQ(lastLine().toStdString(), " MSG: Exported successfuly to \"" + good + "\"");
  QFile csv(QString::fromStdString(good));
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
  EXPECT_TRUE(QString::fromUtf8(csv.readAll()).contains("Test User"));

  // The chosen name is reused with the new format's extension: the line names
  // the file actually written, not the first one.
  desktop.SelectTypeAnswer = xtRTF;
  form_->mnu_action_report->trigger();
  EXPECT_EQ(lastLine().toStdString(),
            " MSG: Exported successfuly to \"" + folder_ + "data/r.rtf\"");
  EXPECT_TRUE(QFile::exists(QString::fromStdString(folder_ + "data/r.rtf")));

  // "View only": the line names the temporary file; with no application to
  // open it, the user is told so.
  desktop.SelectTypeAnswer = xtCSV;
  desktop.SelectStyleAnswer = xsView;
  desktop.OpenWorks = false;
  seam_->Clear();
  form_->mnu_action_report->trigger();
  ASSERT_EQ(desktop.Opened.size(), 1u);
  const std::string viewed = desktop.Opened.back();
  EXPECT_NE(viewed.find(folder_ + "data/"), std::string::npos) << viewed;
  EXPECT_TRUE(form_->PaneLines().contains(" MSG: Exported successfuly to \"" +
                                          QString::fromStdString(viewed) + "\""));
  ASSERT_EQ(seam_->Errors().size(), 1);
  EXPECT_TRUE(seam_->Errors()[0].startsWith("The report was written to \"" +
                                            QString::fromStdString(viewed) +
                                            "\", but it could not be opened for viewing"));
  desktop.OpenWorks = true;
  seam_->Clear();
  form_->mnu_action_report->trigger();
  EXPECT_TRUE(seam_->Errors().isEmpty());
  desktop.SelectStyleAnswer = xsFile;

  // Characters the Excel file cannot hold are counted and a better format named.
  desktop.SelectTypeAnswer = xtExcel;
  engine.FileName.clear();  // a chosen name is reused; start afresh for the new format
  desktop.SaveAnswer = folder_ + "data/r.xls";
  form_->mnu_action_report->trigger();
  EXPECT_EQ(form_->StatusKind, 1);
  EXPECT_TRUE(lastLine().contains("CSV or HTML")) << lastLine().toStdString();
  EXPECT_TRUE(form_->PaneLines().contains(" MSG: Exported successfuly to \"" +
                                          QString::fromStdString(folder_) + "data/r.xls\""));
}

TEST_F(RunTest, CtrlCCopiesTheResultsAndInThePaneItsLines) {
  QUORVEL_REQUIRE_SLAPD(*env_);
  Catalogue({Admin("dir")}, {{"two", 0, People(), 2, "(|(uid=tuser)(uid=smithj))", "cn;sn"}});
  Start();
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  // Nothing to copy before a run.
  EXPECT_FALSE(form_->copy_results->isEnabled());
  RunProfile({"dir", "two"});
  ASSERT_EQ(form_->grid->model()->rowCount(), 2);
  seam_->Clear();
  form_->grid->setFocus();
  QTest::keyClick(form_->grid, Qt::Key_C, Qt::ControlModifier);
  // The clipboard format, as "Export Report" writes it; the format chosen
  // there is left alone.
  EXPECT_TRUE(seam_->clipboard.contains("Test User")) << seam_->clipboard.toStdString();
  EXPECT_TRUE(seam_->clipboard.contains("\r\n"));
  EXPECT_EQ(seam_->Infos(), QStringList("Data was copied to clipboard!"));
  EXPECT_EQ(form_->ExportHookup().Engine().ExportType, xtExcel);
  // In the message pane Ctrl+C copies the pane's lines.
  form_->rt_msg->setFocus();
  QTest::keyClick(form_->rt_msg, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(seam_->clipboard, form_->PaneLines().join('\n'));
}

TEST_F(RunTest, RowsPublishedByAnotherProgramLeaveTheShownRowsAlone) {
  QUORVEL_REQUIRE_SLAPD(*env_);
  Catalogue({Admin("dir")}, {{"two", 0, People(), 2, "(|(uid=tuser)(uid=smithj))", "cn;sn"}});
  Start();
  RunProfile({"dir", "two"});
  ASSERT_EQ(form_->grid->model()->rowCount(), 2);
  // Another program on the same working store publishes its own run's rows
  // meanwhile, through a connection of its own.
  {
    TASQLite3DB other;
    other.SetDriverDLL(module_->temp.DriverDLL());
    other.SetDatabase(folder_ + "lib/dump.db");
    other.BusyTimeout = kWorkingStoreBusyMs;
    other.Open();
    TStagedExportTable stage(other);
    ASSERT_TRUE(stage.Create("oid;cn;sn")) << stage.Error();
    ASSERT_TRUE(stage.Append({"1", "Somebody Else", "Else"}));
    ASSERT_TRUE(stage.Publish(TStagedExportTable::psMove)) << stage.Error();
  }
  // The rows copied (read again from the store, in one walk) are this run's.
  seam_->Clear();
  form_->grid->setFocus();
  QTest::keyClick(form_->grid, Qt::Key_C, Qt::ControlModifier);
  EXPECT_TRUE(seam_->clipboard.contains("Test User")) << seam_->clipboard.toStdString();
  EXPECT_FALSE(seam_->clipboard.contains("Somebody Else")) << seam_->clipboard.toStdString();
  EXPECT_EQ(form_->grid->model()->rowCount(), 2);
}

TEST_F(RunTest, ZeroEntriesAndSizeLimitAreReportedButEnableExport) {
  QUORVEL_REQUIRE_SLAPD(*env_);
  Catalogue({Admin("dir"),
             TServerRow("limited", env_->host, env_->port, "N", env_->userDn, env_->userPw)},
            {{"none", 0, "ou=empty," + env_->base, 1, "(objectClass=*)", "cn"},
             {"many", 1, People(), 1, "(objectClass=person)", "cn;sn"}});
  Start();
  RunProfile({"dir", "none"});
  EXPECT_EQ(seam_->Infos(), QStringList("No objects found..."));
  EXPECT_EQ(form_->StatusMessage, "MSG: No objects found...");
  EXPECT_EQ(form_->StatusKind, 1);
  EXPECT_EQ(form_->grid->model()->columnCount(), 0);
  EXPECT_TRUE(form_->mnu_action_report->isEnabled());
  EXPECT_TRUE(form_->title->text().endsWith("returned 0 objects."));

  // The normal user hits the server's size limit: the rows received are kept
  // and the closing box names the result code.
  seam_->Clear();
  RunProfile({"limited", "many"});
  EXPECT_EQ(form_->grid->model()->rowCount(), env_->sizeLimit);
  const QStringList errors = seam_->Errors();
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors[0].startsWith(
      "Search complete but an error was encountered!!\r\n\r\nError "
      "querying \"" +
      QString::fromStdString(env_->host) + "\" \r\n    ErrorCode: 4\r\n    ErrorDesc: "))
      << errors[0].toStdString();
  EXPECT_TRUE(form_->tb_export->isEnabled());
}

TEST_F(RunTest, FailedRunsSayWhatFailedAndLeaveTheWindowUsable) {
  QUORVEL_REQUIRE_SLAPD(*env_);
  struct Case {
    const char* what;
    TServerRow server;
    std::string base, filter;
    int kind;                   // StatusKind of the last pane line
    const char* lastLine;       // StatusMessage afterwards ("%h" = host)
    const char* errorContains;  // in the one error box
  };
  const std::string h = env_->host;
  const Case cases[] = {
      {"closed port", TServerRow("s", h, 1), People(), "(uid=tuser)", 2,
       "ERR: Error connecting to %h...", "Error connecting to \""},
      {"empty host", TServerRow("s", "", env_->port), People(), "(uid=tuser)", 2,
       "ERR: Error connecting to ...", "Error connecting to \"\""},
      {"wrong password", TServerRow("s", h, env_->port, "N", env_->adminDn, "nope"), People(),
       "(uid=tuser)", 2, "ERR: Error connecting to %h...", "ErrorCode: 49"},
      {"filter that does not parse", Admin("s"), People(), "(cn=", 1, "MSG: No objects found...",
       "the filter \"(cn=\" is not a valid search filter."},
      {"base that does not exist", Admin("s"), "ou=nowhere," + env_->base, "(cn=*)", 1,
       "MSG: No objects found...", "ErrorCode: 32"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    Catalogue({c.server}, {{"p", 0, c.base, 2, c.filter, "cn"}});
    Start();
    RunProfile({"s", "p"});
    const QStringList errors = seam_->Errors();
    ASSERT_EQ(errors.size(), 1) << form_->PaneLines().join("\n").toStdString();
    EXPECT_TRUE(errors[0].contains(c.errorContains)) << errors[0].toStdString();
    EXPECT_EQ(QString::fromStdString(form_->StatusMessage),
              QString(c.lastLine).replace("%h", QString::fromStdString(h)));
    EXPECT_EQ(form_->StatusKind, c.kind);
    EXPECT_FALSE(form_->mnu_action_report->isEnabled());
    EXPECT_TRUE(form_->mnu_actions_run->isEnabled());
    EXPECT_TRUE(form_->mnu_file_exit->isEnabled());
    EXPECT_EQ(form_->grid->model()->columnCount(), 0);
    EXPECT_EQ(CatalogueRows("profiles", "name,basedn,filter").size(), 1u);
  }
}

// A working store that runs out of room while a run stores its rows: the run
// fails with a pane line naming the store and the reason, nothing is shown as
// found, and `export` keeps the last run's rows.
TEST_F(RunTest, AFullWorkingStoreFailsTheRunAndKeepsTheLastRows) {
  QUORVEL_REQUIRE_SLAPD(*env_);
  Catalogue({Admin("dir")}, {{"few", 0, People(), 2, "(|(uid=tuser)(uid=juergen))", "cn"},
                             {"many", 0, People(), 2, "(objectClass=person)", "cn;mail;sn"}});
  Start();
  RunProfile({"dir", "few"});
  ASSERT_EQ(form_->grid->model()->rowCount(), 2);
  auto exportRows = [&] {
    TASQLite3Query q(&module_->temp);
    q.SetSQL("SELECT oid FROM export ORDER BY oid");
    q.Open();
    std::vector<std::string> rows;
    for (int r = 0; r < q.RecordCount(); ++r) rows.emplace_back(q.CellText(r, 0));
    return rows;
  };
  const std::vector<std::string> last = exportRows();
  ASSERT_EQ(last.size(), 2u);
  // A size cap on the file stands in for a full disk.
  TASQLite3Query pages(&module_->temp);
  pages.SetSQL("PRAGMA page_count");
  pages.Open();
  const int count = std::stoi(std::string(pages.CellText(0, 0)));
  pages.Close();
  module_->temp.ExecDirect("PRAGMA max_page_count = " + std::to_string(count + 3));

  seam_->Clear();
  RunProfile({"dir", "many"});
  const std::string line = "ERR: The rows could not be stored in the working store " + folder_ +
                           "lib/dump.db: database or disk is full. The last run's rows are kept.";
  EXPECT_EQ(form_->StatusMessage, line);
  EXPECT_EQ(form_->StatusKind, 2);
  EXPECT_TRUE(seam_->Infos().isEmpty()) << seam_->Infos().join("\n").toStdString();
  EXPECT_EQ(form_->PaneLines().count(" MSG: Search completed..."), 1);  // the first run's
  // The grid and the export commands keep the last run's rows.
  EXPECT_TRUE(form_->mnu_action_report->isEnabled());
  EXPECT_TRUE(form_->copy_results->isEnabled());
  EXPECT_TRUE(form_->mnu_actions_run->isEnabled());
  EXPECT_EQ(form_->grid->model()->rowCount(), 2);
  EXPECT_EQ(form_->grid->model()->columnCount(), 2);
  EXPECT_EQ(exportRows(), last);

  // With room again the next run stores every row.
  module_->temp.ExecDirect("PRAGMA max_page_count = 1000000");
  RunProfile({"dir", "many"});
  EXPECT_GT(form_->grid->model()->rowCount(), 3000);
  EXPECT_EQ(form_->StatusMessage, "MSG: Search completed...");
}

TEST_F(RunTest, AProfileWithoutAFilterAsksForEveryObject) {
  QUORVEL_REQUIRE_SLAPD(*env_);
  Catalogue({Admin("dir")}, {{"nofilter", 0, "uid=tuser," + People(), 0, "", "cn"}});
  Start();
  RunProfile({"dir", "nofilter"});
  EXPECT_TRUE(seam_->Errors().isEmpty()) << seam_->Errors().join("|").toStdString();
  ASSERT_EQ(form_->grid->model()->rowCount(), 1);
  EXPECT_EQ(Cell(0, 1), "Test User");
}

TEST_F(RunTest, SslServerRunsOverLdaps) {
  QUORVEL_REQUIRE_SLAPD(*env_);
  Catalogue({TServerRow("tls", env_->host, env_->ldapsPort, "Y", env_->adminDn, env_->adminPw)},
            {{"me", 0, People(), 2, "(uid=tuser)", "cn"}});
  Start();
  RunProfile({"tls", "me"});
  EXPECT_TRUE(seam_->Errors().isEmpty()) << seam_->Errors().join("|").toStdString();
  ASSERT_EQ(form_->grid->model()->rowCount(), 1);
  EXPECT_EQ(Cell(0, 1), "Test User");
}

TEST_F(RunTest, AnsweringNoRunsNothing) {
  QUORVEL_REQUIRE_SLAPD(*env_);
  Catalogue({Admin("dir")}, {{"p", 0, People(), 2, "(uid=tuser)", "cn"}});
  Start();
  const int lines = form_->PaneLines().size();
  seam_->answers = {false};
  RunProfile({"dir", "p"});
  EXPECT_EQ(form_->PaneLines().size(), lines);
  EXPECT_EQ(form_->title->text(), "LDAP Search Results");
}

TEST_F(RunTest, ConnectionTestFromTheServerDialog) {
  QUORVEL_REQUIRE_SLAPD(*env_);
  Catalogue({Admin("dir")});
  Start();
  Click(form_->tv_workspace, Item(form_->tv_workspace, {"dir"}));
  seam_->dialogs.push_back([](QDialog& d) {
    auto& f = static_cast<TServerForm&>(d);
    f.btntest->click();
    f.ed_pwd->setText("wrong");
    f.btntest->click();
    f.ed_port->setText("1");
    f.btntest->click();
    f.btncancel->click();
  });
  form_->tb_test->trigger();
  EXPECT_EQ(seam_->dialogsShown, 1);
  EXPECT_EQ(seam_->Infos(), QStringList("Connection successful..."));
  const QStringList errors = seam_->Errors();
  ASSERT_EQ(errors.size(), 2);
  const QString head = "Error connecting to \"" + QString::fromStdString(env_->host) + "\" \r\n";
  EXPECT_TRUE(errors[0].startsWith(head + "    ErrorCode: 49\r\n    ErrorDesc: "));
  EXPECT_TRUE(errors[1].startsWith(head + "    ErrorCode: "));
  EXPECT_GT(errors[1].size(), head.size() + 30);  // the reason is named
  EXPECT_TRUE(form_->PaneLines().contains(" APP: Connection successful..."));
  // A run meeting the same refused port reports it in the same words.
  seam_->Clear();
  TServerNodeData refused;
  refused.server = env_->host;
  refused.port = 1;
  refused.uid = env_->adminDn;
  refused.pwd = "wrong";
  EXPECT_EQ(ConnectServer(refused), nullptr);
  EXPECT_EQ(seam_->Errors(), QStringList(errors[1]));
  EXPECT_TRUE(errors[1].contains("ErrorCode: 10061")) << errors[1].toStdString();
}

TEST_F(RunTest, DirectoryValuesShowReadablyInTheGridAndProperties) {
  // The grid shows what the profile's setting gives (on for a new profile);
  // Properties lists every value readably, its type and raw size as ever.
  QUORVEL_REQUIRE_SLAPD(*env_);
  const std::string ad = "ou=ad," + env_->base;
  Catalogue({Admin("dir", ad)},
            {{"ad", 0, ad, 1, "(cn=Administrator)", "objectSid;objectGUID;pwdLastSet;sIDHistory"}});
  Start();
  RunProfile({"dir", "ad"});
  ASSERT_EQ(form_->grid->model()->rowCount(), 1);
  EXPECT_EQ(Cell(0, 1), "S-1-5-21-3623811015-3361044348-30300820-500");
  EXPECT_EQ(Cell(0, 2), "1effbc1e-4aa3-4f9d-a508-d4d81f1f5873");
  EXPECT_EQ(Cell(0, 3), "2026-12-08 17:37:23");
  EXPECT_EQ(Cell(0, 4), "[S-1-5-21-1-2-3-1106][S-1-5-32-544]");

  form_->tabs->setCurrentIndex(1);
  QApplication::processEvents();
  auto* br = form_->tv_browse;
  Click(br, Item(br, {"dir"}));
  form_->o_browse->trigger();
  const QString admin = QString::fromStdString("cn=Administrator," + ad);
  ASSERT_NE(Item(br, {"dir", admin}), nullptr);
  Click(br, Item(br, {"dir", admin}));
  form_->o_properties->trigger();
  QStringList rows;
  for (int r = 0; r < form_->grid->model()->rowCount(); ++r)
    if (Cell(r, 1) == "objectSid" || Cell(r, 1) == "objectGUID" || Cell(r, 1) == "whenCreated")
      rows.append(Cell(r, 1) + "|" + Cell(r, 2) + "|" + Cell(r, 3) + "|" + Cell(r, 4));
  EXPECT_EQ(rows, QStringList({"objectGUID|1effbc1e-4aa3-4f9d-a508-d4d81f1f5873|BINARY|16",
                               "objectSid|S-1-5-21-3623811015-3361044348-30300820-500|BINARY|28",
                               "whenCreated|2026-12-08 17:37:23|TEXT|17"}));
}

TEST_F(RunTest, BrowseTwoLevelsThenListProperties) {
  QUORVEL_REQUIRE_SLAPD(*env_);
  Catalogue({Admin("tree", "ou=tree," + env_->base), Admin("people", People())});
  Start();
  form_->tabs->setCurrentIndex(1);
  QApplication::processEvents();
  auto* br = form_->tv_browse;
  const std::string t = ",ou=tree," + env_->base;
  const QString a = QString::fromStdString("ou=a" + t);
  for (int round = 0; round < 2; ++round) {  // browsing again lists each child once
    Click(br, Item(br, {"tree"}));
    form_->o_browse->trigger();
    EXPECT_EQ(Captions(Item(br, {"tree"})), QStringList({a, QString::fromStdString("ou=b" + t)}));
  }
  Click(br, Item(br, {"tree", a}));
  EXPECT_EQ(OpenPopup(br, Item(br, {"tree", a})), QStringList({"Browse", "Properties"}));
  form_->o_browse->trigger();
  EXPECT_EQ(Captions(Item(br, {"tree", a})),
            QStringList({QString::fromStdString("cn=leaf1,ou=a" + t),
                         QString::fromStdString("cn=leaf2,ou=a" + t)}));
  ASSERT_TRUE(Item(br, {"tree", a}) && Item(br, {"tree", a})->childCount() > 0);
  TNodeData* leaf = NodeData(Item(br, {"tree", a})->child(0));
  ASSERT_TRUE(leaf && leaf->server);
  EXPECT_EQ(leaf->kind, 2);
  EXPECT_EQ(leaf->name, "tree");
  EXPECT_EQ(leaf->server->basedn, "cn=leaf1,ou=a" + t);
  EXPECT_TRUE(form_->PaneLines().contains(" Found 2 objects..."));

  // Properties of an entry with binary and two-valued attributes.
  Click(br, Item(br, {"people"}));
  form_->o_browse->trigger();
  const QString tuser = QString::fromStdString("uid=tuser," + People());
  ASSERT_NE(Item(br, {"people", tuser}), nullptr);
  Click(br, Item(br, {"people", tuser}));
  seam_->Clear();
  form_->o_properties->trigger();
  EXPECT_TRUE(seam_->boxes.empty());
  EXPECT_EQ(Columns(), QStringList({"Icon", "Name", "Value", "Type", "Size"}));
  EXPECT_TRUE(form_->grid->isColumnHidden(0));
  EXPECT_TRUE(form_->tb_export->isEnabled());
  EXPECT_EQ(form_->title->text(),
            "Results from server \"" + QString::fromStdString(env_->host) + "\" on object \"" +
                tuser + "\" with scope \"Base Object\" and filter \"(objectClass=*)\".");
  QStringList phones, types;
  bool certSeen = false;
  for (int r = 0; r < form_->grid->model()->rowCount(); ++r) {
    if (Cell(r, 1) == "telephoneNumber") phones.append(Cell(r, 2));
    if (Cell(r, 1).startsWith("userCertificate")) {
      certSeen = true;
      EXPECT_EQ(Cell(r, 3), "BINARY");
      const std::string raw = DecodeBase64(Cell(r, 2).toStdString());
      // The size counts the raw octets, the text shows them without blanks at the ends.
      EXPECT_GE(Cell(r, 4).toInt(), static_cast<int>(raw.size()));
      EXPECT_LE(Cell(r, 4).toInt(), static_cast<int>(raw.size()) + 2);
      EXPECT_EQ(static_cast<unsigned char>(raw.at(0)), 0x30);  // DER sequence
    }
    EXPECT_EQ(Cell(r, 0), "0");
  }
  EXPECT_TRUE(certSeen);
  EXPECT_EQ(phones, QStringList({"+1 555 1000", "+1 555 1001"}));
  EXPECT_EQ(form_->StatusMessage, "Process complete...");
}

// Another program on the same working store lists entries over and over
// (its own connection replacing `property` with rows of its own): every
// listing of this window shows exactly its entry's attributes.
TEST_F(RunTest, AnotherProgramListingAtTheSameTimeNeverMixesTheProperties) {
  QUORVEL_REQUIRE_SLAPD(*env_);
  const std::string a = "ou=a,ou=tree," + env_->base;
  Catalogue({Admin("a", a)});
  Start();
  form_->tabs->setCurrentIndex(1);
  auto* br = form_->tv_browse;
  Click(br, Item(br, {"a"}));
  form_->o_browse->trigger();
  const QString leaf = QString::fromStdString("cn=leaf1," + a);
  ASSERT_NE(Item(br, {"a", leaf}), nullptr);
  Click(br, Item(br, {"a", leaf}));

  std::atomic<bool> stop{false};
  std::atomic<int> rounds{0};
  std::thread other([&] {
    TASQLite3DB c;
    c.SetDriverDLL(folder_ + "lib/quorvel.so");
    c.SetDatabase(folder_ + "lib/dump.db");
    c.BusyTimeout = kWorkingStoreBusyMs;
    c.Open();
    while (!stop) {
      try {
        c.ExecDirect(
            "DROP TABLE IF EXISTS property; CREATE TABLE property (Icon,Name,Value,Type,Size)");
        for (int k = 0; k < 5; ++k)
          c.ExecDirect("INSERT INTO property VALUES ('0','foreign','x','TEXT','1')");
        ++rounds;
      } catch (const std::exception&) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  QStringList first;
  for (int i = 0; i < 12; ++i) {
    form_->o_properties->trigger();
    QStringList names;
    for (int r = 0; r < form_->grid->model()->rowCount(); ++r) names.append(Cell(r, 1));
    if (i == 0) first = names;
    EXPECT_EQ(names.join(",").toStdString(), first.join(",").toStdString()) << "listing " << i;
  }
  stop = true;
  other.join();
  EXPECT_GT(rounds.load(), 0);
  EXPECT_TRUE(first.contains("cn")) << first.join(",").toStdString();
  EXPECT_FALSE(first.contains("foreign"));
}

TEST_F(RunTest, BrowseOfAnUnreachableServerLeavesTheNodeEmpty) {
  QUORVEL_REQUIRE_SLAPD(*env_);
  Catalogue({TServerRow("gone", env_->host, 1, "N", "", "", env_->base)});
  Start();
  auto* br = form_->tv_browse;
  Click(br, Item(br, {"gone"}));
  form_->o_browse->trigger();
  EXPECT_EQ(seam_->Errors().size(), 1);
  EXPECT_EQ(form_->StatusKind, 2);
  EXPECT_EQ(Item(br, {"gone"})->childCount(), 0);
  form_->o_browse->trigger();  // still usable
  EXPECT_EQ(seam_->Errors().size(), 2);
}

// An identity capped at 1000 entries a plain search (paged searches get
// everything): Run and Browse show every entry and say so in the pane.
TEST_F(RunTest, CappedDirectoryIsReadInPagesForRunAndBrowse) {
  QUORVEL_REQUIRE_SLAPD(*env_);
  ASSERT_FALSE(env_->cappedDn.empty());
  TServerRow capped("capped", env_->host, env_->port, "N", env_->cappedDn, env_->cappedPw,
                    People());
  Catalogue({capped}, {{"people", 0, People(), 1, "(objectClass=*)", "cn"}});
  Start();
  const QString line = " MSG: The size limit of \"" + QString::fromStdString(env_->host) +
                       "\" was reached after 1000 entries; the rest is read in pages of 1000 "
                       "entries...";
  RunProfile({"capped", "people"});
  EXPECT_TRUE(seam_->Errors().isEmpty()) << seam_->Errors().join("\n").toStdString();
  EXPECT_EQ(form_->grid->model()->rowCount(), 3006);
  EXPECT_EQ(form_->PaneLines().count(line), 1);

  form_->tabs->setCurrentIndex(1);
  QApplication::processEvents();
  auto* br = form_->tv_browse;
  Click(br, Item(br, {"capped"}));
  form_->o_browse->trigger();
  EXPECT_EQ(Item(br, {"capped"})->childCount(), 3006);
  EXPECT_EQ(form_->PaneLines().count(line), 2);
  EXPECT_TRUE(seam_->Errors().isEmpty());
}

// The window's run of searches that take more than one request, or bring
// nothing: the rows, the title and every pane line in order, whatever the
// search went through. The entries are counted as they become rows, so the
// lines that need their number come once the search has ended.
TEST_F(RunTest, EveryKindOfSearchKeepsItsRowsAndItsPaneLines) {
  const std::string base = "ou=people,o=x";
  const std::vector<std::string> members = Members(3200);
  struct Case {
    const char* what;
    int people, sizeLimit, maxValues;
    int rows;
    bool paged;
  } cases[] = {
      {"a plain search", 30, 0, 0, 30, false},
      {"read again in pages after the cap", 2500, 1000, 0, 2500, true},
      {"values in ranges", 5, 0, 1500, 6, false},
      {"no entry at all", 0, 0, 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    ScriptedDirectory dir;
    dir.SizeLimit = c.sizeLimit;
    dir.MaxValues = c.maxValues;
    std::string last;  // the greatest DN: the grid's last row
    for (int i = 0; i < c.people; ++i) {
      const std::string dn = "uid=u" + std::to_string(i) + "," + base;
      dir.Add(dn, {{"cn", {"User " + std::to_string(i)}}});
      last = std::max(last, dn);
    }
    if (c.maxValues) dir.Add("cn=big," + base, {{"cn", {"big"}}, {"member", members}});
    FakeServer srv;
    dir.ServeOn(srv);
    ASSERT_TRUE(srv.Start());
    Catalogue({TServerRow("s", "127.0.0.1", srv.Port())},
              {{"p", 0, base, 2, "(objectClass=*)", "cn;member"}});
    Start();
    RunProfile({"s", "p"});
    EXPECT_TRUE(seam_->Errors().isEmpty()) << seam_->Errors().join("\n").toStdString();

    const QString n = QString::number(c.rows);
    QStringList expected = {" MSG: Please wait...", " MSG: Connecting to 127.0.0.1...",
                            " MSG: Connected to 127.0.0.1..."};
    if (c.paged)
      expected << " MSG: The size limit of \"127.0.0.1\" was reached after 1000 entries; the "
                  "rest is read in pages of 1000 entries...";
    expected << " MSG: Querying 127.0.0.1...";
    if (c.rows == 0) {
      expected << " APP: No objects found..."
               << " MSG: No objects found...";
    } else {
      expected << " MSG: Found " + n + " objects...";
      for (int i = 1; i <= c.rows; ++i)
        expected << " MSG: Processing object " + QString::number(i) + " of " + n + "...";
      expected << " APP: Search completed..."
               << " MSG: Search completed...";
    }
    EXPECT_EQ(PaneFrom(" MSG: Please wait..."), expected);
    EXPECT_TRUE(form_->title->text().endsWith("returned " + n + " objects."))
        << form_->title->text().toStdString();
    EXPECT_TRUE(form_->mnu_action_report->isEnabled());
    if (c.rows == 0) {
      EXPECT_EQ(form_->grid->model()->columnCount(), 0);
      continue;
    }
    ASSERT_EQ(form_->grid->model()->rowCount(), c.rows);
    if (c.maxValues) {
      // Sorted by DN: cn=big comes first, with every one of its values.
      QString cell;
      for (const std::string& m : members) cell += "[" + QString::fromStdString(m) + "]";
      EXPECT_EQ(Cell(0, 0).toStdString(), "cn=big," + base);
      EXPECT_EQ(Cell(0, 2), cell);
    }
    EXPECT_EQ(Cell(c.rows - 1, 0).toStdString(), last);
  }
}

// A directory sends its entries in the order it keeps them (the order they
// were added, or its own storage order), not in DN order: the scripted one
// sends them shuffled. The grid, the clipboard and every report give them in
// DN order all the same, the order kept up while they arrived.
TEST_F(RunTest, RowsComeInDnOrderHoweverTheDirectorySendsThem) {
  const std::string base = "ou=people,o=x";
  constexpr int kPeople = 1500;
  std::vector<std::string> dns;
  for (int i = 0; i < kPeople; ++i) dns.push_back("uid=u" + std::to_string(i) + "," + base);
  std::vector<std::string> sent = dns;
  std::shuffle(sent.begin(), sent.end(), std::mt19937(33));
  ScriptedDirectory dir;
  for (const std::string& dn : sent) dir.Add(dn, {{"cn", {"Person " + dn.substr(4, 6)}}});
  // Bytewise: "uid=u10," before "uid=u2,".
  std::sort(dns.begin(), dns.end());
  FakeServer srv;
  dir.ServeOn(srv);
  ASSERT_TRUE(srv.Start());
  Catalogue({TServerRow("s", "127.0.0.1", srv.Port())},
            {{"p", 0, base, 2, "(objectClass=*)", "cn"}});
  Start();
  RunProfile({"s", "p"});
  ASSERT_EQ(form_->grid->model()->rowCount(), kPeople);
  for (int r = 0; r < kPeople; ++r) ASSERT_EQ(Cell(r, 0).toStdString(), dns[r]) << "grid row " << r;
  // Each DN is found after the one before it.
  auto inOrder = [&](const std::string& text, const std::string& what) {
    size_t at = 0;
    for (const std::string& dn : dns) {
      const size_t found = text.find(dn, at);
      ASSERT_NE(found, std::string::npos) << what << ": " << dn << " missing or out of order";
      at = found + dn.size();
    }
  };
  seam_->Clear();
  form_->grid->setFocus();
  QTest::keyClick(form_->grid, Qt::Key_C, Qt::ControlModifier);
  inOrder(seam_->clipboard.toStdString(), "clipboard");

  TkxHeadlessDesktop desktop;
  TkxDBGridExport& engine = form_->ExportHookup().Engine();
  engine.SetDesktop(&desktop);
  desktop.SelectAnswer = true;
  desktop.SelectStyleAnswer = xsFile;
  // Every format whose file holds the DNs as plain bytes (the workbook is
  // compressed; its rows come from the same walk).
  for (TkxExportType type : {xtLDIF, xtHTML, xtExcel, xtWord, xtTXT, xtCSV, xtTAB, xtRTF, xtDIF,
                             xtSYLK, xtLDIF2849, xtJSONL}) {
    engine.FileName.clear();
    desktop.SelectTypeAnswer = type;
    desktop.SaveAnswer = folder_ + "data/ordered." + std::to_string(static_cast<int>(type));
    form_->mnu_action_report->trigger();
    // The file the success line names.
    const std::string line = form_->PaneLines().last().toStdString();
    const std::string head = " MSG: Exported successfuly to \"";
    ASSERT_EQ(line.rfind(head, 0), 0u) << line;
    const std::string written = line.substr(head.size(), line.size() - head.size() - 1);
    QFile report(QString::fromStdString(written));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly)) << written;
    inOrder(report.readAll().toStdString(), "report " + written);
  }
  EXPECT_TRUE(seam_->Errors().isEmpty()) << seam_->Errors().join("\n").toStdString();
}

}  // namespace
