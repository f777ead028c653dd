// The working store survives a run killed at any moment, and a damaged one is
// replaced by an empty store at start-up; the catalogue is never touched.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <thread>

#include "sqlstore/testutil.h"
#include "store/data.h"
#include "store/testcatalogue.h"

using quorvel::test::kEngine;
using quorvel::test::MakeCatalogue;
using quorvel::test::ReadFile;
using quorvel::test::TempDir;

namespace {

const char* const kColumns = "oid;a;b;c;d;e;f;g;h";

class WorkingStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    catalogue = dir.Write("quorvel.db", "");
    working = dir.Write("dump.db", "");
    MakeCatalogue(catalogue, "INSERT INTO servers (name) VALUES ('kept')");
    catalogueBytes = ReadFile(catalogue);
  }

  // Rows of kColumns with values large enough that a batch outgrows the
  // engine's page cache and pages reach the file before the batch commits.
  static std::vector<std::string> Row(int i) {
    std::vector<std::string> row{"cn=" + std::to_string(i)};
    for (int c = 0; c < 8; ++c)
      row.push_back(std::string(2000, static_cast<char>('a' + (i + c) % 26)));
    return row;
  }

  // Fills the working store as a run does, `rows` rows.
  void Fill(int rows) {
    Tdata d;
    ASSERT_TRUE(InitDatabases(d, catalogue, working, kEngine)) << d.LastError();
    ASSERT_TRUE(d.CreateExportTable(kColumns));
    d.BeginExportRows();
    for (int i = 0; i < rows; ++i) ASSERT_TRUE(d.InsertExportRow(Row(i))) << d.LastError();
    ASSERT_TRUE(d.EndExportRows());
  }

  // The next start: opens, then a run writes and reads back its rows.
  void ExpectANextRunWorks(Tdata& d) {
    ASSERT_TRUE(d.CreateExportTable("oid;cn")) << d.LastError();
    d.BeginExportRows();
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(d.InsertExportRow({"cn=" + std::to_string(i), "x"}));
    ASSERT_TRUE(d.EndExportRows());
    d.run.SetSQL("SELECT * FROM export ORDER BY oid ASC");
    d.run.Open();
    EXPECT_EQ(d.run.RecordCount(), 50);
    d.run.Close();
    EXPECT_EQ(ReadFile(catalogue), catalogueBytes) << "the catalogue was rewritten";
  }

  TempDir dir;
  std::string catalogue, working, catalogueBytes;
};

TEST_F(WorkingStoreTest, JournalSurvivesAKilledProcessAndCatalogueKeepsFullDurability) {
  Tdata d;
  ASSERT_TRUE(InitDatabases(d, catalogue, working, kEngine)) << d.LastError();
  TASQLite3Query q(&d.temp);
  q.SetSQL("PRAGMA journal_mode");
  q.Open();
  EXPECT_EQ(q.CellText(0, 0), "wal");
  q.SetConnection(&d.db);
  q.Open();
  EXPECT_EQ(q.CellText(0, 0), "delete");
  q.SetSQL("PRAGMA synchronous");
  q.Open();
  EXPECT_EQ(q.CellText(0, 0), "2");
}

// A real writer process, killed with SIGKILL at moments spread over its run
// (between batches, inside a batch, while a batch commits, while the table is
// dropped and created again); every next start finds a sound store.
TEST_F(WorkingStoreTest, ARunKilledAtAnyMomentLeavesAStoreTheNextStartUses) {
  Fill(300);
  for (int delayMs : {0, 7, 23, 41, 66, 97, 150, 230}) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(ready[0]);
      Tdata d;
      if (!InitDatabases(d, catalogue, working, kEngine)) _exit(3);
      if (write(ready[1], "r", 1) != 1) _exit(4);
      for (int round = 0;; ++round) {
        d.CreateExportTable(kColumns);
        d.BeginExportRows();
        for (int i = 0; i < 3000; ++i) d.InsertExportRow(Row(round + i));
        d.EndExportRows();
      }
    }
    close(ready[1]);
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1) << "the writer did not start";
    close(ready[0]);
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself after " << delayMs << " ms";

    Tdata d;
    ASSERT_TRUE(InitDatabases(d, catalogue, working, kEngine)) << d.LastError();
    EXPECT_FALSE(d.WorkingStore().recreated)
        << "killed after " << delayMs << " ms: " << d.WorkingStore().reason;
    ExpectANextRunWorks(d);
    Fill(300);  // the next kill interrupts a store that holds rows again
  }
}

