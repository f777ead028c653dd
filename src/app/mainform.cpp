#include "app/mainform.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include "app/exporthookup.h"
#include "app/gridmodel.h"
#include "app/helpviewer.h"
#include "app/icons.h"
#include "app/keyboard.h"
#include "app/messagepane.h"
#include "app/resultsview.h"
#include "app/runstop.h"
#include "app/splash.h"
#include "app/startupreport.h"
#include "app/statuspanels.h"
#include "app/version.h"
#include "dialogs/busywork.h"
#include "dialogs/plaintext.h"
#include "dialogs/screenfit.h"
#include "dialogs/uiseam.h"
#include "store/cataloguereader.h"
#include "store/data.h"
#include "store/filelocations.h"
#include "store/profilerun.h"

using namespace quorvel;

namespace quorvel {

TNodeItem::TNodeItem(QTreeWidgetItem* parent, const QString& caption,
                     std::unique_ptr<TNodeData> nodeData)
    : QTreeWidgetItem(parent, QStringList(caption)), Data(std::move(nodeData)) {}

TNodeData* NodeData(QTreeWidgetItem* item) {
  auto* node = dynamic_cast<TNodeItem*>(item);
  return node ? node->Data.get() : nullptr;
}

namespace {
std::string g_programFolder;
}
void SetProgramFolder(const std::string& folder) {
  g_programFolder = folder;
}

int NodeLevel(const QTreeWidgetItem* item) {
  int level = 0;
  for (const QTreeWidgetItem* p = item ? item->parent() : nullptr; p; p = p->parent()) ++level;
  return level;
}

}  // namespace quorvel

namespace {

// How often, at most, a burst of progress lines repaints the pane and status bar.
constexpr int kRepaintIntervalMs = 50;

QTreeWidget* MakeTree(QWidget* parent, const char* name) {
  auto* tv = new QTreeWidget(parent);
  tv->setObjectName(name);
  tv->setHeaderHidden(true);
  tv->setColumnCount(1);
  tv->setIndentation(19);
  tv->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tv->setSelectionMode(QAbstractItemView::SingleSelection);
  tv->setContextMenuPolicy(Qt::DefaultContextMenu);
  tv->setStyleSheet("QTreeWidget { background-color: #E6F5E0; }");
  tv->setFont(QFont("Tahoma", 8));
  return tv;
}

QAction* MenuEntry(QMenu* menu, const char* name, const QString& caption, int image) {
  QAction* a = menu->addAction(ImageListIcon(image), caption);
  a->setObjectName(name);
  return a;
}

QAction* ToolButton(QToolBar* bar, const char* name, const QString& tip, int image) {
  QAction* a = bar->addAction(ImageListIcon(image), QString());
  a->setObjectName(name);
  a->setToolTip(tip);
  // The button shows only its picture; a screen reader says its tool tip's caption.
  if (QWidget* button = bar->widgetForAction(a)) button->setAccessibleName(tip);
  return a;
}

void ToolSeparator(QToolBar* bar) {
  auto* gap = new QWidget(bar);
  gap->setFixedWidth(8);
  bar->addWidget(gap);
}

}  // namespace

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
  BuildWindow();

  // 1. Hold the splash window on screen for a moment.
  HoldOnScreen(1500);
  // 2. Reports of LogError and LogInfo go to the message pane from here on.
  sink_.SetParent(this);
  sink_.SetPane([this](const std::string& line) { PaneLine(line); });
  previousSink_ = SetMessageSink(&sink_);
  // 3. Open the catalogue and the working store.
  bool opened = false;
  if (g_programFolder.empty()) {
    opened = InitDatabases();
  } else if (::data) {
    const std::string& f = g_programFolder;
    opened = InitDatabases(*::data, f + "lib/quorvel.db", f + "lib/dump.db", f + "lib/quorvel.so");
    AppPath = f;
    Files = LocateFiles(f);
  }
  if (!opened)
    LogError(StartupFailureText(::data));
  else if (::data->WorkingStore().recreated)
    AddMessage(1, ::data->WorkingStore().Notice(::data->temp.FullPath()));
  // 4. The export engine and its temporary folder.
  export_ = std::make_unique<TExportHookup>(*this, AppPath);
  // 5. The help file lives at AppPath + "help/index.html" (looked up on demand).
  // 6.
  LoadWorkspace();
  TellAboutCataloguePasswords();
  // 7.
  AddMessage(0, "MSG: Application initialized...");
  // 8.
  setWindowTitle(QString::fromStdString(MainCaption()));
  // 9.
  tabs->setCurrentIndex(0);
  // 10.
  SizeStatusPanels();
  // The keyboard starts in the workspace tree, with no node selected yet: the
  // first arrow key selects the root (taking the focus would otherwise make
  // the root current, as if it had been clicked).
  tv_workspace->setCurrentIndex(QModelIndex());
  tv_workspace->setFocus(Qt::OtherFocusReason);
}

