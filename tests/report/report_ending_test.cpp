// How quorvel-report ends when its output cannot be completed or it is asked
// to stop: the destination is never harmed, and nothing is left behind.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/scripted_directory.h"
#include "common/slapd_env.h"
#include "export/output.h"
#include "export/removeonstop.h"
#include "ldap/valueranges.h"
#include "report/stopsignals.h"

namespace fs = std::filesystem;
using quorvel::test::Slapd;

namespace {

constexpr uid_t kNobody = 65534;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

int Status(pid_t child) {
  int status = 0;
  if (child <= 0 || ::waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

// A scratch folder (root's, open to all) holding a folder of "nobody" with a
// catalogue (the test directory's administrator and a profile of a few
// thousand people) and a temporary folder, so that a run may be made as
// "nobody" too.
class ReportEndingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QUORVEL_REQUIRE_SLAPD(Slapd());
    char tmpl[] = "/tmp/quorvel-ending-test.XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
    own_ = dir_ + "/own";
    tmp_ = own_ + "/tmp";
    catalogue_ = own_ + "/catalogue.db";
    fs::create_directories(tmp_);
    fs::copy_file(quorvel::test::BinaryDir() + "/lib/quorvel.db", catalogue_);
    const auto& env = Slapd();
    const std::string sql =
        "INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn) VALUES ('Admin','127.0.0.1'," +
        std::to_string(env.port) + ",'N','" + env.adminDn + "','" + env.adminPw + "','" + env.base +
        "'); INSERT INTO profiles (name,serverid,basedn,scope,att,filter) VALUES "
        "('people',1,'ou=people," +
        env.base + "',2,'cn;givenname;mail;jpegPhoto','(objectClass=person)');";
    ASSERT_EQ(std::system(("sqlite3 " + Quote(catalogue_) + " " + Quote(sql)).c_str()), 0);
    for (const std::string& p : {own_, tmp_, catalogue_})
      ASSERT_EQ(::chown(p.c_str(), kNobody, kNobody), 0);
  }
  void TearDown() override {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }

  // Starts the profile's report to `output` with TMPDIR the temporary folder
  // and stderr to `err`; `prepare` runs in the child before the program.
  pid_t Start(const std::string& output, const std::string& err,
              const std::function<void()>& prepare, const std::string& profile = "people") {
    const std::string exe = quorvel::test::BinaryDir() + "/quorvel-report";
    const std::vector<std::string> args = {exe,        "--profile",   profile,
                                           "--format", "csv",         "--output",
                                           output,     "--catalogue", catalogue_};
    const pid_t child = ::fork();
    if (child != 0) return child;
    ::setenv("TMPDIR", tmp_.c_str(), 1);
    if (!std::freopen(err.c_str(), "w", stderr)) ::_exit(126);
    if (prepare) prepare();
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(exe.c_str(), argv.data());
    ::_exit(127);
  }

  std::string dir_, own_, tmp_, catalogue_;
};

// Where no file may be made beside the old report (a folder of root's, the
// run as "nobody", on a small file system), the report replaces the old one
// in place only when the whole of it fits: otherwise exit 5 names the
// reason and the old report is as it was. Nothing is left in either folder.
TEST_F(ReportEndingTest, AReportThatCannotGoBesideTheOldOneReplacesItOnlyWhenItFits) {
  const std::string complete = dir_ + "/complete.csv";
  ASSERT_EQ(Status(Start(complete, dir_ + "/complete.err", nullptr)), 0)
      << ReadFile(dir_ + "/complete.err");
  const std::string whole = ReadFile(complete);
  ASSERT_GT(whole.size(), 128u * 1024);
  const std::string small = dir_ + "/small", old = "an old report\r\n";
  fs::create_directory(small);
  // The file system exists in the child's own mount namespace only: the
  // child leaves what it found in files of the scratch folder.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::unshare(CLONE_NEWNS) != 0) ::_exit(90);
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) ::_exit(91);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k,mode=0755") != 0) ::_exit(92);
    const std::string report = small + "/report.csv";
    WriteFile(report, old);
    if (::chown(report.c_str(), kNobody, kNobody) != 0) ::_exit(93);
    const std::string sizes[] = {"size=64k", "size=" + std::to_string(whole.size() * 2)};
    for (int run = 0; run < 2; ++run) {
      if (::mount("tmpfs", small.c_str(), "tmpfs", MS_REMOUNT, sizes[run].c_str()) != 0)
        ::_exit(94);
      const std::string base = dir_ + "/run" + std::to_string(run);
      const int status = Status(Start(report, base + ".err", [] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
          ::_exit(125);
      }));
      WriteFile(base + ".status", std::to_string(status));
      WriteFile(base + ".csv", ReadFile(report));
      std::string names;
      for (const std::string& n : Names(small)) names += n + "\n";
      WriteFile(base + ".names", names);
    }
    ::_exit(0);
  }
  ASSERT_EQ(Status(child), 0) << "the small file system could not be made";
  const std::string err0 = ReadFile(dir_ + "/run0.err");
  EXPECT_EQ(ReadFile(dir_ + "/run0.status"), "5") << err0;
  EXPECT_NE(err0.find("quorvel-report: error: The report could not be written to " + small +
                      "/report.csv: No space left on device"),
            std::string::npos)
      << err0;
  const std::string after = ReadFile(dir_ + "/run0.csv");
  EXPECT_TRUE(after == old) << after.size() << " bytes, " << after.substr(0, 40);
  EXPECT_EQ(ReadFile(dir_ + "/run1.status"), "0") << ReadFile(dir_ + "/run1.err");
  EXPECT_TRUE(ReadFile(dir_ + "/run1.csv") == whole);
  for (int run = 0; run < 2; ++run)
    EXPECT_EQ(ReadFile(dir_ + "/run" + std::to_string(run) + ".names"), "report.csv\n") << run;
  EXPECT_EQ(Names(tmp_), std::vector<std::string>{});
}

