#include "app/guifixture.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTableView>

#include "app/apptool.h"
#include "app/gridmodel.h"
#include "app/keyboard.h"
#include "app/splash.h"
#include "common/slapd_env.h"
#include "sqlstore/dataset.h"

namespace quorvel::test {

void TGuiTest::SetUp() {
  SetPausesEnabled(false);
  dir_ = std::make_unique<QTemporaryDir>();
  ASSERT_TRUE(dir_->isValid());
  folder_ = dir_->path().toStdString() + "/";
  const std::string err = tool::PrepareProgramFolder(BinaryDir(), SourceDir(), folder_);
  ASSERT_EQ(err, "");
  seam_ = std::make_unique<TTestSeam>();
  SetProgramFolder(folder_);
}

void TGuiTest::TearDown() {
  if (form_) {
    seam_->defaultAnswer = true;
    form_->hide();
  }
  form_.reset();
  data = nullptr;
  module_.reset();
  seam_.reset();
  SetProgramFolder(std::string());
}

void TGuiTest::Catalogue(const std::vector<TServerRow>& servers,
                         const std::vector<TProfileRow>& profiles) {
  Tdata d;
  ASSERT_TRUE(tool::OpenProgramFolder(d, folder_)) << d.LastError();
  serverIds_.clear();
  for (const auto& s : servers) {
    int id = d.AddServer(s.name, s.host, std::to_string(s.port), s.ssl, s.uid, s.pwd, s.basedn);
    ASSERT_NE(id, 0) << d.LastError();
    ASSERT_TRUE(d.SetServerReferrals(std::to_string(id), s.referrals)) << d.LastError();
    serverIds_.push_back(id);
  }
  for (const auto& p : profiles) {
    int sid = p.server < 0 ? 9999 : serverIds_.at(static_cast<std::size_t>(p.server));
    ASSERT_NE(d.AddProfile(p.name, std::to_string(sid), p.basedn, std::to_string(p.scope), p.filter,
                           p.att),
              0)
        << d.LastError();
  }
}

void TGuiTest::Start(bool withHelp) {
  if (!withHelp) QDir(dir_->filePath("help")).removeRecursively();
  module_ = std::make_unique<Tdata>();
  data = module_.get();
  form_ = std::make_unique<TMainForm>();
  form_->show();
  QApplication::processEvents();
}

QTreeWidgetItem* TGuiTest::Item(QTreeWidget* tv, const QStringList& path) {
  QTreeWidgetItem* it = tv->topLevelItem(0);
  for (const QString& caption : path) {
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; it && i < it->childCount(); ++i)
      if (it->child(i)->text(0) == caption) next = it->child(i);
    it = next;
  }
  return it;
}

void TGuiTest::Click(QTreeWidget* tv, QTreeWidgetItem* item, Qt::MouseButton b) {
  tv->scrollToItem(item);
  const QPoint pos = tv->visualItemRect(item).center();
  QTest::mouseClick(tv->viewport(), b, Qt::NoModifier, pos);
}

QStringList TGuiTest::OpenPopup(QTreeWidget* tv, QTreeWidgetItem* item) {
  QPoint pos(2, tv->viewport()->height() - 2);  // empty space below the nodes
  if (item) {
    Click(tv, item, Qt::RightButton);
    pos = tv->visualItemRect(item).center();
  }
  QMenu* menu = tv == form_->tv_workspace ? form_->Popup : form_->pop_browse;
  if (!menu->isVisible()) {
    QContextMenuEvent ev(QContextMenuEvent::Mouse, pos, tv->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(tv->viewport(), &ev);
  }
  QStringList visible;
  for (QAction* a : menu->actions())
    if (a->isVisible()) visible.append(a->isSeparator() ? "-" : WithoutMnemonic(a->text()));
  menu->close();
  return visible;
}

QStringList TGuiTest::Captions(QTreeWidgetItem* item) {
  QStringList out;
  for (int i = 0; item && i < item->childCount(); ++i) out.append(item->child(i)->text(0));
  return out;
}

std::vector<std::string> TGuiTest::CatalogueRows(const std::string& table,
                                                 const std::string& columns) {
  std::vector<std::string> rows;
  TASQLite3DB db;
  db.SetDriverDLL(folder_ + "lib/quorvel.so");
  db.SetDatabase(folder_ + "lib/quorvel.db");
  db.Open();
  TASQLite3Query q(&db);
  q.SetSQL("SELECT " + columns + " FROM " + table + " ORDER BY id");
  q.Open();
  for (int r = 0; r < q.RecordCount(); ++r) {
    std::string line;
    for (int c = 0; c < q.FieldCount(); ++c) {
      if (c) line += "|";
      line += q.FieldDef(c).name + "=" + std::string(q.CellText(r, c));
    }
    rows.push_back(line);
  }
  q.Close();
  db.Close();
  return rows;
}

QString TGuiTest::Cell(int row, int col) const {
  return form_->grid->model()->index(row, col).data().toString();
}

QStringList TGuiTest::Columns() const {
  QStringList out;
  auto* m = form_->grid->model();
  for (int c = 0; c < m->columnCount(); ++c)
    out.append(m->headerData(c, Qt::Horizontal).toString());
  return out;
}

}  // namespace quorvel::test
