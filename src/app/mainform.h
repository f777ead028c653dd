// The main window: menu, toolbar, the workspace and browse trees, the title
// line, the results grid, the message pane and the status bar, with the
// commands that run profiles, browse the directory and manage the catalogue.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QStringList>
#include <QTreeWidgetItem>
#include <memory>
#include <string>
#include <vector>

#include "app/guisink.h"
#include "dialogs/trustform.h"
#include "ldap/schema.h"
#include "store/secrets.h"
#include "store/nodedata.h"

class QAction;
class QLabel;
class QMenu;
class QSplitter;
class QTabWidget;
class QTableView;
class QTreeWidget;
class TkxDBGridExport;
class TLDAPResultList;
class TLDAPSend;
class TProfileForm;

namespace quorvel {
class TMessagePane;
class TResultsModel;
class TResultsView;
class TStatusPanels;
class TExportHookup;
class TRunStop;
class TExportRowStream;
class TSnapshotCopier;
struct TSearchOutcome;

// A tree node that owns its record (the two roots carry none).
class TNodeItem : public QTreeWidgetItem {
 public:
  TNodeItem(QTreeWidgetItem* parent, const QString& caption, std::unique_ptr<TNodeData> data);
  std::unique_ptr<TNodeData> Data;
};

// Runs the window on the databases of another program folder (with its
// trailing "/"): lib/quorvel.db, lib/dump.db, lib/quorvel.so and help/ there.
// Empty (the default) means the folder of the executable. Tests use it.
void SetProgramFolder(const std::string& folder);

// The record of a node, or nullptr for the roots and foreign items.
TNodeData* NodeData(QTreeWidgetItem* item);
// 0 for a root, 1 for its children, and so on.
int NodeLevel(const QTreeWidgetItem* item);
}  // namespace quorvel

class TMainForm : public QMainWindow {
  Q_OBJECT
 public:
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  // Menu entries.
  QAction* mnu_file_exit = nullptr;
  QAction* mnu_edit_object = nullptr;
  QAction* mnu_actions_test = nullptr;
  QAction* mnu_actions_run = nullptr;
  QAction* mnu_action_report = nullptr;
  // Actions, "Compare with Previous Run": runs the profile and shows what
  // changed since its last complete run (store/changes.h).
  QAction* mnu_actions_compare = nullptr;
  // Shown only while a search runs (app/runstop.h); Esc does the same.
  QAction* mnu_actions_stop = nullptr;
  QAction* mnu_server_move = nullptr;  // Server, "Move Passwords to the Keyring"
  QAction* mnu_help_file = nullptr;
  QAction* mnu_visit_website = nullptr;
  QAction* mnu_help_about = nullptr;
  // Toolbar buttons.
  QAction* tb_add_server = nullptr;
  QAction* tb_add_profile = nullptr;
  QAction* tb_edit = nullptr;
  QAction* tb_test = nullptr;
  QAction* tb_run = nullptr;
  QAction* tb_export = nullptr;
  QAction* tb_help = nullptr;
  QAction* tb_exit = nullptr;
  // Workspace popup.
  QMenu* Popup = nullptr;
  QAction* a_server = nullptr;
  QAction* e_server = nullptr;
  QAction* d_server = nullptr;
  QAction* r_schema = nullptr;
  QAction* sec_server = nullptr;
  QAction* n_profile = nullptr;
  QAction* e_profile = nullptr;
  QAction* d_profile = nullptr;
  QAction* sec_profile = nullptr;
  QAction* run_profile = nullptr;
  QAction* compare_profile = nullptr;
  // Browse popup.
  QMenu* pop_browse = nullptr;
  QAction* o_browse = nullptr;
  QAction* o_properties = nullptr;
  // Ctrl+C: the selected cells, or without a selection the results as the
  // clipboard format writes them (no menu entry).
  QAction* copy_results = nullptr;
  // Ctrl+F: the focus to the results' filter box (no menu entry).
  QAction* find_results = nullptr;

