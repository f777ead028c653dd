// The main window without a directory server: start-up state, trees from the
// catalogue, popups, toolbar rules, status panels, exit, help, and the server
// and profile commands with the catalogue file checked afterwards.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QScreen>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTableView>
#include <QPushButton>
#include <QToolBar>

#include "app/gridmodel.h"
#include "app/guifixture.h"
#include "app/helpviewer.h"
#include "app/keyboard.h"
#include "app/statuspanels.h"
#include "dialogs/profileform.h"
#include "dialogs/serverform.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

using WorkspaceTest = TGuiTest;

TEST_F(WorkspaceTest, StartsWithDesignedCommandsAndEmptyTrees) {
  Start();
  TMainForm& f = *form_;
  EXPECT_TRUE(f.windowTitle().startsWith("Quorvel by Ferrowin (Version "));
  EXPECT_TRUE(f.windowTitle().contains(" Build "));
  EXPECT_EQ(f.title->text(), "LDAP Search Results");
  EXPECT_EQ(f.StatusMessage, "MSG: Application initialized...");
  EXPECT_TRUE(f.StatusHost.empty());
  EXPECT_TRUE(f.PaneLines().contains(" MSG: Application initialized..."));
  EXPECT_EQ(f.grid->model()->columnCount(), 0);
  EXPECT_EQ(Captions(f.tv_workspace->topLevelItem(0)), QStringList());
  EXPECT_EQ(f.tv_workspace->topLevelItem(0)->text(0), "Workspace");
  EXPECT_EQ(f.tv_browse->topLevelItem(0)->text(0), "Browser");
  EXPECT_TRUE(seam_->boxes.empty());

  struct Row {
    QAction* action;
    const char* text;
    bool enabled;
  };
  const Row rows[] = {
      {f.mnu_file_exit, "Exit", true},
      {f.mnu_edit_object, "Current Profile", true},
      {f.mnu_actions_test, "Test Connection", true},
      {f.mnu_actions_run, "Run Report", true},
      {f.mnu_action_report, "Export Report", false},
      {f.mnu_help_file, "Table of Contents", true},
      {f.mnu_visit_website, "Visit Website", true},
      {f.mnu_help_about, "About", true},
      {f.tb_add_server, "Add Server", true},
      {f.tb_add_profile, "Add Profile", false},
      {f.tb_edit, "Edit Selection", false},
      {f.tb_test, "Test Connection", false},
      {f.tb_run, "Run Report", false},
      {f.tb_export, "Save Report", false},
      {f.tb_help, "About", true},
      {f.tb_exit, "Exit", true},
  };
  auto* bar = f.findChild<QToolBar*>("ToolBar");
  for (const Row& r : rows) {
    // Menu entries show their caption with its mnemonic; a tool button shows
    // its picture and is named by its caption.
    QWidget* button = bar->widgetForAction(r.action);
    const QString shown = button ? button->accessibleName() : WithoutMnemonic(r.action->text());
    EXPECT_EQ(shown, r.text);
    EXPECT_EQ(r.action->isEnabled(), r.enabled) << r.text;
  }
}