TTrustContext TMainForm::Trust() {
  return {::data, &trustPrompt_};
}

TMainForm::~TMainForm() {
  // Hand LogError and friends back to whoever had them before this window.
  if (&CurrentMessageSink() == &sink_) SetMessageSink(previousSink_);
  // A layout change not yet stored goes to the profile now.
  resultsView->FlushView();
  // The grid lets go of the last run's table before it is dropped.
  if (shownRows_) {
    gridModel->Detach();
    if (::data) {
      try {
        ::data->run.Close();
      } catch (const std::exception&) {
      }
    }
    shownRows_.reset();
  }
}

void TMainForm::BuildWindow() {
  setObjectName("TMainForm");
  setWindowIcon(QIcon(ProgramPixmap(48)));
  resize(760, 598);
  QMenu* actions = BuildMenus();
  BuildToolbar(actions);
  BuildPanes();
  // Status bar with three owner-drawn panels.
  Status = new TStatusPanels(
      [this](QPainter& p, int panel, const QRect& r) { StatusDrawPanel(p, panel, r); }, this);
  auto* sb = new QStatusBar(this);
  sb->setSizeGripEnabled(false);
  sb->addWidget(Status, 1);
  setStatusBar(sb);

  BuildPopups();
  WireCommands();
  InstallKeyBindings(*this);
  // Tab and Shift+Tab go round the tabs, the shown tree, the grid and the pane.
  setTabOrder(tabs->tabBar(), tv_workspace);
  setTabOrder(tv_workspace, tv_browse);
  setTabOrder(tv_browse, resultsView->FilterBox());
  setTabOrder(resultsView->FilterBox(), resultsView->FilterColumn());
  setTabOrder(resultsView->FilterColumn(), grid);
  setTabOrder(grid, rt_msg);
  connect(Popup, &QMenu::aboutToShow, this, [this] { PopupPopup(); });
  connect(pop_browse, &QMenu::aboutToShow, this, [this] { pop_browsePopup(); });

  tv_workspace->viewport()->installEventFilter(this);
  tv_browse->viewport()->installEventFilter(this);
  // The toolbar and the status panels follow the current node however it
  // became current: a click, a right click (whose release the popup takes),
  // the arrow keys, or a node deleted under the selection.
  connect(tv_workspace, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
    if (current) tv_workspaceMouseUp();
  });
  sinceFlush_.start();
  FitIntoScreen(*this);
}

