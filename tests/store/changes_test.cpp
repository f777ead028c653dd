// Change rows of two runs of a profile, made from their exact values: the
// cases the directory scenario of the report test does not reach (an entry
// without values, an attribute emptied, binary and readable values, an
// entry without the identity value), and a snapshot that stays whole when
// keeping the next one fails.
#include "store/changes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "sqlstore/dataset.h"
#include "sqlstore/testutil.h"
#include "store/data.h"
#include "store/stagedtable.h"

using namespace quorvel;
using quorvel::test::kEngine;
using quorvel::test::TempDir;

namespace {

struct TEntry {
  std::string dn;
  std::vector<std::vector<std::string>> values;  // per requested column
};

class ChangesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db.SetDriverDLL(kEngine);
    db.SetDatabase(dir.Write("dump.db", ""));
    db.Open();
  }
  // Publishes a run of `att` as `export` with its exact values.
  void Run(const std::string& att, const std::vector<TEntry>& entries) {
    TStagedExportTable stage(db);
    ASSERT_TRUE(stage.Create("oid;" + att)) << stage.Error();
    for (const TEntry& e : entries) {
      TEntryValues v;
      v.DN = e.dn;
      v.Columns.resize(e.values.size() + 1);
      std::vector<std::string> row{e.dn};
      for (std::size_t c = 0; c < e.values.size(); ++c) {
        v.Columns[c + 1].Name = e.values[c].empty() ? "" : "a";
        v.Columns[c + 1].Values = e.values[c];
        row.push_back(e.values[c].empty() ? "" : e.values[c][0]);
      }
      ASSERT_TRUE(stage.Append(row, v)) << stage.Error();
    }
    ASSERT_TRUE(stage.Publish(TStagedExportTable::psMove)) << stage.Error();
  }
  std::vector<std::string> ChangeRows() {
    TASQLite3Query q(&db);
    q.RawSQL = true;
    q.SetSQL("SELECT * FROM changes ORDER BY dn, rowid");
    q.Open();
    std::vector<std::string> rows;
    for (int r = 0; r < q.RecordCount(); ++r) {
      std::string row;
      for (int f = 0; f < q.FieldCount(); ++f)
        row += (f ? "|" : "") + std::string(q.CellText(r, f));
      rows.push_back(row);
    }
    return rows;
  }
  // Keeps the first run, compares the second with it.
  TChangeOutcome Compare(const std::string& att, bool readable, const std::vector<TEntry>& before,
                         const std::vector<TEntry>& after) {
    std::string error;
    const TSnapshotFacts facts{"h:389", "dc=x", 2, "(cn=*)", att, "2026-01-02 03:04:05 UTC"};
    const auto columns = RequestedColumns(att, readable);
    TChangeOutcome out;
    {
      THistory history(db);
      EXPECT_TRUE(history.Open(dir.Path() + "/history.db", error)) << error;
      Run(att, before);
      EXPECT_TRUE(CompareRun(history, 1, facts, true, "export", columns, "changes", out, error));
      EXPECT_TRUE(history.Keep(1, facts, "export", error)) << error;
    }
    THistory next(db);
    EXPECT_TRUE(next.Open(dir.Path() + "/history.db", error)) << error;
    Run(att, after);
    EXPECT_TRUE(CompareRun(next, 1, facts, true, "export", columns, "changes", out, error))
        << error;
    return out;
  }

  TempDir dir;
  TASQLite3DB db;
};