TEST_F(WorkspaceTest, TreesListServersAndTheirProfilesOnly) {
  Catalogue({{"alpha", "127.0.0.1", 389, "N", "cn=a", "pw", "o=a"}, {"beta", "h2", 636, "Y"}},
            {{"p1", 0, "o=a", 2, "(cn=*)", "cn"},
             {"p2", 1, "o=b", 1, "(cn=*)", "cn"},
             {"p3", 0, "o=a", 0, "(cn=*)", "cn"},
             {"orphan", -1, "o=x", 0, "(cn=*)", "cn"}});
  Start();
  EXPECT_EQ(Captions(Item(form_->tv_workspace, {})), QStringList({"alpha", "beta"}));
  EXPECT_EQ(Captions(Item(form_->tv_workspace, {"alpha"})), QStringList({"p1", "p3"}));
  EXPECT_EQ(Captions(Item(form_->tv_workspace, {"beta"})), QStringList({"p2"}));
  EXPECT_EQ(Captions(Item(form_->tv_browse, {})), QStringList({"alpha", "beta"}));
  EXPECT_EQ(Item(form_->tv_browse, {"alpha"})->childCount(), 0);
  // Each tree holds its own copy of the server record.
  TNodeData* ws = NodeData(Item(form_->tv_workspace, {"beta"}));
  TNodeData* br = NodeData(Item(form_->tv_browse, {"beta"}));
  ASSERT_TRUE(ws && br && ws->server && br->server);
  EXPECT_NE(ws->server.get(), br->server.get());
  EXPECT_EQ(br->server->port, 636);
  EXPECT_EQ(br->server->ssl, "Y");
  EXPECT_TRUE(Item(form_->tv_workspace, {"alpha"})->isExpanded());
}

TEST_F(WorkspaceTest, PopupsShowEntriesByTheNodeUnderTheMouse) {
  Catalogue({{"alpha", "127.0.0.1", 389}}, {{"p1", 0, "o=a", 2, "(cn=*)", "cn"}});
  Start();
  auto* tv = form_->tv_workspace;
  EXPECT_EQ(OpenPopup(tv, nullptr), QStringList());  // nothing selected
  EXPECT_EQ(OpenPopup(tv, Item(tv, {})), QStringList({"New Server"}));
  EXPECT_EQ(OpenPopup(tv, Item(tv, {"alpha"})),
            QStringList({"Edit Server", "Delete Server", "-", "New Profile", "Refresh Schema"}));
  EXPECT_EQ(
      OpenPopup(tv, Item(tv, {"alpha", "p1"})),
      QStringList({"Edit Profile", "Delete Profile", "-", "Run", "Compare with Previous Run"}));

  auto* br = form_->tv_browse;
  form_->tabs->setCurrentIndex(1);
  QApplication::processEvents();
  EXPECT_EQ(OpenPopup(br, Item(br, {})), QStringList());
  EXPECT_EQ(OpenPopup(br, Item(br, {"alpha"})), QStringList({"Browse"}));
}

TEST_F(WorkspaceTest, ToolbarAndStatusFollowTheClickedNode) {
  Catalogue({{"alpha", "10.1.2.3", 389, "N", "", "", "o=a"}},
            {{"p1", 0, "o=a", 2, "(cn=*)", "cn"}});
  Start();
  TMainForm& f = *form_;
  auto* tv = f.tv_workspace;
  auto enabled = [&] {
    QStringList on;
    for (QAction* a : {f.tb_add_server, f.tb_add_profile, f.tb_edit, f.tb_test, f.tb_run,
                       f.tb_export, f.tb_help, f.tb_exit})
      if (a->isEnabled()) on.append(a->objectName());
    return on;
  };
  Click(tv, Item(tv, {"alpha"}));
  EXPECT_EQ(enabled(), QStringList({"tb_add_profile", "tb_edit", "tb_test", "tb_help", "tb_exit"}));
  EXPECT_EQ(f.StatusHost, "10.1.2.3");
  EXPECT_EQ(f.StatusUser, "Anonymous");
  EXPECT_EQ(f.StatusPanelText(2), "Anonymous");
  Click(tv, Item(tv, {"alpha", "p1"}));
  EXPECT_EQ(enabled(), QStringList({"tb_edit", "tb_run", "tb_help", "tb_exit"}));
  Click(tv, Item(tv, {}));
  EXPECT_EQ(enabled(), QStringList({"tb_add_server", "tb_help", "tb_exit"}));
  EXPECT_EQ(f.StatusHost, "10.1.2.3");  // the root leaves the status alone
}