QMenu* TMainForm::BuildMenus() {
  // Menu.
  QMenu* file = menuBar()->addMenu("&File");
  mnu_file_exit = MenuEntry(file, "mnu_file_exit", "E&xit", imgExit);
  QMenu* edit = menuBar()->addMenu("&Edit");
  mnu_edit_object = MenuEntry(edit, "mnu_edit_object", "&Current Profile", imgEdit);
  BuildServerMenu();
  QMenu* actions = menuBar()->addMenu("&Actions");
  mnu_actions_test = MenuEntry(actions, "mnu_actions_test", "&Test Connection", imgTest);
  mnu_actions_run = MenuEntry(actions, "mnu_actions_run", "&Run Report", imgRun);
  mnu_actions_compare =
      MenuEntry(actions, "mnu_actions_compare", "&Compare with Previous Run", imgRun);
  actions->addSeparator();
  mnu_action_report = MenuEntry(actions, "mnu_action_report", "&Export Report", imgSave);
  mnu_action_report->setEnabled(false);
  QMenu* help = menuBar()->addMenu("&Help");
  mnu_help_file = MenuEntry(help, "mnu_help_file", "&Table of Contents", imgHelp);
  help->addSeparator();
  mnu_visit_website = MenuEntry(help, "mnu_visit_website", "&Visit Website", imgWebsite);
  mnu_help_about = MenuEntry(help, "mnu_help_about", "&About", imgAbout);

  return actions;
}

void TMainForm::BuildToolbar(QMenu* actions) {
  // Toolbar.
  QToolBar* bar = addToolBar("Toolbar");
  bar->setObjectName("ToolBar");
  bar->setMovable(false);
  bar->setIconSize(QSize(16, 16));
  bar->setStyleSheet("QToolButton { min-width: 21px; min-height: 21px; }");
  ToolSeparator(bar);
  tb_add_server = ToolButton(bar, "tb_add_server", "Add Server", imgServer);
  tb_add_profile = ToolButton(bar, "tb_add_profile", "Add Profile", imgProfile);
  tb_edit = ToolButton(bar, "tb_edit", "Edit Selection", imgEdit);
  ToolSeparator(bar);
  tb_test = ToolButton(bar, "tb_test", "Test Connection", imgTest);
  tb_run = ToolButton(bar, "tb_run", "Run Report", imgRun);
  tb_export = ToolButton(bar, "tb_export", "Save Report", imgSave);
  ToolSeparator(bar);
  tb_help = ToolButton(bar, "tb_help", "About", imgAbout);
  ToolSeparator(bar);
  tb_exit = ToolButton(bar, "tb_exit", "Exit", imgExit);
  for (QAction* a : {tb_add_profile, tb_edit, tb_test, tb_run, tb_export}) a->setEnabled(false);
  // Stop, in the Actions menu and beside Run on the toolbar, while a search runs.
  runStop_ = new TRunStop(this, actions, bar, tb_export);
  mnu_actions_stop = runStop_->Action();
}

// The two trees on the left; on the right the title, the grid and the
// message pane.
void TMainForm::BuildPanes() {
  // Left: the two trees on two tabs.
  auto* split = new QSplitter(Qt::Horizontal, this);
  split->setObjectName("splitter_left");
  split->setHandleWidth(5);
  tabs = new QTabWidget(split);
  tabs->setObjectName("tabs");
  tabs->setFont(QFont("Tahoma", 8));
  tv_workspace = MakeTree(tabs, "tv_workspace");
  tv_workspace->setAccessibleName("Workspace");
  tv_browse = MakeTree(tabs, "tv_browse");
  tv_browse->setAccessibleName("Browser");
  tabs->addTab(tv_workspace, "Workspace");
  tabs->addTab(tv_browse, "Browser");
  tabs->tabBar()->setStyleSheet(
      "QTabBar::tab { color: maroon; } QTabBar::tab:first { font-weight: bold; }");

  QSplitter* right = BuildResultsPane(split);
  split->addWidget(tabs);
  split->addWidget(right);
  split->setStretchFactor(1, 1);
  split->setSizes({220, 540});
  setCentralWidget(split);
}

