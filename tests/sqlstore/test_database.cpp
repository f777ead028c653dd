#include <gtest/gtest.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "sqlstore/database.h"
#include "sqlstore/dataset.h"
#include "sqlstore/testutil.h"

using quorvel::test::kEngine;
using quorvel::test::TempDir;

namespace {

template <class E, class F>
std::string ErrorText(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "<nothing raised>";
}

struct CwdGuard {
  std::string old = std::filesystem::current_path().string();
  ~CwdGuard() { std::filesystem::current_path(old); }
};

}  // namespace

TEST(Connection, RefusesMissingPropertyFileAndLibraryWithTheirTexts) {
  TempDir dir;
  TASQLite3DB db;
  db.SetDriverDLL(kEngine);
  EXPECT_EQ(ErrorText<AsgError>([&] { db.Open(); }), "Missing database property");

  db.MustExist = true;
  db.SetDatabase("  " + dir.File("none.db") + "  ");  // blanks are trimmed
  EXPECT_EQ(ErrorText<EDatabaseError>([&] { db.Open(); }),
            "Database " + dir.File("none.db") + " does not exist");
  EXPECT_FALSE(std::filesystem::exists(dir.File("none.db")));

  // No library at all, then a library lacking the entry points: the second
  // connect fails the same way instead of calling into a half-loaded library.
  dir.Write("empty.db", "");
  db.SetDatabase(dir.File("empty.db"));
  db.SetDriverDLL(dir.File("no-such-engine.so"));
  EXPECT_EQ(ErrorText<AsgError>([&] { db.Open(); }), "Could not load SQLite library");
  db.SetDriverDLL("libm.so.6");
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(ErrorText<AsgError>([&] { db.Open(); }), "Could not load SQLite library");
    EXPECT_FALSE(db.Connected());
  }
  EXPECT_EQ(db.RowsAffected(), -1);
}

TEST(Connection, ResolvesPathsAndDefaults) {
  TempDir dir;
  CwdGuard cwd;
  std::filesystem::current_path(dir.Path());
  TASQLite3DB db;
  EXPECT_EQ(db.DriverDLL(), "quorvel.so");
  EXPECT_EQ(db.DefaultExt(), ".sqb");
  db.SetDriverDLL(kEngine);

  // A bare name lives in the current working folder.
  db.SetDatabase("bare.db");
  EXPECT_EQ(db.FullPath(), std::filesystem::current_path().string() + "/bare.db");
  db.Open();
  EXPECT_TRUE(db.Connected());
  EXPECT_FALSE(db.Version().empty());
  db.ExecDirect("create table t (x)");  // the file exists only once written
  db.Close();
  EXPECT_TRUE(std::filesystem::exists(dir.File("bare.db")));

  // DefaultDir gains its "/" for good on the first connect.
  db.SetDefaultDir(dir.Path() + "sub");
  std::filesystem::create_directory(dir.File("sub"));
  db.Open();
  EXPECT_EQ(db.DefaultDir(), dir.Path() + "sub/");
  EXPECT_TRUE(std::filesystem::exists(dir.File("sub/bare.db")));
  db.Close();

  // ":memory:" needs no file; the pragma companion runs after the connect.
  TASQLite3Pragma pragma;
  pragma.Synchronous = "OFF";
  pragma.TempCacheSize = 50;
  auto mem = std::make_unique<TASQLite3DB>();
  mem->SetDriverDLL(kEngine);
  mem->MustExist = true;
  mem->ASQLitePragma = &pragma;
  mem->SetDatabase(":MEMORY:");
  mem->Open();
  ASSERT_TRUE(mem->Connected());
  TASQLite3Query q(mem.get());
  q.SetSQL("PRAGMA synchronous");
  q.Open();
  EXPECT_EQ(q.CellText(0, 0), "0");
  // The name in any case stays in memory: nothing is written to the folder.
  mem->ExecDirect("create table t (x); insert into t values (1)");
  EXPECT_FALSE(std::filesystem::exists(dir.File(":MEMORY:")));
  // A connection that goes away closes and forgets its datasets.
  mem.reset();
  EXPECT_FALSE(q.Active());
  EXPECT_EQ(q.Connection(), nullptr);
  EXPECT_THROW(q.Open(), AsgError);
}