TEST_F(WorkspaceTest, ToolbarAndStatusFollowTheCurrentNodeHoweverSelected) {
  // On a desktop the popup takes the right button's release, and the arrow
  // keys move the selection without any mouse event at all.
  Catalogue({{"alpha", "10.1.2.3", 389, "N", "", "", "o=a"},
             {"beta", "10.9.9.9", 389, "N", "cn=b", "", "o=b"}},
            {{"p1", 0, "o=a", 2, "(cn=*)", "cn"}});
  Start();
  TMainForm& f = *form_;
  auto* tv = f.tv_workspace;
  Click(tv, Item(tv, {"alpha", "p1"}));
  ASSERT_TRUE(f.tb_run->isEnabled());
  // A press alone (the release goes to the popup) on a server node.
  tv->scrollToItem(Item(tv, {"beta"}));
  QTest::mousePress(tv->viewport(), Qt::RightButton, Qt::NoModifier,
                    tv->visualItemRect(Item(tv, {"beta"})).center());
  EXPECT_EQ(tv->currentItem(), Item(tv, {"beta"}));
  EXPECT_FALSE(f.tb_run->isEnabled());
  EXPECT_TRUE(f.tb_test->isEnabled());
  EXPECT_EQ(f.StatusHost, "10.9.9.9");
  EXPECT_EQ(f.StatusUser, "cn=b");
  QTest::mouseRelease(tv->viewport(), Qt::RightButton);
  // Up from "beta" is "p1", the profile of "alpha".
  tv->setFocus();
  QTest::keyClick(tv, Qt::Key_Up);
  ASSERT_EQ(tv->currentItem(), Item(tv, {"alpha", "p1"}));
  EXPECT_TRUE(f.tb_run->isEnabled());
  EXPECT_FALSE(f.tb_test->isEnabled());
  EXPECT_EQ(f.StatusHost, "10.1.2.3");
  EXPECT_EQ(f.StatusUser, "Anonymous");
}

TEST_F(WorkspaceTest, ColumnWidthsAreSetOnceWhenTheWindowIsFirstShown) {
  Start();
  form_->grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  // Rows with three columns, as after a properties listing.
  ASSERT_TRUE(data->CreatePropertyTable());
  ASSERT_TRUE(data->AddProperty("0", "cn", "x", "TEXT", "1"));
  data->run.Close();
  data->run.SetSQL("SELECT * FROM property");
  data->run.Open();
  form_->gridModel->Attach(&data->run);
  form_->grid->setColumnWidth(1, 173);
  // Minimised and restored: the window is hidden and shown again.
  form_->showMinimized();
  QApplication::processEvents();
  form_->hide();
  form_->showNormal();
  QApplication::processEvents();
  EXPECT_EQ(form_->grid->columnWidth(1), 173);
}

TEST_F(WorkspaceTest, WindowFitsTheScreenAndTheProfileDialogIsOwned) {
  Start();
  const QRect area = form_->screen()->availableGeometry();
  EXPECT_TRUE(area.contains(form_->frameGeometry().topLeft()));
  // The profile dialog stays above the program's windows by being owned by
  // the main window, not by staying above every application.
  TProfileForm dlg(form_.get());
  EXPECT_FALSE(dlg.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(dlg.parentWidget(), form_.get());
}

TEST(StatusPanels, ShorteningAndPanelWidths) {
  const QString hundred(100, 'x'), fifty(50, 'y');
  EXPECT_EQ(ShortenPanelText(hundred, 350), QString(50, 'x') + "...");
  EXPECT_EQ(ShortenPanelText(fifty, 350), fifty);
  EXPECT_EQ(ShortenPanelText(QString(58, 'z'), 350), QString(58, 'z'));  // 348 < 350
  EXPECT_EQ(ShortenPanelText(QString(59, 'z'), 350).size(), 53);
  EXPECT_EQ(ShortenPanelText(QString(10, 'z'), 24), "zzz...");  // 24 / 7 = 3.43
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(3.5), 4);
}