// The title line, the results grid and the message pane, one above the other.
QSplitter* TMainForm::BuildResultsPane(QSplitter* split) {
  // Right: title, grid, splitter, message pane.
  auto* right = new QSplitter(Qt::Vertical, split);
  right->setObjectName("splitter_right");
  right->setHandleWidth(5);
  auto* top = new QWidget(right);
  auto* topLay = new QVBoxLayout(top);
  topLay->setContentsMargins(0, 0, 0, 0);
  topLay->setSpacing(0);
  title = new QLabel("LDAP Search Results", top);
  title->setObjectName("title");
  // It names the server, base DN and filter of the run or the entry browsed.
  title->setTextFormat(Qt::PlainText);
  // 27 pixels for one line; a long title wraps and the label grows to show it.
  title->setMinimumHeight(27);
  title->setAlignment(Qt::AlignCenter);
  title->setWordWrap(true);
  title->setFont(QFont("Tahoma", 8, QFont::Bold));
  title->setStyleSheet("QLabel { color: maroon; background-color: silver; }");
  resultsView = new TResultsView(top);
  resultsView->setObjectName("results");
  grid = resultsView->Grid();
  gridModel = resultsView->Model();
  // Tab leaves the grid for the message pane; the arrow keys move in it.
  grid->setTabKeyNavigation(false);
  grid->setFrameShape(QFrame::NoFrame);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setFont(QFont("Tahoma", 8));
  grid->setStyleSheet(
      "QTableView { background-color: #FFFBF0; }"
      "QHeaderView::section { background-color: #C8C8C8; font-weight: bold; }");
  grid->verticalHeader()->setDefaultSectionSize(18);
  grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid->verticalHeader()->setFixedWidth(12);
  grid->horizontalHeader()->setHighlightSections(false);
  topLay->addWidget(title);
  topLay->addWidget(resultsView, 1);
  connect(resultsView, &TResultsView::RowsChanged, this, [this] { UpdateResultsTitle(); });
  connect(resultsView, &TResultsView::ViewChanged, this,
          [this](const QString& text) { SaveShownView(text); });
  rt_msg = new TMessagePane(right);
  rt_msg->setObjectName("rt_msg");
  rt_msg->setAccessibleName("Messages");
  rt_msg->setFrameShape(QFrame::NoFrame);
  rt_msg->setFont(QFont("Tahoma", 8));
  {
    QPalette pal = rt_msg->viewport()->palette();
    pal.setColor(QPalette::Base, QColor(0xFF, 0xFB, 0xF0));
    pal.setColor(QPalette::Window, QColor(0xFF, 0xFB, 0xF0));
    rt_msg->viewport()->setPalette(pal);
  }
  rt_msg->setMinimumHeight(40);
  right->addWidget(top);
  right->addWidget(rt_msg);
  right->setStretchFactor(0, 1);
  right->setSizes({420, 100});
  return right;
}

void TMainForm::BuildPopups() {
  // Popups.
  Popup = new QMenu(this);
  Popup->setObjectName("Popup");
  a_server = MenuEntry(Popup, "a_server", "&New Server", imgServer);
  e_server = MenuEntry(Popup, "e_server", "&Edit Server", imgEdit);
  d_server = MenuEntry(Popup, "d_server", "&Delete Server", imgDeleteServer);
  sec_server = Popup->addSeparator();
  sec_server->setObjectName("sec_server");
  n_profile = MenuEntry(Popup, "n_profile", "New &Profile", imgRun);
  // Last among a server's entries: the keys that reach the others stay.
  r_schema = MenuEntry(Popup, "r_schema", "Refresh &Schema", imgTest);
  e_profile = MenuEntry(Popup, "e_profile", "Ed&it Profile", imgEdit);
  d_profile = MenuEntry(Popup, "d_profile", "De&lete Profile", imgDeleteProfile);
  sec_profile = Popup->addSeparator();
  sec_profile->setObjectName("sec_profile");
  run_profile = MenuEntry(Popup, "run_profile", "&Run", imgRun);
  compare_profile = MenuEntry(Popup, "compare_profile", "&Compare with Previous Run", imgRun);
  pop_browse = new QMenu(this);
  pop_browse->setObjectName("pop_browse");
  o_browse = MenuEntry(pop_browse, "o_browse", "&Browse", imgBrowse);
  o_properties = MenuEntry(pop_browse, "o_properties", "&Properties", imgEdit);
}