TEST(Connection, ExecutesStatementListsAndTransactions) {
  TempDir dir;
  TASQLite3DB db;
  db.SetDriverDLL(kEngine);
  db.SetDatabase(dir.File("t.db"));
  EXPECT_EQ(ErrorText<AsgError>([&] { db.ExecDirect("select 1"); }), "no database connection");
  std::vector<std::string> names{"stale"};
  db.GetTableNames(names);  // connects first
  EXPECT_TRUE(db.Connected());
  EXPECT_TRUE(names.empty());

  db.ExecDirect("create table b (x); create table a (y);\n insert into a values (1);");
  EXPECT_EQ(db.RowsAffected(), 1);
  db.GetTableNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b"}));

  db.StartTransaction("immediate");
  db.ExecDirect("insert into a values (2)");
  db.RollBack();
  db.TransactionType = "EXCLUSIVE";
  db.StartTransaction();
  db.ExecDirect("insert into a values (3)");
  db.Commit();
  TASQLite3Query q(&db);
  q.SetSQL("select y from a order by y");
  q.Open();
  ASSERT_EQ(q.RecordCount(), 2);
  EXPECT_EQ(q.CellText(1, 0), "3");

  // The statements before a failing one have run; the error names the fault.
  EXPECT_NE(ErrorText<EDatabaseError>([&] {
              db.ExecDirect("insert into a values (4); insert into nowhere values (1)");
            }).find("no such table: nowhere"),
            std::string::npos);
  q.Close();
  q.Open();
  EXPECT_EQ(q.RecordCount(), 3);
}

TEST(Connection, CorruptOrUnopenableFilesGiveClearErrors) {
  TempDir dir;
  TASQLite3DB db;
  db.SetDriverDLL(kEngine);
  db.MustExist = true;
  db.SetDatabase(dir.Write("corrupt.db", std::string(4096, 'x')));
  db.Open();
  std::vector<std::string> names;
  EXPECT_NE(ErrorText<EDatabaseError>([&] { db.GetTableNames(names); }).find("not a database"),
            std::string::npos);
  EXPECT_EQ(quorvel::test::ReadFile(dir.File("corrupt.db")), std::string(4096, 'x'));
  db.Close();

  // A folder where the file should be: the engine cannot open it.
  std::filesystem::create_directory(dir.File("folder.db"));
  db.SetDatabase(dir.File("folder.db"));
  EXPECT_NE(ErrorText<EDatabaseError>([&] { db.Open(); }).find(dir.File("folder.db")),
            std::string::npos);
  EXPECT_FALSE(db.Connected());

  // A file the user may not read (meaningless for root, who reads anything).
  if (geteuid() != 0) {
    const std::string locked = dir.Write("noread.db", "");
    chmod(locked.c_str(), 0);
    db.SetDatabase(locked);
    EXPECT_NE(ErrorText<EDatabaseError>([&] { db.Open(); }).find("unable to open"),
              std::string::npos);
    EXPECT_FALSE(db.Connected());
  }
}

TEST(Connection, LockedDatabaseFailsAfterTheBusyTimeoutInsteadOfSpinning) {
  TempDir dir;
  TASQLite3DB holder, waiter;
  for (TASQLite3DB* c : {&holder, &waiter}) {
    c->SetDriverDLL(kEngine);
    c->SetDatabase(dir.File("locked.db"));
  }
  holder.Open();
  holder.ExecDirect("create table t (x); insert into t values ('kept')");
  holder.StartTransaction("EXCLUSIVE");
  waiter.BusyTimeout = 200;
  waiter.Open();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ErrorText<EDatabaseError>([&] { waiter.ExecDirect("insert into t values ('new')"); }),
            "database is locked");
  TASQLite3Query q(&waiter);
  q.SetSQL("select * from t");
  EXPECT_EQ(ErrorText<EDatabaseError>([&] { q.Open(); }), "database is locked");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  holder.Commit();
  q.Open();
  ASSERT_EQ(q.RecordCount(), 1);
  EXPECT_EQ(q.CellText(0, 0), "kept");
}

// A program that says each connection stays on one thread at a time gets
// connections without the engine's own lock; any other keeps the lock. Each is
// looked at in a child of its own, the engine not yet loaded in it.
TEST(Connection, OneThreadAtATimeLeavesTheEngineLockOutOnlyWhenAskedFirst) {
  if (dlopen(kEngine, RTLD_NOW | RTLD_NOLOAD) != nullptr)
    GTEST_SKIP() << "the engine is loaded in this process already (run the test on its own)";
  auto lockOf = [](bool ask) {
    const pid_t child = fork();
    if (child == 0) {
      if (ask) quorvel::UseEachConnectionOnOneThreadAtATime();
      TASQLite3DB db;
      db.SetDriverDLL(kEngine);
      db.SetDatabase(":memory:");
      db.Open();
      void* lib = dlopen(kEngine, RTLD_NOW | RTLD_NOLOAD);
      auto mutexOf = reinterpret_cast<void* (*)(void*)>(dlsym(lib, "sqlite3_db_mutex"));
      _exit(mutexOf == nullptr ? 2 : mutexOf(db.Handle()) == nullptr ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(lockOf(false), 1) << "a connection without the engine's lock by default";
  EXPECT_EQ(lockOf(true), 0) << "the engine's lock is still taken";
}