TEST_F(WorkspaceTest, StatusPanelsTakeHalfAFifthAndTheRest) {
  Start();
  form_->resize(1000, 600);
  QApplication::processEvents();
  const int w = form_->frameGeometry().width();
  EXPECT_EQ(form_->Status->PanelWidth(0), RoundHalfEven(w * 0.5));
  EXPECT_EQ(form_->Status->PanelWidth(1), RoundHalfEven(w * 0.2));
  EXPECT_EQ(form_->Status->PanelWidth(2), RoundHalfEven(w * 0.3));
  form_->AddMessage(2, "ERR: " + std::string(200, 'e'));
  EXPECT_EQ(form_->StatusKind, 2);
  EXPECT_TRUE(form_->StatusPanelText(0).endsWith("..."));
}

TEST_F(WorkspaceTest, ExitAsksFirstAndNoKeepsTheWindow) {
  Start();
  seam_->answers = {false};
  form_->mnu_file_exit->trigger();
  EXPECT_TRUE(form_->isVisible());
  ASSERT_EQ(seam_->boxes.size(), 1u);
  EXPECT_EQ(seam_->boxes[0].title, "Confirm");
  EXPECT_EQ(seam_->boxes[0].text, "Are you sure that you want to exit?");
  seam_->answers = {true};
  form_->tb_exit->trigger();
  EXPECT_FALSE(form_->isVisible());
}

TEST_F(WorkspaceTest, HelpWebsiteAndAbout) {
  Start(/*withHelp=*/false);
  form_->mnu_help_file->trigger();
  ASSERT_EQ(seam_->boxes.size(), 1u);
  EXPECT_EQ(seam_->boxes[0].title, "Warning!");
  EXPECT_EQ(seam_->boxes[0].text,
            "Unable to view HTML help (*.chm). Update windows help system. Get new "
            "\"HHCTRL.OCX\" library.");
  seam_->Clear();
  seam_->openUrlResult = false;
  form_->mnu_visit_website->trigger();
  EXPECT_EQ(seam_->Errors(), QStringList("Unable to launch browser!"));
  EXPECT_TRUE(seam_->openedUrls.value(0).startsWith("https://"));
  EXPECT_TRUE(form_->PaneLines().contains(" ERR: Unable to launch browser!"));
  form_->mnu_help_about->trigger();  // pauses are off: returns at once
  EXPECT_TRUE(form_->isVisible());
}

TEST_F(WorkspaceTest, HelpViewerListsTheContents) {
  Start();
  form_->mnu_help_file->trigger();
  EXPECT_TRUE(seam_->boxes.empty());
  auto* viewer = form_->findChild<THelpViewer*>();
  ASSERT_NE(viewer, nullptr);
  QStringList entries;
  for (int i = 0; i < viewer->contents->count(); ++i)
    entries.append(viewer->contents->item(i)->text());
  for (const char* chapter : {"Servers", "Search profiles", "Filters", "Scopes", "Reports"})
    EXPECT_TRUE(entries.contains(chapter)) << chapter << " in " << entries.join(",").toStdString();
  viewer->close();
}

TEST_F(WorkspaceTest, DispatchersExplainWhatToSelect) {
  Catalogue({{"alpha", "127.0.0.1", 389}}, {{"p1", 0, "o=a", 2, "(cn=*)", "cn"}});
  Start();
  auto* tv = form_->tv_workspace;
  struct Case {
    QStringList node;
    QAction* action;
    const char* info;
  };
  const Case cases[] = {
      {{}, form_->mnu_edit_object, "Please select a Server or Profile to edit from the Workspace."},
      {{"alpha", "p1"},
       form_->mnu_actions_test,
       "Please select a Server to test from the Workspace."},
      {{}, form_->mnu_actions_test, "Please select a Server to test from the Workspace."},
      {{"alpha"}, form_->mnu_actions_run, "Please select a Profile to test from the Workspace."},
      {{}, form_->mnu_actions_run, "Please select a Profile to test from the Workspace."},
  };
  for (const Case& c : cases) {
    seam_->Clear();
    Click(tv, Item(tv, c.node));
    c.action->trigger();
    EXPECT_EQ(seam_->Infos(), QStringList(c.info)) << c.info;
    EXPECT_EQ(seam_->dialogsShown, 0);
  }
}