  QTabWidget* tabs = nullptr;
  QTreeWidget* tv_workspace = nullptr;
  QTreeWidget* tv_browse = nullptr;
  QLabel* title = nullptr;
  QTableView* grid = nullptr;
  quorvel::TMessagePane* rt_msg = nullptr;
  quorvel::TStatusPanels* Status = nullptr;
  quorvel::TResultsModel* gridModel = nullptr;
  // The grid with its filter box and column state; grid and gridModel are its own.
  quorvel::TResultsView* resultsView = nullptr;

  std::string StatusMessage;
  int StatusKind = 0;
  std::string StatusHost;
  std::string StatusUser;

  // Safe from a command's worker thread too: the line is queued for the window.
  void AddMessage(int kind, const std::string& text);
  // The lines prefix + i + suffix for i from first to last, as that many
  // AddMessage calls would write them (window thread only).
  void AddNumberedMessages(int kind, const std::string& prefix, int first, int last,
                           const std::string& suffix);
  void ShowConnectionStatus(const TServerNodeData& server);
  void LoadWorkspace();
  QTreeWidgetItem* FindBrowseServerNode(const QString& caption) const;
  void SizeStatusPanels();
  // The text panel i of the status bar shows now (after shortening).
  QString StatusPanelText(int panel) const;
  // Every line of the message pane (pending lines written first).
  QStringList PaneLines();
  // Writes the progress lines not yet in the pane and repaints it.
  void FlushPane();
  // The export engine bound to the grid.
  quorvel::TExportHookup& ExportHookup() { return *export_; }

  // Visibility rules, run each time a popup opens.
  void PopupPopup();
  void pop_browsePopup();
  // Toolbar enabling after a mouse release on the workspace tree.
  void tv_workspaceMouseUp();

