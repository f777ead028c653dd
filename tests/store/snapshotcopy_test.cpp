// A run's values copied into the history file while the run stores them:
// what is kept is the run's last start whole, however the copy's steps fell,
// and a copy that went wrong or is not kept leaves the snapshot before.
#include "store/snapshotcopy.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "ldap/searchdriver.h"
#include "sqlstore/dataset.h"
#include "sqlstore/testutil.h"
#include "store/data.h"
#include "store/profilerun.h"
#include "testcatalogue.h"

using namespace quorvel;
using quorvel::test::TempDir;

namespace {

const TSnapshotFacts kFacts{"h:389", "o=x", 2, "(objectClass=*)", "cn", "2026-01-02 03:04:05 UTC"};

struct Store {
  TempDir dir;
  Tdata d;
  std::string history;
  Store() {
    const std::string catalogue = dir.Write("quorvel.db", "");
    quorvel::test::MakeCatalogue(catalogue);
    EXPECT_TRUE(InitDatabases(d, catalogue, dir.Write("dump.db", ""), quorvel::test::kEngine))
        << d.LastError();
    history = dir.Path() + "/history.db";
  }
  std::string Text(const std::string& sql) {
    TASQLite3Query q(&d.temp);
    q.RawSQL = true;
    q.SetSQL(sql);
    q.Open();
    std::string text = q.RecordCount() > 0 ? std::string(q.CellText(0, 0)) : "";
    q.Close();
    return text;
  }
};

void Give(TSearchSink& sink, const std::string& prefix, int n) {
  for (int i = 0; i < n; ++i) {
    auto entry = std::make_unique<TLDAPResult>();
    entry->SetObjectName("uid=" + prefix + std::to_string(i) + ",o=x");
    TLDAPAttribute cn = entry->Attributes().Add();
    cn.SetAttributeName("cn");
    cn.Add(prefix + " " + std::to_string(i));
    sink.Entry(entry, i);
  }
}

// Until the copier has taken a whole step after this call (at most 10 s).
bool StepPast(const TSnapshotCopier& copier) {
  const int from = copier.Steps();
  for (int i = 0; i < 200 && copier.Steps() < from + 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return copier.Steps() >= from + 2;
}

void End(TSearchSink& sink) {
  TSearchOutcome outcome;
  outcome.Code = 0;
  outcome.Failure = sfNone;
  sink.End(outcome);
}

// The values of the profile's snapshot that are the run's own, by entry.
std::string SameAsRun(Store& s) {
  return s.Text(
      "SELECT count(*) FROM history.snapshot_values_1 h JOIN export_values v "
      "ON v.entry = h.entry AND v.packed = h.packed");
}

}  // namespace

TEST(SnapshotCopier, KeepsTheRunsLastStartWholeHoweverTheStepsFell) {
  Store s;
  TExportRowStream rows(s.d, "cn", false, true);
  rows.SetBatchRows(10);
  std::string error;
  {
    TSnapshotCopier copier(s.d.temp, s.history, 1, rows);
    TSearchSink& sink = *rows.Sink();
    Give(sink, "first", 45);
    ASSERT_TRUE(StepPast(copier));
    // The search starts over: what was copied of the first start goes.
    sink.Restart();
    Give(sink, "b", 25);
    ASSERT_TRUE(StepPast(copier));
    // The last rows are neither stored nor copied yet when the search ends.
    Give(sink, "c", 7);
    End(sink);
    copier.Stop();
    ASSERT_TRUE(rows.Finish()) << rows.Error();
    THistory history(s.d.temp);
    ASSERT_TRUE(history.Open(s.history, error)) << error;
    ASSERT_TRUE(copier.Keep(history, kFacts, rows.RowsTable(), error)) << error;
    EXPECT_EQ(s.Text("SELECT count(*) FROM history.snapshot_values_1"), "32");
    EXPECT_EQ(SameAsRun(s), "32");
    EXPECT_EQ(s.Text("SELECT count(*) FROM history.sqlite_master WHERE name LIKE 'snapshot_next%'"),
              "0");
    EXPECT_EQ(s.Text("SELECT taken FROM history.snapshots WHERE profile = 1"), kFacts.taken);
  }
}

TEST(SnapshotCopier, ACopyTakenAwayIsMadeAgainAndOneNotKeptLeavesTheSnapshotBefore) {
  Store s;
  std::string error;
  THistory history(s.d.temp);
  ASSERT_TRUE(history.Open(s.history, error)) << error;
  {
    // Another run of the profile prepares meanwhile and takes this copy's
    // place: the copier's next step fails, and Keep copies the run anew, as
    // a run kept without a copier would.
    TExportRowStream rows(s.d, "cn", false, true);
    rows.SetBatchRows(5);
    TSnapshotCopier copier(s.d.temp, s.history, 1, rows);
    Give(*rows.Sink(), "a", 20);
    ASSERT_TRUE(StepPast(copier));
    ASSERT_TRUE(history.PrepareStart(1, error)) << error;
    Give(*rows.Sink(), "b", 10);
    End(*rows.Sink());
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    copier.Stop();
    ASSERT_TRUE(rows.Finish()) << rows.Error();
    ASSERT_TRUE(copier.Keep(history, kFacts, rows.RowsTable(), error)) << error;
    EXPECT_EQ(SameAsRun(s), "30");
  }
  const std::string kept = s.Text("SELECT count(*) FROM history.snapshot_values_1");
  ASSERT_EQ(kept, "30");
  {
    // A run that is not kept (the search did not end well): its copy goes
    // with the copier, and the snapshot stays the one before.
    TExportRowStream rows(s.d, "cn", false, true);
    rows.SetBatchRows(5);
    TSnapshotCopier copier(s.d.temp, s.history, 1, rows);
    Give(*rows.Sink(), "z", 12);
    ASSERT_TRUE(StepPast(copier));
    EXPECT_EQ(s.Text("SELECT count(*) FROM history.sqlite_master WHERE name LIKE 'snapshot_next%'"),
              "1");
  }
  EXPECT_EQ(s.Text("SELECT count(*) FROM history.sqlite_master WHERE name LIKE 'snapshot_next%'"),
            "0");
  EXPECT_EQ(s.Text("SELECT count(*) FROM history.snapshot_values_1"), kept);
  EXPECT_EQ(s.Text("SELECT taken FROM history.snapshots WHERE profile = 1"), kFacts.taken);
}