TEST_F(WorkspaceTest, NewServerIsStoredWithItsBaseDnAndShownInBothTrees) {
  Start();
  auto* tv = form_->tv_workspace;
  Click(tv, Item(tv, {}));
  QString shownHost, shownPort, shownBase;
  seam_->dialogs.push_back([&](QDialog& d) {
    auto& f = static_cast<TServerForm&>(d);
    shownHost = f.ed_server->text();
    shownPort = f.ed_port->text();
    shownBase = f.ed_basedn->text();
    f.btnsave->click();  // the empty name is refused first
    f.ed_name->setText(" Lab  ");
    f.ed_server->setText(" ldap.lab ");
    f.cb_security->setCurrentText("SSL/TLS");
    f.ed_uid->setText("cn=admin");
    f.ed_basedn->setText("dc=lab");
    f.btnsave->click();
  });
  form_->tb_add_server->trigger();
  EXPECT_EQ(shownHost, "127.0.0.1");
  EXPECT_EQ(shownPort, "389");
  EXPECT_EQ(shownBase, "O=Organization");
  EXPECT_EQ(seam_->Errors(),
            QStringList("\"Name\" cannot be empty, please provide a name fot his server profile."));
  EXPECT_EQ(seam_->Infos(), QStringList("New server:  Lab   sucessfully added..."));
  EXPECT_EQ(Captions(Item(tv, {})), QStringList(" Lab  "));
  EXPECT_EQ(Captions(Item(form_->tv_browse, {})), QStringList(" Lab  "));
  const auto rows = CatalogueRows("servers", "name,server,port,ssl,uid,basedn");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], "name= Lab  |server=ldap.lab|port=636|ssl=Y|uid=cn=admin|basedn=dc=lab");
  TNodeData* d = NodeData(Item(tv, {" Lab  "}));
  ASSERT_TRUE(d && d->server);
  EXPECT_NE(d->id, 0);
  EXPECT_EQ(d->server->basedn, "dc=lab");
}

TEST_F(WorkspaceTest, MissingCatalogueIsReportedAndTheWindowStaysUsable) {
  QFile::remove(QString::fromStdString(folder_ + "lib/quorvel.db"));
  Start();
  // The box names the file and the reason.
  EXPECT_EQ(seam_->Errors(),
            QStringList(QString::fromStdString("Error initializing application!\r\n\r\nFile: \"" +
                                               folder_ + "lib/quorvel.db\"\r\nReason: Database " +
                                               folder_ + "lib/quorvel.db does not exist")));
  EXPECT_EQ(Captions(Item(form_->tv_workspace, {})), QStringList());
  // A server that cannot be stored gets no workspace node, but a browse node.
  seam_->Clear();
  seam_->dialogs.push_back([](QDialog& d) {
    auto& f = static_cast<TServerForm&>(d);
    f.ed_name->setText("lost");
    f.btnsave->click();
  });
  form_->a_serverClick();
  EXPECT_EQ(seam_->Errors(), QStringList("Error encountered adding the Server: lost to database!"));
  EXPECT_EQ(Captions(Item(form_->tv_workspace, {})), QStringList());
  EXPECT_EQ(Captions(Item(form_->tv_browse, {})), QStringList("lost"));
}