// A reader of standard output that goes away (| head -c 20) ends the run as
// any failed write: exit 5, a message, the private working store removed.
TEST_F(ReportEndingTest, AReaderThatGoesAwayEndsTheRunAsAFailedWrite) {
  int pipe[2];
  ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
  const std::string err = dir_ + "/err.txt";
  const int readEnd = pipe[0], writeEnd = pipe[1];
  const pid_t child = Start("-", err, [readEnd, writeEnd] {
    ::close(readEnd);
    if (::dup2(writeEnd, STDOUT_FILENO) < 0) ::_exit(124);
  });
  ASSERT_GT(child, 0);
  ::close(writeEnd);
  char head[20];
  std::size_t got = 0;
  while (got < sizeof head) {
    const ssize_t n = ::read(readEnd, head + got, sizeof head - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(readEnd);
  EXPECT_EQ(std::string(head, got), std::string("oid,cn,givenname,mail", got));
  const int status = Status(child);
  const std::string text = ReadFile(err);
  EXPECT_EQ(status, 5) << text;
  EXPECT_NE(text.find("quorvel-report: error: The report could not be written to standard "
                      "output: Broken pipe"),
            std::string::npos)
      << text;
  EXPECT_EQ(Names(tmp_), std::vector<std::string>{});
}

// A server that answers every follow-up of a value range with one more
// value: the run ends at the bound of follow-ups with a search failure
// naming the entry and the attribute, and writes no report.
TEST_F(ReportEndingTest, ValuesSentOneAtATimeEndTheRunAtTheirBound) {
  quorvel::test::ScriptedDirectory dir;
  dir.MaxValues = 10;
  dir.OneValueRanges = true;
  dir.Add("cn=big,o=x", {{"cn", {"big"}}, {"member", quorvel::test::Members(25)}});
  quorvel::test::FakeServer srv;
  srv.TimeLimitMs = 240000;  // a hundred thousand round trips on a busy machine
  dir.ServeOn(srv);
  ASSERT_TRUE(srv.Start());
  const std::string sql =
      "INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn) VALUES ('Trickle','127.0.0.1'," +
      std::to_string(srv.Port()) +
      ",'N','','',''); INSERT INTO profiles (name,serverid,basedn,scope,att,filter) SELECT "
      "'ranges',id,'o=x',2,'cn;member','(objectClass=*)' FROM servers WHERE name='Trickle';";
  ASSERT_EQ(std::system(("sqlite3 " + Quote(catalogue_) + " " + Quote(sql)).c_str()), 0);
  const std::string out = dir_ + "/ranges.csv", err = dir_ + "/err.txt";
  const int status = Status(Start(out, err, nullptr, "ranges"));
  srv.Finish();
  const std::string text = ReadFile(err);
  EXPECT_EQ(status, 4) << text;
  EXPECT_NE(text.find("quorvel-report: error: Error querying \"127.0.0.1\": the values of "
                      "attribute \"member\" of entry \"cn=big,o=x\" could not be read in full"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find(quorvel::kRangeTooLong), std::string::npos) << text;
  std::size_t followUps = 0;
  for (const auto& r : dir.Requests()) followUps += r.tag == 0x63 && r.base == "cn=big,o=x";
  EXPECT_EQ(followUps, quorvel::kRangeFollowUpsLimit);
  EXPECT_FALSE(fs::exists(out));
  EXPECT_EQ(Names(tmp_), std::vector<std::string>{});
}

// A child process that tells the test through a pipe when it is ready for
// its stop signal, in a folder of its own that goes with the test.
class ReportStopSignals : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quorvel-hold-test.XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir = tmpl;
    ASSERT_EQ(::pipe(ready), 0);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  // In the child: the test may send the signal now.
  void Ready() {
    if (::write(ready[1], "r", 1) != 1) ::_exit(80);
  }
  // In the test: waits for the child's Ready, stops it with SIGTERM, and
  // gives the status it ended with.
  int StopWhenReady(pid_t child) {
    ::close(ready[1]);
    char c = 0;
    const bool told = ::read(ready[0], &c, 1) == 1;
    ::close(ready[0]);
    EXPECT_TRUE(told);
    EXPECT_EQ(::kill(child, SIGTERM), 0);
    return Status(child);
  }

  std::string dir;
  int ready[2] = {-1, -1};
};

// A stop signal that comes while holds are in force, in two threads, with a
// third thread free to take the signal: the program stops only once the
// last hold has ended, with 128 + the signal, its registered file removed.
TEST_F(ReportStopSignals, AHoldHoldsForTheWholeProcessWhateverThreadTakesTheSignal) {
  const std::string registered = dir + "/temporary";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    quorvel::TStopSignals stop;
    WriteFile(registered, "x");
    quorvel::TRemoveOnStop removed(registered);
    std::thread idle([] {
      for (;;) ::pause();
    });
    std::atomic<bool> second{false};
    std::thread other([&] {
      quorvel::THoldStopSignals hold;
      second = true;
      ::usleep(600 * 1000);
      WriteFile(dir + "/second", "done");
    });
    {
      quorvel::THoldStopSignals hold;
      while (!second) ::usleep(1000);
      Ready();
      ::usleep(300 * 1000);
      WriteFile(dir + "/first", "done");
    }
    other.join();
    ::_exit(0);  // never reached: the end of the last hold stops the program
  }
  EXPECT_EQ(StopWhenReady(child), 128 + SIGTERM);
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"first", "second"}));
}

