// "Compare with Previous Run" in the window against the private directory
// server: a run keeps its snapshot, the comparison shows the change rows in
// the grid (filter, copy and export as any result), and the title line names
// the snapshot's time. The directory is shared with other tests, so the
// changes are made to the snapshot instead (the comparison itself is tested
// against a changing directory by the report runner's test).
#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>

#include "app/exporthookup.h"
#include "app/guifixture.h"
#include "app/resultsview.h"
#include "common/slapd_env.h"
#include "export/kxexport.h"
#include "sqlstore/database.h"
#include "sqlstore/dataset.h"
#include "sqlstore/entryvalues.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

class CompareTest : public TGuiTest {
 protected:
  void SetUp() override {
    TGuiTest::SetUp();
    env_ = &Slapd();
  }
  // Runs a statement on the history file through a connection of its own.
  void History(const std::string& sql) {
    TASQLite3DB db;
    db.SetDriverDLL(module_->temp.DriverDLL());
    db.SetDatabase(folder_ + "lib/history.db");
    db.Open();
    db.ExecDirect(sql);
  }
  // Gives the snapshot entry of `dn` the first value `cn` (its values are
  // packed, one row per entry).
  void SetSnapshotCn(const std::string& table, const std::string& dn, const std::string& cn) {
    TASQLite3DB db;
    db.SetDriverDLL(module_->temp.DriverDLL());
    db.SetDatabase(folder_ + "lib/history.db");
    db.Open();
    PreparedStatement read(db, "SELECT entry, packed FROM " + table +
                                   " WHERE quorvel_entry_value(packed, 0) = CAST(?1 AS BLOB)");
    read.BindText(1, dn);
    ASSERT_TRUE(read.Step());
    const int64_t entry = read.ColumnInt64(0);
    TEntryValues values;
    ASSERT_TRUE(UnpackEntryValues(read.ColumnBytes(1), 3, values));
    read.Reset();
    values.Columns[1].Values = {cn};
    std::string packed;
    PackEntryValues(values, packed);
    PreparedStatement write(db, "UPDATE " + table + " SET packed = ?1 WHERE entry = ?2");
    write.BindBlob(1, packed);
    write.BindInt64(2, entry);
    write.Run();
  }
  // The table of the one profile's snapshot values.
  std::string SnapshotTableName() {
    TASQLite3DB db;
    db.SetDriverDLL(module_->temp.DriverDLL());
    db.SetDatabase(folder_ + "lib/history.db");
    db.Open();
    TASQLite3Query q(&db);
    q.RawSQL = true;
    q.SetSQL("SELECT name FROM sqlite_master WHERE name LIKE 'snapshot\\_values\\_%' ESCAPE '\\'");
    q.Open();
    return q.RecordCount() == 1 ? std::string(q.CellText(0, 0)) : std::string();
  }
  QStringList Rows() const {
    QStringList rows;
    for (int r = 0; r < form_->grid->model()->rowCount(); ++r) {
      QStringList cells;
      for (int c = 0; c < 5; ++c) cells << Cell(r, c);
      rows << cells.join('|');
    }
    return rows;
  }
  const SlapdEnv* env_ = nullptr;
};