void TMainForm::WireCommands() {
  // Wiring.
  auto on = [this](QAction* a, void (TMainForm::*handler)()) {
    connect(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
  };
  on(mnu_file_exit, &TMainForm::mnu_file_exitClick);
  on(mnu_edit_object, &TMainForm::mnu_edit_objectClick);
  on(mnu_actions_test, &TMainForm::mnu_actions_testClick);
  on(mnu_actions_run, &TMainForm::mnu_actions_runClick);
  on(mnu_action_report, &TMainForm::mnu_action_reportClick);
  on(mnu_help_file, &TMainForm::mnu_help_fileClick);
  on(mnu_visit_website, &TMainForm::mnu_visit_websiteClick);
  on(mnu_help_about, &TMainForm::mnu_help_aboutClick);
  on(tb_add_server, &TMainForm::a_serverClick);
  on(tb_add_profile, &TMainForm::n_profileClick);
  on(tb_edit, &TMainForm::mnu_edit_objectClick);
  on(tb_test, &TMainForm::mnu_actions_testClick);
  on(tb_run, &TMainForm::mnu_actions_runClick);
  on(tb_export, &TMainForm::mnu_action_reportClick);
  on(tb_help, &TMainForm::mnu_help_aboutClick);
  on(tb_exit, &TMainForm::mnu_file_exitClick);
  on(a_server, &TMainForm::a_serverClick);
  on(e_server, &TMainForm::e_serverClick);
  on(d_server, &TMainForm::d_serverClick);
  on(r_schema, &TMainForm::r_schemaClick);
  on(n_profile, &TMainForm::n_profileClick);
  on(e_profile, &TMainForm::e_profileClick);
  on(d_profile, &TMainForm::d_profileClick);
  on(run_profile, &TMainForm::run_profileClick);
  on(mnu_actions_compare, &TMainForm::mnu_actions_compareClick);
  on(compare_profile, &TMainForm::compare_profileClick);
  on(o_browse, &TMainForm::o_browseClick);
  on(o_properties, &TMainForm::o_propertiesClick);
  // Copies the results as the clipboard format of "Export Report" does; a
  // key only (Ctrl+C), enabled with the export commands.
  copy_results = new QAction("Copy Results", this);
  copy_results->setObjectName("copy_results");
  copy_results->setEnabled(false);
  addAction(copy_results);
  on(copy_results, &TMainForm::copy_resultsClick);
  find_results = new QAction("Find in Results", this);
  find_results->setObjectName("find_results");
  addAction(find_results);
  connect(find_results, &QAction::triggered, this, [this] { resultsView->FocusFilter(); });
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  QTreeWidget* tv = nullptr;
  if (watched == tv_workspace->viewport()) tv = tv_workspace;
  if (watched == tv_browse->viewport()) tv = tv_browse;
  if (!tv) return QMainWindow::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      // Any button selects the node under the pointer, the right one included.
      auto* me = static_cast<QMouseEvent*>(event);
      if (QTreeWidgetItem* item = tv->itemAt(me->position().toPoint())) tv->setCurrentItem(item);
      break;
    }
    case QEvent::MouseButtonRelease:
      // The selection was made at the press; the toolbar follows it now.
      if (tv == tv_workspace) tv_workspaceMouseUp();
      break;
    case QEvent::ContextMenu: {
      auto* ce = static_cast<QContextMenuEvent*>(event);
      (tv == tv_workspace ? Popup : pop_browse)->popup(ce->globalPos());
      return true;
    }
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------- messages

void TMainForm::PaneLine(const std::string& line) {
  pending_.append(QString::fromStdString(line));
  // Report lines come with a box; the pane shows them before the box opens.
  FlushPane();
}

void TMainForm::FlushPane() {
  if (!pending_.isEmpty()) {
    rt_msg->AppendLines(pending_);
    pending_.clear();
  }
  rt_msg->viewport()->repaint();
  sinceFlush_.restart();
}

QStringList TMainForm::PaneLines() {
  FlushPane();
  return rt_msg->Lines();
}

void TMainForm::AddMessage(int kind, const std::string& text) {
  if (!OnGuiThread()) {
    // A progress line from a command's worker: queued, in order, for the window.
    PostToGuiThread(this, [this, kind, text] { AddMessage(kind, text); });
    return;
  }
  QString line;
  line.reserve(static_cast<qsizetype>(text.size()) + 1);
  line += QLatin1Char(' ');
  line += QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  pending_.append(std::move(line));
  StatusMessage = text;
  StatusKind = kind;
  // Every line reaches the pane; the pane and the status bar are repainted at
  // most every few tens of milliseconds, so long runs are not slowed down.
  if (sinceFlush_.elapsed() >= kRepaintIntervalMs) {
    FlushPane();
    RefreshStatus(true);
  }
  if (!flushScheduled_) {
    flushScheduled_ = true;
    QTimer::singleShot(0, this, [this] {
      flushScheduled_ = false;
      FlushPane();
      RefreshStatus(false);
    });
  }
}

void TMainForm::AddNumberedMessages(int kind, const std::string& prefix, int first, int last,
                                    const std::string& suffix) {
  if (last < first) return;
  // After the lines before them, in order.
  FlushPane();
  rt_msg->AppendNumbered(QLatin1Char(' ') + QString::fromStdString(prefix),
                         static_cast<std::uint64_t>(first), static_cast<std::uint64_t>(last),
                         QString::fromStdString(suffix));
  StatusMessage = prefix + std::to_string(last) + suffix;
  StatusKind = kind;
  FlushPane();
  RefreshStatus(true);
}

void TMainForm::ShowConnectionStatus(const TServerNodeData& server) {
  StatusUser = server.auth == "kerberos" ? "Kerberos"
               : server.uid.empty()      ? "Anonymous"
                                         : server.uid;
  StatusHost = server.server;
  RefreshStatus(true);
}

void TMainForm::RefreshStatus(bool now) {
  int panel = 0;
  for (const std::string* text : {&StatusMessage, &StatusHost, &StatusUser})
    Status->SetPanelText(panel++, QString::fromStdString(*text));
  if (now)
    Status->repaint();
  else
    Status->update();
}

QString TMainForm::StatusPanelText(int panel) const {
  const std::string& text = panel == 0 ? StatusMessage : panel == 1 ? StatusHost : StatusUser;
  if (text.empty()) return QString();
  return ShortenPanelText(QString::fromStdString(text), Status->PanelWidth(panel));
}

void TMainForm::StatusDrawPanel(QPainter& p, int panel, const QRect& r) {
  const std::string& text = panel == 0 ? StatusMessage : panel == 1 ? StatusHost : StatusUser;
  if (text.empty()) return;
  int icon = panel == 0 ? imgInfo + std::clamp(StatusKind, 0, 2) : panel == 1 ? imgServer : imgUser;
  p.drawPixmap(r.left(), r.top() + 1, ImageListPixmap(icon));
  p.drawText(r.adjusted(20, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
             StatusPanelText(panel));
}

void TMainForm::SizeStatusPanels() {
  int w = frameGeometry().width();
  Status->SetPanelWidth(0, RoundHalfEven(w * 0.5));
  Status->SetPanelWidth(1, RoundHalfEven(w * 0.2));
  Status->SetPanelWidth(2, RoundHalfEven(w * 0.3));
}

void TMainForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (Status) SizeStatusPanels();
}

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // Only when the window is first shown: restoring it from the task bar shows
  // it again and must keep the widths the user set.
  if (!shownOnce_) {
    shownOnce_ = true;
    for (int c = 0; c < gridModel->columnCount(); ++c) grid->setColumnWidth(c, 60);
  }
  SizeStatusPanels();
}