TEST_F(WorkspaceTest, DamagedWorkingStoreIsCreatedAnewWithAPaneLine) {
  const std::string working = folder_ + "lib/dump.db";
  {
    QFile f(QString::fromStdString(working));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("not a database at all, as after a crash");
  }
  Start();
  EXPECT_EQ(seam_->Errors(), QStringList());
  bool said = false;
  for (const QString& line : form_->PaneLines())
    said = said || line.startsWith(QString::fromStdString(" MSG: The working store " + working +
                                                          " was damaged ("));
  EXPECT_TRUE(said) << form_->PaneLines().join("\n").toStdString();
  EXPECT_TRUE(form_->PaneLines().contains(" MSG: Application initialized..."));
}

TEST_F(WorkspaceTest, NewServerWithAPortThatIsNotANumberStoresNothing) {
  Start();
  seam_->dialogs.push_back([](QDialog& d) {
    auto& f = static_cast<TServerForm&>(d);
    f.ed_name->setText("bad");
    f.ed_port->setText("38x");
    f.btnsave->click();
  });
  form_->a_serverClick();
  EXPECT_EQ(seam_->Errors(), QStringList("'38x' is not a valid integer value"));
  EXPECT_TRUE(CatalogueRows("servers", "name").empty());
  EXPECT_EQ(Item(form_->tv_workspace, {})->childCount(), 0);
  EXPECT_EQ(Item(form_->tv_browse, {})->childCount(), 0);
}

TEST_F(WorkspaceTest, EditServerShowsStoredPortAndUpdatesCatalogue) {
  Catalogue({{"gc", "dc1", 3269, "Y", "cn=u", "pw", "dc=x"}});
  Start();
  auto* tv = form_->tv_workspace;
  Click(tv, Item(tv, {"gc"}));
  QString port, title;
  bool ssl = false;
  seam_->dialogs.push_back([&](QDialog& d) {
    auto& f = static_cast<TServerForm&>(d);
    port = f.ed_port->text();
    ssl = f.Security() == "Y";
    title = f.windowTitle();
    f.ed_name->setText(" gc2 ");
    f.ed_basedn->setText("dc=y");
    f.btnsave->click();
  });
  form_->tb_edit->trigger();  // "Edit Selection" on a server node edits it
  EXPECT_EQ(port, "3269");
  EXPECT_TRUE(ssl);
  EXPECT_EQ(title, "Server Properties: gc");
  EXPECT_EQ(seam_->Infos(), QStringList("Server Properties: gc2 updated sucessfully..."));
  EXPECT_EQ(Captions(Item(tv, {})), QStringList("gc2"));
  EXPECT_EQ(Captions(Item(form_->tv_browse, {})), QStringList("gc"));  // keeps its caption
  EXPECT_EQ(CatalogueRows("servers", "name,port,ssl,basedn"),
            std::vector<std::string>({"name=gc2|port=3269|ssl=Y|basedn=dc=y"}));

  // A port that is not a number changes nothing, neither nodes nor catalogue.
  seam_->Clear();
  seam_->dialogs.push_back([](QDialog& d) {
    auto& f = static_cast<TServerForm&>(d);
    f.ed_name->setText("renamed");
    f.ed_port->setText("abc");
    f.btnsave->click();
  });
  form_->e_serverClick();
  EXPECT_EQ(seam_->Errors(), QStringList("'abc' is not a valid integer value"));
  EXPECT_EQ(NodeData(Item(tv, {"gc2"}))->name, "gc2");
  EXPECT_EQ(CatalogueRows("servers", "name,port").at(0), "name=gc2|port=3269");
}

