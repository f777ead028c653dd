// Several programs on one working store, as two windows on one program folder
// are: real processes run their profiles against the private directory server
// at the same time, each reading its rows back as the window's grid does.
// Every run must see exactly its own search's rows and none may fail because
// the store is busy; `export` ends as the whole of one run.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/slapd_env.h"
#include "ldap/searchdriver.h"
#include "sqlstore/testutil.h"
#include "store/connect.h"
#include "store/data.h"
#include "store/profilerun.h"
#include "store/testcatalogue.h"

using quorvel::test::Slapd;
using quorvel::test::TempDir;

namespace {

TProfileNodeData People(const std::string& filter) {
  TProfileNodeData p;
  p.basedn = "ou=people," + Slapd().base;
  p.scope = 2;
  p.filter = filter;
  p.att = "cn;mail;sn";
  return p;
}

// Rows of `table` read in place as the grid reads them, cells joined by "|";
// empty when it failed.
std::vector<std::string> ReadRows(Tdata& d, const std::string& table) {
  std::vector<std::string> rows;
  std::string error;
  if (!quorvel::OpenExportRows(d, &error, table)) {
    std::fprintf(stderr, "reading %s: %s\n", table.c_str(), error.c_str());
    return rows;
  }
  try {
    for (int r = 0; r < d.run.RecordCount(); ++r) {
      std::string row;
      for (int c = 0; c < d.run.FieldCount(); ++c) row += std::string(d.run.CellText(r, c)) + "|";
      rows.push_back(row);
    }
    d.run.Close();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "reading %s: %s\n", table.c_str(), e.what());
  }
  return rows;
}

// One window's run, as run_profileClick makes it: rows stored while the
// entries arrive into the run's own table, then read back from it. Empty
// when any step failed (said on stderr).
std::vector<std::string> WindowRun(Tdata& d, const TProfileNodeData& profile) {
  std::unique_ptr<TLDAPSend> ldap = ConnectServer(quorvel::test::AdminServer());
  if (!ldap) return {};
  quorvel::TExportRowStream rows(d, profile.att, false, true);
  if (!SearchProfileInto(ldap.get(), profile, *rows.Sink())) return {};
  if (!rows.Finish()) {
    std::fprintf(stderr, "%s\n", rows.Error().c_str());
    return {};
  }
  return ReadRows(d, rows.RowsTable());
}

class SharedStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QUORVEL_REQUIRE_SLAPD(Slapd());
    catalogue = dir.Write("quorvel.db", "");
    quorvel::test::MakeCatalogue(catalogue);
    working = dir.Write("dump.db", "");
  }
  bool Init(Tdata& d) { return InitDatabases(d, catalogue, working, quorvel::test::kEngine); }

  TempDir dir;
  std::string catalogue, working;
};

TEST_F(SharedStoreTest, ProgramsOnOneStoreEachGetExactlyTheirOwnRows) {
  // Searches of very different sizes, so that the short ones start, stage and
  // publish while the long ones are still receiving.
  const std::vector<std::string> filters = {"(uid=user1*)", "(uid=user000*)", "(uid=user2*)",
                                            "(uid=user00*)"};
  std::vector<std::vector<std::string>> expected;
  {
    TempDir own;
    const std::string ownCatalogue = own.Write("quorvel.db", "");
    quorvel::test::MakeCatalogue(ownCatalogue);
    Tdata d;
    ASSERT_TRUE(InitDatabases(d, ownCatalogue, own.Write("dump.db", ""), quorvel::test::kEngine));
    for (const std::string& f : filters) {
      expected.push_back(WindowRun(d, People(f)));
      ASSERT_FALSE(expected.back().empty()) << f;
    }
  }
  ASSERT_EQ(expected[1].size(), 9u);
  ASSERT_EQ(expected[0].size(), 1000u);

  constexpr int kRuns = 4;
  std::vector<pid_t> children;
  for (size_t p = 0; p < filters.size(); ++p) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      Tdata d;
      if (!Init(d)) {
        std::fprintf(stderr, "the store could not be opened: %s\n", d.LastError().c_str());
        _exit(2);
      }
      for (int run = 0; run < kRuns; ++run) {
        const std::vector<std::string> rows = WindowRun(d, People(filters[p]));
        if (rows.empty()) _exit(3);
        if (rows != expected[p]) {
          std::fprintf(stderr, "%s: %zu rows where %zu were expected\n", filters[p].c_str(),
                       rows.size(), expected[p].size());
          _exit(4);
        }
      }
      _exit(0);
    }
    children.push_back(child);
  }
  for (size_t p = 0; p < children.size(); ++p) {
    int status = 0;
    ASSERT_EQ(waitpid(children[p], &status, 0), children[p]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << filters[p] << ": status " << status << " (3: a run failed, 4: foreign rows)";
  }

  // `export` is the whole of one run, and no staged table is left.
  Tdata d;
  ASSERT_TRUE(Init(d)) << d.LastError();
  const std::vector<std::string> published = ReadRows(d, "export");
  bool whole = false;
  for (const auto& e : expected) whole = whole || published == e;
  EXPECT_TRUE(whole) << published.size() << " rows in export";
  std::vector<std::string> tables;
  d.temp.GetTableNames(tables);
  EXPECT_EQ(tables, (std::vector<std::string>{"export", "export_values"}));
}

}  // namespace