// ---------------------------------------------------------------- trees

void TMainForm::AddServerNode(QTreeWidgetItem* root, const QString& caption,
                              std::unique_ptr<TNodeData> d, int selectedImage) {
  auto* node = new TNodeItem(root, caption, std::move(d));
  node->setIcon(0, ImageListIcon(imgServer, selectedImage));
}

void TMainForm::LoadWorkspace() {
  tv_workspace->clear();
  tv_browse->clear();
  auto* wsRoot = new QTreeWidgetItem(tv_workspace, QStringList("Workspace"));
  wsRoot->setIcon(0, ImageListIcon(imgRoot, imgRoot));
  auto* brRoot = new QTreeWidgetItem(tv_browse, QStringList("Browser"));
  brRoot->setIcon(0, ImageListIcon(imgRoot, imgRoot));

  if (::data) {
    try {
      for (TCatalogueServer& entry : ReadCatalogue(*::data)) {
        auto d = std::make_unique<TNodeData>(std::move(entry.server));
        const QString caption = QString::fromStdString(d->name);
        auto browseCopy = std::make_unique<TNodeData>(*d);
        auto* wsNode = new TNodeItem(wsRoot, caption, std::move(d));
        wsNode->setIcon(0, ImageListIcon(imgServer, imgServerSelected));
        AddServerNode(brRoot, caption, std::move(browseCopy), imgServerSelected);
        for (TNodeData& profile : entry.profiles) {
          const QString pcaption = QString::fromStdString(profile.name);
          auto* pNode =
              new TNodeItem(wsNode, pcaption, std::make_unique<TNodeData>(std::move(profile)));
          pNode->setIcon(0, ImageListIcon(imgProfile, imgProfileSelected));
        }
      }
    } catch (const std::exception& e) {
      LogError(std::string("Error reading the catalogue: ") + e.what());
    }
  }
  tv_workspace->expandAll();
  tv_browse->expandAll();
}