TEST_F(WorkspaceTest, DeleteServerTakesItsProfilesAndBrowseNode) {
  Catalogue({{"a", "h", 389}, {"b", "h", 389}}, {{"p1", 0, "o=a", 2, "(cn=*)", "cn"},
                                                 {"p2", 0, "o=a", 2, "(cn=*)", "cn"},
                                                 {"p3", 0, "o=a", 2, "(cn=*)", "cn"},
                                                 {"q1", 1, "o=b", 2, "(cn=*)", "cn"}});
  Start();
  auto* tv = form_->tv_workspace;
  Click(tv, Item(tv, {"a"}));
  seam_->answers = {false};
  form_->d_server->trigger();
  EXPECT_EQ(seam_->Texts(TUiSeam::bkQuestion),
            QStringList("Are you sure that you want to delete the server profile \"a\"?"));
  EXPECT_EQ(Captions(Item(tv, {})), QStringList({"a", "b"}));
  seam_->answers = {true};
  form_->d_server->trigger();
  EXPECT_EQ(Captions(Item(tv, {})), QStringList({"b"}));
  EXPECT_EQ(Captions(Item(form_->tv_browse, {})), QStringList({"b"}));
  EXPECT_EQ(CatalogueRows("servers", "name"), std::vector<std::string>({"name=b"}));
  EXPECT_EQ(CatalogueRows("profiles", "name"), std::vector<std::string>({"name=q1"}));
}

TEST_F(WorkspaceTest, ProfileCommandsKeepNodeAndCatalogueInStep) {
  Catalogue({{"srv", "h", 389}});
  Start();
  auto* tv = form_->tv_workspace;
  QTreeWidgetItem* srv = Item(tv, {"srv"});
  // Cancelling a new profile still expands the server node.
  srv->setExpanded(false);
  Click(tv, srv);
  form_->tb_add_profile->trigger();
  EXPECT_TRUE(srv->isExpanded());
  EXPECT_TRUE(CatalogueRows("profiles", "name").empty());

  QString server, base, filter, scope, att;
  bool runEnabled = true;
  seam_->dialogs.push_back([&](QDialog& d) {
    auto& f = static_cast<TProfileForm&>(d);
    server = f.ed_server->text();
    base = f.ed_base->text();
    filter = f.ed_filter->text();
    scope = f.cb_scope->currentText();
    att = f.ed_att->toPlainText();
    runEnabled = f.btnrun->isEnabled();
    f.ed_name->setText("  people ");
    f.cb_scope->setEditText("Sub Containers");
    f.ed_att->setPlainText(" cn;mail ");
    f.btnsave->click();
  });
  form_->n_profile->trigger();
  EXPECT_EQ(server, "srv");
  EXPECT_EQ(base, "O=Organization");
  EXPECT_EQ(filter, "(ObjectClass=*)");
  EXPECT_EQ(scope, "Base Object");
  EXPECT_EQ(att, "cn;givenname;sn;email");
  EXPECT_FALSE(runEnabled);
  EXPECT_EQ(seam_->Infos(), QStringList("New profile: people sucessfully added..."));
  EXPECT_EQ(Captions(srv), QStringList("people"));
  EXPECT_EQ(CatalogueRows("profiles", "name,serverid,basedn,scope,att,filter"),
            std::vector<std::string>(
                {"name=people|serverid=" + std::to_string(serverIds_[0]) +
                 "|basedn=O=Organization|scope=2|att=cn;mail|filter=(ObjectClass=*)"}));

  // Edit: a scope typed in lower case is stored as -1.
  seam_->Clear();
  Click(tv, Item(tv, {"srv", "people"}));
  seam_->dialogs.push_back([&](QDialog& d) {
    auto& f = static_cast<TProfileForm&>(d);
    scope = f.cb_scope->currentText();
    f.ed_name->setText("staff");
    f.cb_scope->setEditText("sub containers");
    f.ed_filter->clear();  // checked as for a new profile: the dialog stays open
    f.btnsave->click();
    f.ed_filter->setText("(cn=*)");
    f.btnsave->click();
  });
  form_->mnu_edit_object->trigger();
  EXPECT_EQ(scope, "Sub Containers");
  EXPECT_EQ(seam_->Errors(),
            QStringList("\"Filter\" cannot be empty, please provide a valid search filter."));
  EXPECT_EQ(seam_->Infos(), QStringList("Search Profile Properties: staff updated sucessfully..."));
  EXPECT_EQ(Captions(srv), QStringList("staff"));
  EXPECT_EQ(CatalogueRows("profiles", "name,scope,filter"),
            std::vector<std::string>({"name=staff|scope=-1|filter=(cn=*)"}));

  seam_->answers = {true};
  form_->d_profile->trigger();
  EXPECT_EQ(seam_->Texts(TUiSeam::bkQuestion),
            QStringList("Are you sure that you want to delete the export profile \"staff\"?"));
  EXPECT_EQ(Captions(srv), QStringList());
  EXPECT_TRUE(CatalogueRows("profiles", "name").empty());
}