// A report that is whole while another thread holds a stop signal back (a
// snapshot being copied) does not replace the old one: the program stops
// once the hold ends, the old report in place, the temporary one removed.
TEST_F(ReportStopSignals, AReportFinishedWhileAStopIsHeldBackLeavesTheOldOne) {
  const std::string out = dir + "/report.csv";
  WriteFile(out, "old");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    quorvel::TStopSignals stop;
    std::atomic<bool> release{false}, held{false};
    std::thread copier([&] {
      quorvel::THoldStopSignals hold;
      held = true;
      while (!release) ::usleep(1000);
    });
    while (!held) ::usleep(1000);
    {
      quorvel::TAtomicFileSink sink(out);
      if (!sink.Write("new")) ::_exit(81);
      Ready();
      for (int i = 0; i < 5000 && !quorvel::StopRequested(); ++i) ::usleep(1000);
      if (!quorvel::StopRequested()) ::_exit(82);
      WriteFile(dir + (sink.Commit() ? "/replaced" : "/refused"), "");
    }
    release = true;
    copier.join();
    ::_exit(0);  // never reached: the end of the hold stops the program
  }
  EXPECT_EQ(StopWhenReady(child), 128 + SIGTERM);
  EXPECT_EQ(ReadFile(out), "old");
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"refused", "report.csv"}));
}

}  // namespace