QTreeWidgetItem* TMainForm::FindBrowseServerNode(const QString& caption) const {
  QTreeWidgetItem* root = tv_browse->topLevelItem(0);
  if (!root) return nullptr;
  for (int i = 0; i < root->childCount(); ++i)
    if (root->child(i)->text(0) == caption) return root->child(i);
  return nullptr;
}

void TMainForm::PopupPopup() {
  for (QAction* a : Popup->actions()) a->setVisible(false);
  QTreeWidgetItem* sel = tv_workspace->currentItem();
  if (!sel) return;
  TNodeData* d = NodeData(sel);
  if (!sel->parent()) {
    a_server->setVisible(true);
  } else if (d && d->kind == 0) {
    for (QAction* a : {e_server, d_server, r_schema, sec_server, n_profile}) a->setVisible(true);
  } else if (d && d->kind == 1) {
    for (QAction* a : {e_profile, d_profile, sec_profile, run_profile, compare_profile})
      a->setVisible(true);
  }
}

void TMainForm::pop_browsePopup() {
  QTreeWidgetItem* sel = tv_browse->currentItem();
  if (!sel) return;
  int level = NodeLevel(sel);
  o_browse->setVisible(level >= 1 && level <= 100);
  o_properties->setVisible(level >= 2 && level <= 100);
}