TEST_F(ChangesTest, RowsOfEntriesAttributesAndValuesNoRunShowsOtherwise) {
  const std::string guid("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10", 16);
  const std::string photo("\x00\xff\x10", 3);
  const TChangeOutcome out = Compare("objectGUID;cn;jpegPhoto;description", true,
                                     {{"cn=a,dc=x", {{guid}, {"a"}, {}, {"one", "two"}}},
                                      {"cn=b,dc=x", {{}, {"b"}, {photo}, {"x"}}},
                                      {"cn=gone,dc=x", {{}, {}, {}, {}}}},
                                     {{"cn=a2,dc=x", {{guid}, {"a"}, {}, {"two"}}},
                                      {"cn=b,dc=x", {{}, {"b"}, {}, {"x", "y"}}},
                                      {"cn=bare,dc=x", {{}, {}, {}, {}}}});
  EXPECT_TRUE(out.compared);
  const std::vector<std::string> expected = {
      // The identity matches across the rename.
      "renamed|cn=a2,dc=x|dn|cn=a,dc=x|cn=a2,dc=x",
      "changed|cn=a2,dc=x|description|one|",
      // Without the identity value an entry is matched by its DN; a binary
      // value shows as Base64; one value to two is a row per value.
      "changed|cn=b,dc=x|jpegPhoto|AP8Q|",
      "changed|cn=b,dc=x|description||y",
      "added|cn=bare,dc=x|||",
      "removed|cn=gone,dc=x|||",
  };
  EXPECT_EQ(ChangeRows(), expected);
  EXPECT_EQ(out.counts.Text(), "1 entry added, 1 removed, 1 renamed, 2 changed");
  EXPECT_EQ(out.line, "Since 2026-01-02 03:04:05 UTC: " + out.counts.Text() + ".");
  struct stat st {};
  ASSERT_EQ(::stat((dir.Path() + "/history.db").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ChangesTest, AChangedSearchOrAnIncompleteRunIsNotCompared) {
  std::string error;
  auto history = std::make_unique<THistory>(db);
  ASSERT_TRUE(history->Open(dir.Path() + "/history.db", error)) << error;
  // One history object per run.
  auto nextRun = [&] {
    history.reset();
    history = std::make_unique<THistory>(db);
    ASSERT_TRUE(history->Open(dir.Path() + "/history.db", error)) << error;
  };
  const auto columns = RequestedColumns("cn", false);
  TSnapshotFacts facts{"h:389", "dc=x", 2, "(cn=*)", "cn", "T1"};
  Run("cn", {{"cn=a,dc=x", {{"a"}}}});
  TChangeOutcome out;
  ASSERT_TRUE(CompareRun(*history, 7, facts, true, "export", columns, "changes", out, error));
  EXPECT_FALSE(out.compared);
  EXPECT_TRUE(out.keep);
  EXPECT_NE(out.line.find("no snapshot"), std::string::npos) << out.line;
  ASSERT_TRUE(history->Keep(7, facts, "export", error)) << error;

  nextRun();
  Run("cn", {{"cn=b,dc=x", {{"b"}}}});
  ASSERT_TRUE(CompareRun(*history, 7, facts, false, "export", columns, "changes", out, error));
  EXPECT_FALSE(out.compared);
  EXPECT_FALSE(out.keep);
  EXPECT_EQ(out.line,
            "The search did not end well: nothing was compared, and the snapshot of T1 is kept.");
  EXPECT_TRUE(ChangeRows().empty());

  TSnapshotFacts other = facts;
  other.filter = "(sn=*)";
  ASSERT_TRUE(CompareRun(*history, 7, other, true, "export", columns, "changes", out, error));
  EXPECT_FALSE(out.compared);
  EXPECT_TRUE(out.keep);
  EXPECT_NE(out.line.find("have changed since its snapshot of T1"), std::string::npos);

  // Keeping fails half-way (the history file cannot take the write): the
  // snapshot before stays whole.
  db.ExecDirect(
      "CREATE TEMP TRIGGER refuse BEFORE INSERT ON history.snapshots "
      "BEGIN SELECT RAISE(ABORT, 'no room'); END");
  EXPECT_FALSE(history->Keep(7, other, "export", error));
  EXPECT_NE(error.find("no room"), std::string::npos) << error;
  db.ExecDirect("DROP TRIGGER temp.refuse");
  nextRun();
  std::optional<TSnapshotFacts> kept;
  ASSERT_TRUE(history->Snapshot(7, kept, error));
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->filter, "(cn=*)");
  ASSERT_TRUE(CompareRun(*history, 7, facts, true, "export", columns, "changes", out, error));
  EXPECT_TRUE(out.compared);
  EXPECT_EQ(ChangeRows(),
            (std::vector<std::string>{"removed|cn=a,dc=x|cn|a|", "added|cn=b,dc=x|cn||b"}));
}

// A history file kept by the earlier layout (a row per value) is still
// compared with, by identity as by DN; the next run kept takes its place in
// the packed layout.
TEST_F(ChangesTest, ASnapshotOfTheEarlierLayoutIsStillComparedWith) {
  std::string error;
  const auto columns = RequestedColumns("entryUUID;mail", false);
  const TSnapshotFacts facts{"h:389", "dc=x", 2, "(cn=*)", "entryUUID;mail", "T0"};
  {
    THistory history(db);
    ASSERT_TRUE(history.Open(dir.Path() + "/history.db", error)) << error;
    db.ExecDirect(
        "CREATE TABLE history.snapshot_values_4 (entry INTEGER NOT NULL, col INTEGER NOT NULL, "
        "position INTEGER NOT NULL, value BLOB NOT NULL, PRIMARY KEY (entry, col, position)) "
        "WITHOUT ROWID;"
        "INSERT INTO history.snapshot_values_4 VALUES (1, 0, 0, 'cn=old,dc=x'), (1, 1, 0, 'u1'), "
        "(1, 2, 0, 'a@x'), (1, 2, 1, 'b@x'), (2, 0, 0, 'cn=gone,dc=x'), (2, 1, 0, 'u2');"
        "INSERT INTO history.snapshots VALUES (4, 'h:389', 'dc=x', 2, '(cn=*)', "
        "'entryUUID;mail', 'T0')");
    Run("entryUUID;mail", {{"cn=new,dc=x", {{"u1"}, {"b@x", "c@x"}}}});
    TChangeOutcome out;
    ASSERT_TRUE(CompareRun(history, 4, facts, true, "export", columns, "changes", out, error))
        << error;
    EXPECT_TRUE(out.compared);
    EXPECT_EQ(ChangeRows(), (std::vector<std::string>{
                                "removed|cn=gone,dc=x|entryUUID|u2|",
                                "renamed|cn=new,dc=x|dn|cn=old,dc=x|cn=new,dc=x",
                                "changed|cn=new,dc=x|mail|a@x|",
                                "changed|cn=new,dc=x|mail||c@x",
                            }));
    ASSERT_TRUE(history.Keep(4, facts, "export", error)) << error;
  }
  THistory next(db);
  ASSERT_TRUE(next.Open(dir.Path() + "/history.db", error)) << error;
  Run("entryUUID;mail", {{"cn=new,dc=x", {{"u1"}, {"b@x", "c@x"}}}});
  TChangeOutcome out;
  ASSERT_TRUE(CompareRun(next, 4, facts, true, "export", columns, "changes", out, error)) << error;
  EXPECT_TRUE(out.compared);
  EXPECT_TRUE(ChangeRows().empty());
  EXPECT_EQ(out.counts.Text(), "0 entries added, 0 removed, 0 renamed, 0 changed");
}

// A run is kept in two steps: copied into the history file beside the
// snapshot, then made the snapshot. A copy that is never made the snapshot
// (a report not written, a stop) leaves the snapshot before; of two runs of
// one profile kept at once, the one copied last is kept and the other is
// told so.
TEST_F(ChangesTest, OnlyAReplacedCopyBecomesTheSnapshotAndOfTwoAtOnceTheLastCopied) {
  std::string error;
  const std::string file = dir.Path() + "/history.db";
  const auto columns = RequestedColumns("cn", false);
  TSnapshotFacts facts{"h:389", "dc=x", 2, "(cn=*)", "cn", "T0"};
  auto historyTables = [&] {
    TASQLite3DB h;
    h.SetDriverDLL(kEngine);
    h.SetDatabase(file);
    std::vector<std::string> tables;
    h.GetTableNames(tables);
    return tables;
  };
  const std::vector<std::string> snapshotOnly{"snapshot_values_5", "snapshots"};
  TASQLite3DB other;
  other.SetDriverDLL(kEngine);
  other.SetDatabase(db.Database());
  other.Open();
  THistory history(db);
  ASSERT_TRUE(history.Open(file, error)) << error;
  Run("cn", {{"cn=a,dc=x", {{"a"}}}});
  ASSERT_TRUE(history.Keep(5, facts, "export", error)) << error;
  Run("cn", {{"cn=b,dc=x", {{"b"}}}});
  {
    THistory copy(other);
    ASSERT_TRUE(copy.Open(file, error)) << error;
    ASSERT_TRUE(copy.Prepare(5, "export", error)) << error;
    EXPECT_EQ(historyTables().size(), 3u);
  }
  EXPECT_EQ(historyTables(), snapshotOnly);
  TChangeOutcome out;
  ASSERT_TRUE(CompareRun(history, 5, facts, true, "export", columns, "changes", out, error));
  EXPECT_EQ(ChangeRows(),
            (std::vector<std::string>{"removed|cn=a,dc=x|cn|a|", "added|cn=b,dc=x|cn||b"}));

  // A copy left by a run that was stopped goes with the next one kept.
  db.ExecDirect(
      "CREATE TABLE history.snapshot_next_5_00000000deadbeef (entry INTEGER PRIMARY KEY, "
      "packed BLOB NOT NULL)");
  THistory copy(other);
  ASSERT_TRUE(copy.Open(file, error)) << error;
  ASSERT_TRUE(copy.Prepare(5, "export", error)) << error;
  ASSERT_TRUE(history.Prepare(5, "export", error)) << error;
  EXPECT_EQ(historyTables().size(), 3u);
  facts.taken = "T1";
  EXPECT_FALSE(copy.Replace(5, facts, error));
  EXPECT_NE(error.find("another run of the same profile"), std::string::npos) << error;
  facts.taken = "T2";
  ASSERT_TRUE(history.Replace(5, facts, error)) << error;
  EXPECT_EQ(historyTables(), snapshotOnly);
  std::optional<TSnapshotFacts> kept;
  ASSERT_TRUE(history.Snapshot(5, kept, error));
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->taken, "T2");
  ASSERT_TRUE(CompareRun(history, 5, facts, true, "export", columns, "changes", out, error));
  EXPECT_TRUE(out.compared);
  EXPECT_TRUE(ChangeRows().empty());
}