struct TDamage {
  const char* name;
  std::function<void(const std::string& file)> apply;
};

TEST_F(WorkingStoreTest, ADamagedStoreIsCreatedAnewAndSaysSo) {
  std::mt19937 random(7);
  const std::vector<TDamage> damages = {
      {"truncated",
       [](const std::string& f) {
         std::filesystem::resize_file(f, std::filesystem::file_size(f) * 3 / 5);
       }},
      {"garbage",
       [&](const std::string& f) {
         std::string bytes(65536, '\0');
         for (char& b : bytes) b = static_cast<char>(random());
         std::ofstream(f, std::ios::binary | std::ios::trunc) << bytes;
         std::ofstream(f + "-wal", std::ios::binary | std::ios::trunc) << bytes;
       }},
      {"not a database",
       [](const std::string& f) {
         std::ofstream(f, std::ios::binary | std::ios::trunc) << "just some text\n";
       }},
      {"pages overwritten",
       [](const std::string& f) {
         std::fstream io(f, std::ios::binary | std::ios::in | std::ios::out);
         io.seekp(4096 * 3);
         io << std::string(4096 * 4, '\x5a');
       }},
  };
  for (const TDamage& damage : damages) {
    SCOPED_TRACE(damage.name);
    Fill(400);
    damage.apply(working);
    chmod(working.c_str(), 0644);

    Tdata d;
    ASSERT_TRUE(InitDatabases(d, catalogue, working, kEngine)) << d.LastError();
    EXPECT_TRUE(d.WorkingStore().recreated);
    EXPECT_FALSE(d.WorkingStore().reason.empty());
    const std::string notice = d.WorkingStore().Notice(d.temp.FullPath());
    EXPECT_EQ(notice.rfind("MSG: The working store " + working + " was damaged (", 0), 0u)
        << notice;
    struct stat st {};
    ASSERT_EQ(stat(working.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::vector<std::string> tables;
    d.temp.GetTableNames(tables);
    EXPECT_TRUE(tables.empty());
    ExpectANextRunWorks(d);
  }
  // A sound store is kept with its rows, and nothing is said.
  Fill(10);
  Tdata d;
  ASSERT_TRUE(InitDatabases(d, catalogue, working, kEngine));
  EXPECT_FALSE(d.WorkingStore().recreated);
  EXPECT_EQ(d.WorkingStore().Notice(working), "");
  d.run.SetSQL("SELECT count(*) FROM export");
  d.run.Open();
  EXPECT_EQ(d.run.CellText(0, 0), "10");
}

// Another program holding the store locked (a store of an earlier version,
// in the engine's default journal, inside a transaction) makes the start fail
// as it always did; the store is not taken for damaged and keeps its rows.
TEST_F(WorkingStoreTest, ALockedStoreIsNotReplaced) {
  TASQLite3DB other;
  other.SetDriverDLL(kEngine);
  other.SetDatabase(working);
  other.Open();
  other.ExecDirect("CREATE TABLE export (oid); INSERT INTO export VALUES ('kept')");
  other.StartTransaction("EXCLUSIVE");
  Tdata d;
  d.temp.BusyTimeout = 100;
  EXPECT_FALSE(InitDatabases(d, catalogue, working, kEngine));
  EXPECT_NE(d.LastError().find("locked"), std::string::npos) << d.LastError();
  EXPECT_FALSE(d.WorkingStore().recreated);
  other.RollBack();
  other.Close();
  Tdata next;
  ASSERT_TRUE(InitDatabases(next, catalogue, working, kEngine)) << next.LastError();
  next.run.SetSQL("SELECT oid FROM export");
  next.run.Open();
  EXPECT_EQ(next.run.CellText(0, 0), "kept");
}

TEST_F(WorkingStoreTest, ADamagedCatalogueIsNeverRecreated) {
  for (const std::string& bytes :
       {std::string("just some text\n"), catalogueBytes.substr(0, 3000)}) {
    std::ofstream(catalogue, std::ios::binary | std::ios::trunc) << bytes;
    Tdata d;
    EXPECT_FALSE(InitDatabases(d, catalogue, working, kEngine));
    EXPECT_EQ(ReadFile(catalogue), bytes);
  }
}

}  // namespace