void TMainForm::tv_workspaceMouseUp() {
  QTreeWidgetItem* sel = tv_workspace->currentItem();
  if (!sel) return;
  for (QAction* a :
       {tb_add_server, tb_add_profile, tb_edit, tb_exit, tb_run, tb_export, tb_help, tb_test})
    a->setEnabled(false);
  TNodeData* d = NodeData(sel);
  if (!sel->parent()) {
    for (QAction* a : {tb_add_server, tb_exit, tb_help}) a->setEnabled(true);
  } else if (d && d->kind == 0) {
    for (QAction* a : {tb_add_profile, tb_edit, tb_exit, tb_help, tb_test}) a->setEnabled(true);
    if (d->server) ShowConnectionStatus(*d->server);
  } else if (d && d->kind == 1) {
    for (QAction* a : {tb_edit, tb_exit, tb_run, tb_help}) a->setEnabled(true);
    if (TNodeData* s = NodeData(sel->parent()); s && s->server) ShowConnectionStatus(*s->server);
  }
}

// ---------------------------------------------------------------- window commands

void TMainForm::mnu_file_exitClick() {
  close();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // A close request from the window manager while a command waits on a server
  // is not input the command holds back; "Exit" is disabled meanwhile, and so
  // is this.
  if (BusyWorkRunning()) {
    event->ignore();
    return;
  }
  if (!Confirm("Are you sure that you want to exit?")) {
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
  QCoreApplication::exit(0);
}

void TMainForm::FormClose() {
  for (QTreeWidget* tv : {tv_workspace, tv_browse}) {
    QTreeWidgetItem* top = tv->itemAt(1, 1);
    if (!top) top = tv->topLevelItem(0);
    if (top) tv->setCurrentItem(top);
  }
}

void TMainForm::mnu_help_fileClick() {
  ShowHelpContents(QString::fromStdString(AppPath + "help/index.html"), this);
}

void TMainForm::mnu_visit_websiteClick() {
  if (!UiSeam().OpenUrl(QString::fromLatin1(kWebsite))) LogError("Unable to launch browser!");
}

void TMainForm::mnu_help_aboutClick() {
  TSplashForm about(this);
  about.setWindowFlags(about.windowFlags() | Qt::Window);
  about.notice->setVisible(true);
  // Where the catalogue and the working store are (help/files.html explains).
  if (!Files.folder.empty()) {
    const QString path = QString::fromStdString(Files.catalogue);
    about.notice->setText(
        "Your catalogue:\n" +
        about.notice->fontMetrics().elidedText(path, Qt::ElideMiddle, about.notice->width() - 6));
    about.notice->setToolTip(quorvel::PlainToolTip(path));
  }
  about.show();
  about.repaint();
  HoldOnScreen(3000);
}

void TMainForm::mnu_action_reportClick() {
  export_->Run();
}

void TMainForm::copy_resultsClick() {
  // Selected cells go as they are shown; without a selection, the results.
  if (const QString cells = resultsView->CopySelection(); !cells.isEmpty()) {
    UiSeam().SetClipboardText(cells);
    return;
  }
  export_->CopyToClipboard();
}

void TMainForm::SetResultsTitle(const std::string& text) {
  titleText_ = text;
  UpdateResultsTitle();
}

void TMainForm::UpdateResultsTitle() {
  std::string text = titleText_;
  if (resultsView->Filtered()) {
    if (!text.empty() && text.back() == '.') text.pop_back();
    text += " (showing " + std::to_string(resultsView->ShownRows()) + ")";
  }
  title->setText(QString::fromStdString(text));
}

void TMainForm::SaveShownView(const QString& text) {
  if (shownProfileId_ <= 0 || !::data) return;
  const std::string view = text.toStdString();
  if (!::data->UpdateProfileView(std::to_string(shownProfileId_), view)) {
    AddMessage(1, "MSG: The layout of the grid could not be saved with the profile: " +
                      ::data->LastError());
    return;
  }
  // The tree's record follows, so the next run of the profile comes back so.
  for (QTreeWidgetItemIterator it(tv_workspace); *it; ++it) {
    TNodeData* d = NodeData(*it);
    if (d && d->kind == 1 && d->profile && d->id == shownProfileId_) d->profile->view = view;
  }
}