TEST_F(CompareTest, ShowsWhatChangedSinceTheLastCompleteRun) {
  QUORVEL_REQUIRE_SLAPD(*env_);
  const std::string people = "ou=people," + env_->base;
  Catalogue({TServerRow("dir", env_->host, env_->port, "N", env_->adminDn, env_->adminPw)},
            {{"two", 0, people, 2, "(|(uid=tuser)(uid=smithj))", "cn;sn"}});
  Start();
  auto* tv = form_->tv_workspace;
  // A plain run keeps the snapshot.
  Click(tv, Item(tv, {"dir", "two"}));
  form_->tb_run->trigger();
  ASSERT_EQ(form_->grid->model()->rowCount(), 2);
  ASSERT_TRUE(QFile::exists(QString::fromStdString(folder_ + "lib/history.db")));
  // As if smithj had been added and tuser's cn changed since.
  const std::string smithj = "cn=Smith\\2C John," + people, tuser = "uid=tuser," + people;
  const std::string table = SnapshotTableName();
  ASSERT_FALSE(table.empty());
  SetSnapshotCn(table, tuser, "Old Name");
  History("DELETE FROM " + table + " WHERE quorvel_entry_value(packed, 0) = CAST('" + smithj +
          "' AS BLOB); UPDATE snapshots SET taken = '2026-01-02 03:04:05 UTC'");

  // From the profile's context menu.
  ASSERT_TRUE(OpenPopup(tv, Item(tv, {"dir", "two"})).contains("Compare with Previous Run"));
  form_->compare_profile->trigger();
  EXPECT_TRUE(seam_->Errors().isEmpty()) << seam_->Errors().join("\n").toStdString();
  EXPECT_EQ(Columns(), QStringList({"change", "dn", "attribute", "old", "new"}));
  const QStringList rows = Rows();
  ASSERT_GE(rows.size(), 3) << rows.join("\n").toStdString();
  EXPECT_TRUE(rows[0].startsWith("added|" + QString::fromStdString(smithj) + "|cn||"))
      << rows.join("\n").toStdString();
  EXPECT_EQ(rows.last().toStdString(), "changed|" + tuser + "|cn|Old Name|Test User");
  EXPECT_EQ(form_->title->text().toStdString(),
            "Changes on server \"" + env_->host + "\" on object \"" + people +
                "\" with scope \"Sub Containers\" with filter \"(|(uid=tuser)(uid=smithj))\" "
                "since the snapshot of 2026-01-02 03:04:05 UTC: 1 entry added, 0 removed, 0 "
                "renamed, 1 changed.");

  // The grid's filter and copy work on the change rows; the DN copied is the dn column.
  form_->resultsView->FilterBox()->setText("old name");
  ASSERT_EQ(form_->grid->model()->rowCount(), 1);
  EXPECT_EQ(form_->resultsView->DnText(0).toStdString(), tuser);
  seam_->Clear();
  form_->copy_results->trigger();
  EXPECT_TRUE(seam_->clipboard.contains("Old Name")) << seam_->clipboard.toStdString();
  EXPECT_FALSE(seam_->clipboard.contains("Smith")) << seam_->clipboard.toStdString();
  form_->resultsView->FilterBox()->clear();

  // Exported like any result.
  TkxHeadlessDesktop desktop;
  TkxDBGridExport& engine = form_->ExportHookup().Engine();
  engine.SetDesktop(&desktop);
  desktop.SelectAnswer = true;
  desktop.SelectTypeAnswer = xtCSV;
  desktop.SelectStyleAnswer = xsFile;
  desktop.SaveAnswer = folder_ + "data/changes.csv";
  form_->mnu_action_report->trigger();
  QFile csv(QString::fromStdString(folder_ + "data/changes.csv"));
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(csv.readAll());
  EXPECT_TRUE(text.startsWith("change,dn,attribute,old,new\r\n")) << text.toStdString();
  EXPECT_TRUE(text.contains("changed,\"uid=tuser," + QString::fromStdString(people) +
                            "\",cn,\"Old Name\",\"Test User\"\r\n"))
      << text.toStdString();

  // The comparison became the snapshot: from the Actions menu, nothing changed.
  Click(tv, Item(tv, {"dir", "two"}));
  form_->mnu_actions_compare->trigger();
  EXPECT_EQ(form_->grid->model()->rowCount(), 0);
  EXPECT_NE(form_->title->text().toStdString().find(
                ": 0 entries added, 0 removed, 0 renamed, 0 changed."),
            std::string::npos)
      << form_->title->text().toStdString();
  // A plain run shows its rows again, in its own layout.
  form_->tb_run->trigger();
  EXPECT_EQ(Columns(), QStringList({"oid", "cn", "sn"}));
  EXPECT_EQ(form_->grid->model()->rowCount(), 2);

  // A deleted profile's values do not stay in the history file.
  Click(tv, Item(tv, {"dir", "two"}));
  form_->d_profile->trigger();
  EXPECT_EQ(SnapshotTableName(), "");
}

}  // namespace