// Replacing a snapshot reuses the old one's pages without zeroing them
// first, but a profile's snapshot that is forgotten (the profile deleted)
// leaves none of its values' bytes in the history file.
TEST_F(ChangesTest, AForgottenSnapshotLeavesNoValueInTheFile) {
  std::string error;
  const TSnapshotFacts facts{"h:389", "dc=x", 2, "(cn=*)", "mail", "T0"};
  std::vector<TEntry> entries;
  for (int i = 0; i < 2000; ++i)
    entries.push_back({"cn=p" + std::to_string(i) + ",dc=x", {{"zq" + std::to_string(i) + "@q"}}});
  const std::string file = dir.Path() + "/history.db";
  THistory history(db);
  ASSERT_TRUE(history.Open(file, error)) << error;
  Run("mail", entries);
  ASSERT_TRUE(history.Keep(3, facts, "export", error)) << error;
  ASSERT_TRUE(history.Keep(3, facts, "export", error)) << error;
  auto contents = [&] {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  ASSERT_NE(contents().find("zq1999@q"), std::string::npos);
  ASSERT_TRUE(history.Forget(3, error)) << error;
  const std::string after = contents();
  EXPECT_EQ(after.find("zq1999@q"), std::string::npos);
  EXPECT_EQ(after.find("zq0@q"), std::string::npos);
  EXPECT_EQ(after.find("cn=p1500,dc=x"), std::string::npos);
}

}  // namespace