TEST_F(WorkspaceTest, AddProfileActsOnlyOnAServerNode) {
  Catalogue({{"a", "h", 389}, {"b", "h", 389}}, {{"p1", 0, "o=a", 2, "(cn=*)", "cn"}});
  Start();
  auto* tv = form_->tv_workspace;
  Click(tv, Item(tv, {"a"}));
  ASSERT_TRUE(form_->tb_add_profile->isEnabled());
  // The keyboard moves the selection to the profile; the toolbar is unchanged.
  tv->setFocus();
  QTest::keyClick(tv, Qt::Key_Down);
  ASSERT_EQ(tv->currentItem(), Item(tv, {"a", "p1"}));
  seam_->dialogs.push_back([](QDialog& d) {
    auto& f = static_cast<TProfileForm&>(d);
    f.ed_name->setText("stray");
    f.btnsave->click();
  });
  form_->tb_add_profile->trigger();
  EXPECT_EQ(seam_->dialogsShown, 0);
  EXPECT_EQ(Item(tv, {"a", "p1"})->childCount(), 0);
  EXPECT_EQ(CatalogueRows("profiles", "name"), std::vector<std::string>({"name=p1"}));
  // On the root there is no server to add it to either.
  tv->setCurrentItem(Item(tv, {}));
  form_->tb_add_profile->trigger();
  EXPECT_EQ(seam_->dialogsShown, 0);
}

TEST_F(WorkspaceTest, ProfileKeepsItsReadableValuesSetting) {
  // A new profile shows directory values readably unless the box is cleared;
  // editing shows the stored setting and stores the changed one.
  Catalogue({{"srv", "h", 389}}, {});
  Start();
  auto* tv = form_->tv_workspace;
  Click(tv, Item(tv, {"srv"}));
  bool shown = false;
  QString text;
  seam_->dialogs.push_back([&](QDialog& d) {
    auto& f = static_cast<TProfileForm&>(d);
    shown = f.ed_readable->isChecked();
    text = f.ed_readable->text();
    f.ed_name->setText("raw");
    f.ed_readable->setChecked(false);
    f.btnsave->click();
  });
  form_->n_profile->trigger();
  EXPECT_TRUE(shown);
  EXPECT_EQ(text, "Readable Active Directory values (SIDs, GUIDs, times)");
  EXPECT_EQ(CatalogueRows("profiles", "name,readable"),
            std::vector<std::string>({"name=raw|readable=0"}));

  Click(tv, Item(tv, {"srv", "raw"}));
  seam_->dialogs.push_back([&](QDialog& d) {
    auto& f = static_cast<TProfileForm&>(d);
    shown = f.ed_readable->isChecked();
    f.ed_readable->setChecked(true);
    f.btnsave->click();
  });
  form_->mnu_edit_object->trigger();
  EXPECT_FALSE(shown);
  EXPECT_EQ(CatalogueRows("profiles", "name,readable"),
            std::vector<std::string>({"name=raw|readable=1"}));
  // The tree's record follows: the next edit shows it on.
  seam_->dialogs.push_back([&](QDialog& d) {
    auto& f = static_cast<TProfileForm&>(d);
    shown = f.ed_readable->isChecked();
    f.btncancel->click();
  });
  form_->mnu_edit_object->trigger();
  EXPECT_TRUE(shown);
}

}  // namespace