  // Commands.
  void mnu_file_exitClick();
  void mnu_edit_objectClick();
  void mnu_actions_testClick();
  void mnu_actions_runClick();
  void mnu_actions_compareClick();
  // Whether the workspace's current item is a profile; if not, a box asks
  // for one "to <toDo>".
  bool ProfileSelected(const std::string& toDo);
  void mnu_action_reportClick();
  void copy_resultsClick();
  void mnu_help_fileClick();
  void mnu_visit_websiteClick();
  void mnu_help_aboutClick();
  void a_serverClick();
  void e_serverClick();
  void d_serverClick();
  // "Refresh Schema": reads the server's schema again and says what came.
  void r_schemaClick();
  void n_profileClick();
  void e_profileClick();
  void d_profileClick();
  void run_profileClick();
  void compare_profileClick();
  void o_browseClick();
  void o_propertiesClick();
  void mnu_server_moveClick();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The window by its parts: menus (giving the Actions menu), toolbar,
  // trees, results pane, popups, then the commands wired to their handlers.
  void BuildWindow();
  QMenu* BuildMenus();
  void BuildToolbar(QMenu* actions);
  void BuildPanes();
  QSplitter* BuildResultsPane(QSplitter* split);
  void BuildPopups();
  void WireCommands();
  void StatusDrawPanel(QPainter& p, int panel, const QRect& r);
  void PaneLine(const std::string& line);
  void RepaintStatusThrottled();
  // Repaints the status bar (at once, or at the next paint) with the panels'
  // texts readable by assistive technology.
  void RefreshStatus(bool now);
  void SetRunCommandsEnabled(bool on);
  void SetExportEnabled(bool on);
  // The Run command by its steps (runbrowse.cpp). TProfileRun holds what a
  // run changed in the window and puts it back whichever way the run ends;
  // each step is false when the run ends there.
  struct TProfileRun;
  void RunProfileCommand(bool compare);
  bool RunConnect(TProfileRun& run);
  bool RunSearch(TProfileRun& run);
  void RunShowResults(TProfileRun& run);
  bool RunStoreRows(TProfileRun& run, const std::string& count);
  // The history of the run just stored in shownRows_ (app/runhistory.cpp):
  // a complete run becomes the profile's snapshot; with compare, its change
  // rows are compared first and shown. True when the grid shows them; false
  // for the caller to show the run's rows. `copier`, when given, holds most
  // of the run copied already.
  bool ShowRunHistory(const TServerNodeData& server, const TProfileNodeData& profile, int profileId,
                      const quorvel::TSearchOutcome& outcome, bool compare,
                      quorvel::TSnapshotCopier* copier = nullptr);
  // Browse and Properties: the connection to a node's server with its pane
  // lines (nullptr when it failed, the lines written), and the one search of
  // it, which Stop and Esc cancel; the password asked for serves the bind and
  // the referrals followed, and is wiped once the search has ended.
  std::unique_ptr<TLDAPSend> NodeConnect(TServerNodeData& record, bool errorLine);
  TLDAPResultList* NodeQuery(TLDAPSend& ldap, TServerNodeData& record,
                             const TProfileNodeData& profile, quorvel::TSearchOutcome& outcome);
  // Binds the grid to the rows of `query` (the property rows when
  // hideFirstColumn, the export rows when no query is given).
  // Binds the grid to the property rows when hideFirstColumn, else to the
  // run's rows in `table` (by default those shown last).
  // A run's rows come with `view` (a profile's saved layout), or without it
  // with the layout they had when last shown.
  void ShowDataset(bool hideFirstColumn, const std::string& table = std::string(),
                   const std::string* view = nullptr);
  // The title line: the run's text, and how many rows a filter keeps.
  void SetResultsTitle(const std::string& text);
  void UpdateResultsTitle();
  // Stores the grid's layout with the profile whose rows it shows.
  void SaveShownView(const QString& text);
  void AddServerNode(QTreeWidgetItem* root, const QString& caption, std::unique_ptr<TNodeData> d,
                     int selectedImage);
  void FormClose();
  // Drops the snapshots of deleted profiles (store/changes.h).
  void ForgetProfileSnapshots(const std::vector<int>& profiles);
  // Passwords out of the catalogue (app/passwords.cpp). GivePassword fills
  // record.pwd for a server that asks for its password (remembered, or asked
  // in the password window); false when the user cancelled, after a pane
  // line naming `command`. ForgetGivenPassword drops a remembered one that
  // the server refused. TellAboutCataloguePasswords says once, at start-up,
  // that passwords could move to a reachable keyring.
  bool GivePassword(TServerNodeData& record, const std::string& name, const std::string& command);
  void ForgetGivenPassword(const TServerNodeData& record);
  void TellAboutCataloguePasswords();
  void BuildServerMenu();
  quorvel::TPasswordMemory passwords_;

  quorvel::TGuiMessageSink sink_;
  TMessageSink* previousSink_ = nullptr;
  // Certificates that fail verification are asked about in a window, with
  // the catalogue's trusted certificates.
  TDialogTrustPrompt trustPrompt_;
  TTrustContext Trust();
  // The server's schema (schemamenu.cpp), nullptr when there is none to
  // check against; read again from the server when refresh.
  std::shared_ptr<const quorvel::TSchema> ServerSchema(const TNodeData& server, bool refresh);
  // Gives the profile dialog the schema of its server.
  void ProvideSchema(TProfileForm& dialog, const TNodeData& server);
  QStringList pending_;
  QElapsedTimer sinceFlush_;
  bool flushScheduled_ = false;
  bool shownOnce_ = false;
  std::unique_ptr<quorvel::TExportHookup> export_;
  quorvel::TRunStop* runStop_ = nullptr;  // owned by the window
  // The last run's rows: its own table in the working store, read in place by
  // the grid, lives as long as this stream.
  std::unique_ptr<quorvel::TExportRowStream> shownRows_;
  int shownProfileId_ = 0;    // the profile whose run the grid shows; 0 for none
  std::string shownChanges_;  // the change rows the grid shows, if it shows them
  std::string titleText_;     // the title line without the filter's count
};
