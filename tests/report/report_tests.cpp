// End-to-end tests of quorvel-report against the private directory server:
// the program is run as a separate process on a catalogue of its own, and its
// reports are compared with what the export engine writes for the same rows.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/scripted_directory.h"
#include "common/slapd_env.h"
#include "common/tls_peer.h"
#include "export/datasetsource.h"
#include "export/kxexport.h"
#include "store/connect.h"
#include "store/data.h"
#include "store/messages.h"
#include "store/profilerun.h"
#include "store/testcatalogue.h"

namespace fs = std::filesystem;
using quorvel::test::Slapd;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct RunOutput {
  int status = -1;
  std::string out, err;
};

// Runs quorvel-report with the arguments; stdout and stderr are captured.
RunOutput RunReport(const std::string& args, const std::string& dir) {
  const std::string exe = quorvel::test::BinaryDir() + "/quorvel-report";
  const std::string out = dir + "/stdout.txt", err = dir + "/stderr.txt";
  const std::string cmd =
      "timeout 120 " + Quote(exe) + " " + args + " >" + Quote(out) + " 2>" + Quote(err);
  RunOutput r;
  const int raw = std::system(cmd.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = ReadFile(out);
  r.err = ReadFile(err);
  return r;
}

// A scratch folder with a catalogue of its own: servers for the admin (no size
// limit), a normal user (size limit), a wrong password and a closed port.
class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QUORVEL_REQUIRE_SLAPD(Slapd());
    const auto& env = Slapd();
    char tmpl[] = "/tmp/quorvel-report-test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    catalogue_ = dir_ + "/catalogue.db";
    fs::copy_file(quorvel::test::BinaryDir() + "/lib/quorvel.db", catalogue_);
    const std::string port = std::to_string(env.port);
    const std::string sql =
        "INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn) VALUES "
        "('Admin','127.0.0.1'," +
        port + ",'N','" + env.adminDn + "','" + env.adminPw + "','" + env.base +
        "'),"
        "('User','127.0.0.1'," +
        port + ",'N','" + env.userDn + "','" + env.userPw + "','" + env.base +
        "'),"
        "('BadPassword','127.0.0.1'," +
        port + ",'N','" + env.adminDn + "','wrong','" + env.base +
        "'),"
        "('Closed','127.0.0.1',1,'N','','','');"
        "INSERT INTO profiles (name,serverid,basedn,scope,att,filter) VALUES "
        "('people',1,'ou=people," +
        env.base + "',2,'cn;givenname; mail;jpegPhoto;member'," +
        "'(objectClass=person)'),"
        "('groups',1,'" +
        env.base +
        "',2,'cn;member','(objectClass=groupOfNames)'),"
        "('everything',2,'" +
        env.base +
        "',2,'cn','(objectClass=*)'),"
        "('people',2,'" +
        env.base +
        "',1,'ou','(objectClass=*)'),"
        "('missing base',1,'ou=nowhere," +
        env.base +
        "',2,'cn','(objectClass=*)'),"
        "('denied',3,'" +
        env.base +
        "',2,'cn','(objectClass=*)'),"
        "('refused',4,'" +
        env.base + "',2,'cn','(objectClass=*)');";
    const std::string cmd = "sqlite3 " + Quote(catalogue_) + " " + Quote(sql);
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  void TearDown() override {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }

  RunOutput Report(const std::string& args) {
    return RunReport(args + " --catalogue " + Quote(catalogue_), dir_);
  }

  // What the export engine itself writes for the rows of a profile run.
  std::string EngineReport(const TServerNodeData& server, const TProfileNodeData& profile,
                           TkxExportType type, const std::string& name) {
    const std::string working = dir_ + "/engine-dump.db";
    { std::ofstream(working, std::ios::trunc); }
    Tdata d;
    EXPECT_TRUE(
        InitDatabases(d, catalogue_, working, quorvel::test::BinaryDir() + "/lib/quorvel.so"))
        << d.LastError();
    auto ldap = ConnectServer(server);
    EXPECT_TRUE(ldap);
    if (!ldap) return {};
    TLDAPResultList* results = SearchProfile(ldap.get(), profile);
    EXPECT_TRUE(results);
    if (!results) return {};
    EXPECT_TRUE(quorvel::FillExportTable(d, *results, profile.att));
    EXPECT_TRUE(quorvel::OpenExportRows(d));
    TkxDatasetRowSource source(&d.run);
    TkxDBGridExport engine;
    ConfigureReportExport(engine, AppPath);
    engine.DBGrid = &source;
    engine.ExportType = type;
    const std::string path = dir_ + "/" + name;
    EXPECT_TRUE(engine.ExportToPath(path)) << engine.LastRun().Message;
    return ReadFile(path);
  }

  std::string dir_, catalogue_;
};

// The lines of a report with the ones carrying the export date and time blanked.
std::vector<std::string> LinesWithoutDates(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) {
    if (line.find("Created:") != std::string::npos ||
        line.find("# Generated on ") != std::string::npos)
      line = "<date>";
    lines.push_back(line);
  }
  return lines;
}

TEST_F(ReportTest, ListsEveryProfileWithItsServer) {
  RunOutput r = Report("--list");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Admin\tpeople\tNone\tBind DN and password\n"
            "Admin\tgroups\tNone\tBind DN and password\n"
            "Admin\tmissing base\tNone\tBind DN and password\n"
            "User\teverything\tNone\tBind DN and password\n"
            "User\tpeople\tNone\tBind DN and password\n"
            "BadPassword\tdenied\tNone\tBind DN and password\n"
            "Closed\trefused\tNone\tBind DN and password\n");
}

TEST_F(ReportTest, EveryFormatEqualsTheEnginesOwnReport) {
  TProfileNodeData profile;
  profile.serverid = 1;
  profile.basedn = "ou=people," + Slapd().base;
  profile.scope = 2;
  profile.att = "cn;givenname; mail;jpegPhoto;member";
  profile.filter = "(objectClass=person)";
  const struct {
    const char* name;
    TkxExportType type;
  } formats[] = {{"ldif", xtLDIF}, {"html", xtHTML}, {"xls", xtExcel}, {"doc", xtWord},
                 {"txt", xtTXT},   {"csv", xtCSV},   {"tab", xtTAB},   {"rtf", xtRTF},
                 {"dif", xtDIF},   {"slk", xtSYLK}};
  for (const auto& f : formats) {
    SCOPED_TRACE(f.name);
    // Any extension: the report goes exactly where --output says.
    const std::string out = dir_ + "/report-" + f.name + ".out";
    RunOutput r = Report(std::string("--profile people --server Admin --format ") + f.name +
                         " --output " + Quote(out));
    ASSERT_EQ(r.status, 0) << r.err;
    // Only the Excel report mentions the names it could not hold (Cyrillic,
    // CJK). The photo's bytes are Base64 text, so no cell holds a line break
    // for DIF to mention (see DirectoryValuesReadableOrRawInEveryFormat).
    if (f.type == xtExcel)
      EXPECT_NE(r.err.find("written as \"?\"; CSV or HTML keep every character."),
                std::string::npos)
          << r.err;
    else
      EXPECT_EQ(r.err, "");
    const std::string ours = ReadFile(out);
    const std::string engine = EngineReport(quorvel::test::AdminServer(), profile, f.type,
                                            std::string("engine.") + f.name);
    ASSERT_FALSE(ours.empty());
    if (f.type == xtExcel)
      EXPECT_TRUE(ours == engine);
    else
      EXPECT_EQ(LinesWithoutDates(ours), LinesWithoutDates(engine));
  }
}

TEST_F(ReportTest, StandardOutputTakesTextFormats) {
  RunOutput r = Report("--profile groups --format csv --output -");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("oid,cn,member\r\n", 0), 0u) << r.out.substr(0, 80);
  RunOutput x = Report("--profile groups --format xls --output -");
  EXPECT_EQ(x.status, 1);
  // A workbook goes to a file only.
  RunOutput w = Report("--profile groups --format xlsx --output -");
  EXPECT_EQ(w.status, 1);
  EXPECT_NE(w.err.find("cannot go to standard output"), std::string::npos) << w.err;
  const std::string book = dir_ + "/report.xlsx";
  RunOutput f = Report("--profile people --server Admin --format xlsx --output " + Quote(book));
  ASSERT_EQ(f.status, 0) << f.err;
  EXPECT_EQ(ReadFile(book).substr(0, 2), "PK");
  // The large group's member list is more than a workbook cell holds.
  RunOutput g = Report("--profile groups --format xlsx --output " + Quote(dir_ + "/g.xlsx"));
  EXPECT_EQ(g.status, 5);
  EXPECT_NE(g.err.find("column \"member\" of the entry \"cn=big,"), std::string::npos) << g.err;
}

TEST_F(ReportTest, ExitStatuses) {
  const std::string out = dir_ + "/r.csv";
  const struct {
    std::string args;
    int status;
    std::string err;  // a piece of what stderr says
  } cases[] = {
      {"--profile people --format csv --output " + out, 1, "choose one with --server"},
      {"--profile nobody --format csv --output " + out, 1, "no profile named 'nobody'"},
      {"--profile groups --format pdf --output " + out, 1, "unknown format 'pdf'"},
      {"--profile groups --output " + out, 1, "--format"},
      {"--bogus", 1, "unknown argument '--bogus'"},
      {"--profile refused --format csv --output " + out, 2, "ErrorCode: 10061"},
      {"--profile denied --format csv --output " + out, 2, "ErrorCode: 49"},
      {"--profile everything --format csv --output " + out, 3, "size limit"},
      {"--profile 'missing base' --format csv --output " + out, 4, "ErrorCode: 32"},
      {"--profile groups --format csv --output " + dir_ + "/no/such/folder/r.csv", 5, "r.csv"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    RunOutput r = Report(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    // Messages are single lines.
    for (size_t p = r.err.find('\n'); p != std::string::npos && p + 1 < r.err.size();
         p = r.err.find('\n', p + 1))
      EXPECT_NE(r.err.substr(p + 1, 6), "    Er") << r.err;
  }
  // The partial report of a size-limited search was written.
  EXPECT_TRUE(fs::exists(out));
  EXPECT_EQ(RunReport("--list --catalogue " + Quote(dir_ + "/none.db"), dir_).status, 1);
}

// Directories that cap plain searches at 1000 entries: the slapd identities of
// the harness, and a scripted directory that sends long value lists in ranges.
TEST_F(ReportTest, CappedDirectoriesGiveEveryEntryAndEveryValue) {
  const auto& env = Slapd();
  const std::vector<std::string> members = quorvel::test::Members(3200);
  quorvel::test::ScriptedDirectory ranged, broken;
  ranged.MaxValues = broken.MaxValues = 1500;
  ranged.Add("cn=big,o=x", {{"cn", {"big"}}, {"member", members}});
  broken.Add("cn=big,o=x", {{"cn", {"big"}}, {"member", members}});
  broken.FailRangeRequest = 1;
  quorvel::test::FakeServer ranged_srv, broken_srv;
  ranged.ServeOn(ranged_srv);
  broken.ServeOn(broken_srv);
  ASSERT_TRUE(ranged_srv.Start() && broken_srv.Start());

  auto server = [&](const std::string& name, int port, const std::string& dn,
                    const std::string& pw) {
    return "INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn) VALUES ('" + name +
           "','127.0.0.1'," + std::to_string(port) + ",'N','" + dn + "','" + pw + "','');";
  };
  auto profile = [&](const std::string& name, const std::string& srv, const std::string& base,
                     const std::string& att) {
    return "INSERT INTO profiles (name,serverid,basedn,scope,att,filter) SELECT '" + name +
           "',id,'" + base + "',2,'" + att + "','(objectClass=*)' FROM servers WHERE name='" + srv +
           "';";
  };
  const std::string sql = server("Capped", env.port, env.cappedDn, env.cappedPw) +
                          server("TotalCap", env.port, env.totalCapDn, env.totalCapPw) +
                          server("Ranged", ranged_srv.Port(), "", "") +
                          server("Broken", broken_srv.Port(), "", "") +
                          profile("capped", "Capped", env.base, "cn") +
                          profile("totalcap", "TotalCap", env.base, "cn") +
                          profile("ranged", "Ranged", "o=x", "cn;member") +
                          profile("broken", "Broken", "o=x", "cn;member");
  ASSERT_EQ(std::system(("sqlite3 " + Quote(catalogue_) + " " + Quote(sql)).c_str()), 0);
  const std::string out = dir_ + "/capped.csv";
  auto rows = [&] {
    const std::string text = ReadFile(out);
    std::size_t n = 0;
    for (std::size_t p = text.find("\r\n\"uid=user"); p != std::string::npos;
         p = text.find("\r\n\"uid=user", p + 1))
      ++n;
    return n;
  };

  RunOutput all = Report("--profile capped --format csv --output " + Quote(out));
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_NE(all.err.find("quorvel-report: The size limit of \"127.0.0.1\" was reached after 1000 "
                         "entries; the rest is read in pages of 1000 entries..."),
            std::string::npos)
      << all.err;
  EXPECT_EQ(rows(), 3000u);

  RunOutput capped = Report("--profile totalcap --format csv --output " + Quote(out));
  EXPECT_EQ(capped.status, 3) << capped.err;
  EXPECT_NE(capped.err.find("holds the 1000 entries received"), std::string::npos) << capped.err;

  RunOutput values = Report("--profile ranged --format csv --output " + Quote(out));
  EXPECT_EQ(values.status, 0) << values.err;
  std::string cell;
  for (const auto& m : members) cell += "[" + m + "]";
  EXPECT_NE(ReadFile(out).find("\"cn=big,o=x\",big,\"" + cell + "\"\r\n"), std::string::npos);

  const std::string none = dir_ + "/broken.csv";
  RunOutput failed = Report("--profile broken --format csv --output " + Quote(none));
  EXPECT_EQ(failed.status, 4) << failed.err;
  EXPECT_NE(failed.err.find("the values of attribute \"member\" of entry \"cn=big,o=x\" could not "
                            "be read in full"),
            std::string::npos)
      << failed.err;
  EXPECT_FALSE(fs::exists(none));
  ranged_srv.Finish();
  broken_srv.Finish();
}

// A search that finds nothing: a report of the header alone, status 0, and
// nothing said.
TEST_F(ReportTest, ASearchWithoutEntriesWritesTheHeaderAlone) {
  const std::string sql =
      "INSERT INTO profiles (name,serverid,basedn,scope,att,filter) VALUES "
      "('nothing',1,'ou=empty," +
      Slapd().base + "',1,'cn;mail','(objectClass=*)');";
  ASSERT_EQ(std::system(("sqlite3 " + Quote(catalogue_) + " " + Quote(sql)).c_str()), 0);
  const std::string out = dir_ + "/nothing.csv";
  RunOutput r = Report("--profile nothing --format csv --output " + Quote(out));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadFile(out), "oid,cn,mail\r\n");
}

// A directory whose paging never ends (the same cookie and page again): a
// search failure, the destination untouched.
TEST_F(ReportTest, PagingWithoutEndIsASearchFailure) {
  quorvel::test::ScriptedDirectory endless;
  endless.SizeLimit = 2;
  endless.Paging = quorvel::test::ScriptedDirectory::pfConstantCookie;
  for (int i = 0; i < 5; ++i) endless.Add("uid=u" + std::to_string(i) + ",o=x", {{"cn", {"u"}}});
  quorvel::test::FakeServer srv;
  endless.ServeOn(srv);
  ASSERT_TRUE(srv.Start());
  const std::string sql =
      "INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn) VALUES ('Endless','127.0.0.1'," +
      std::to_string(srv.Port()) +
      ",'N','','','');"
      "INSERT INTO profiles (name,serverid,basedn,scope,att,filter) SELECT 'endless',id,'o=x',2,"
      "'cn','(objectClass=*)' FROM servers WHERE name='Endless';";
  ASSERT_EQ(std::system(("sqlite3 " + Quote(catalogue_) + " " + Quote(sql)).c_str()), 0);
  const std::string out = dir_ + "/endless.csv";
  { std::ofstream(out) << "old"; }
  RunOutput r = Report("--profile endless --format csv --output " + Quote(out));
  EXPECT_EQ(r.status, 4) << r.err;
  EXPECT_NE(r.err.find("ErrorDesc: The server kept paging without end"), std::string::npos)
      << r.err;
  EXPECT_EQ(ReadFile(out), "old");
  srv.Finish();
}

TEST_F(ReportTest, UnwritableDestinationLeavesNoFile) {
  const std::string locked = dir_ + "/locked";
  fs::create_directory(locked);
  // A folder we cannot write into, even as root: a file in the way of the name.
  const std::string blocked = dir_ + "/blocked";
  { std::ofstream(blocked) << "x"; }
  RunOutput r = Report("--profile groups --format html --output " + Quote(blocked + "/r.html"));
  EXPECT_EQ(r.status, 5);
  EXPECT_FALSE(fs::exists(blocked + "/r.html"));
  // An existing report is replaced only by a complete one.
  const std::string keep = locked + "/keep.csv";
  { std::ofstream(keep) << "old"; }
  RunOutput ok = Report("--profile groups --format csv --output " + Quote(keep));
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_NE(ReadFile(keep), "old");
  int leftovers = 0;
  for (const auto& e : fs::directory_iterator(locked)) leftovers += e.path() != keep;
  EXPECT_EQ(leftovers, 0);
}

// A run killed (SIGKILL) at moments spread over its connection, search, rows
// and writing leaves either the old report or the complete new one, and the
// next run works.
TEST_F(ReportTest, AKilledRunLeavesTheOldReportOrTheWholeNewOne) {
  const std::string out = dir_ + "/people.csv", tmp = dir_ + "/tmp";
  const std::string args = "--profile people --server Admin --format csv --output " + Quote(out);
  ASSERT_EQ(Report(args).status, 0);
  const std::string complete = ReadFile(out);
  ASSERT_GT(std::count(complete.begin(), complete.end(), '\n'), 3000);
  fs::create_directory(tmp);
  { std::ofstream(out, std::ios::trunc) << "old"; }
  const std::string exe = quorvel::test::BinaryDir() + "/quorvel-report";
  int killed = 0;
  for (int delayMs : {0, 1, 3, 6, 10, 15, 22, 35, 60}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      setenv("TMPDIR", tmp.c_str(), 1);
      if (!freopen("/dev/null", "w", stderr)) _exit(126);
      execl(exe.c_str(), exe.c_str(), "--profile", "people", "--server", "Admin", "--format", "csv",
            "--output", out.c_str(), "--catalogue", catalogue_.c_str(), (char*)nullptr);
      _exit(127);
    }
    usleep(static_cast<useconds_t>(delayMs) * 1000);
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    killed += WIFSIGNALED(status);
    const std::string now = ReadFile(out);
    if (now != "old") {
      EXPECT_TRUE(now == complete)
          << "killed after " << delayMs << " ms: " << now.size() << " bytes of " << complete.size();
      std::ofstream(out, std::ios::trunc) << "old";
    }
  }
  EXPECT_GE(killed, 2) << "no run was killed before it ended";
  RunOutput r = Report(args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(ReadFile(out) == complete);
}

std::string Json(const std::string& s) {
  std::string r = "\"";
  for (unsigned char c : s) {
    if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      r += buf;
      continue;
    }
    if (c == '"' || c == '\\') r += '\\';
    r += static_cast<char>(c);
  }
  return r + "\"";
}

std::string JsonRow(const std::vector<std::string>& row) {
  std::string r = "[";
  for (std::size_t i = 0; i < row.size(); ++i) r += (i ? "," : "") + Json(row[i]);
  return r + "]";
}

// Values of a Windows domain's directory (the test directory's ou=ad): with
// readable values the SIDs, GUIDs and times in the forms administrators read,
// the same in every format, times as date-time cells in a workbook; with raw
// values as the directory sends them. Values that are not text (a NUL byte,
// bytes that are not UTF-8, a malformed SID, a 15-byte GUID) are Base64 of
// their bytes either way. Each report is read back by an independent reader.
TEST_F(ReportTest, DirectoryValuesReadableOrRawInEveryFormat) {
  // A catalogue of its own, made from the schema the build uses.
  const std::string catalogue = dir_ + "/ad.db";
  const std::string att =
      "sAMAccountName;objectSid;objectGUID;whenCreated;pwdLastSet;lastLogonTimestamp;"
      "accountExpires;sIDHistory;whenChanged;userParameters;description";
  const std::string sql =
      "INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn) VALUES "
      "('Admin','127.0.0.1'," +
      std::to_string(Slapd().port) + ",'N','" + Slapd().adminDn + "','" + Slapd().adminPw + "','" +
      Slapd().base +
      "');"
      "INSERT INTO profiles (name,serverid,basedn,scope,att,filter,readable) "
      "VALUES ('ad',1,'ou=ad," +
      Slapd().base + "',1,'" + att +
      "','(objectClass=quorvelDomainAccount)',1),"
      "('ad raw',1,'ou=ad," +
      Slapd().base + "',1,'" + att + "','(objectClass=quorvelDomainAccount)',0);";
  const std::string make = "sqlite3 " + Quote(catalogue) + " <" +
                           Quote(std::string(QUORVEL_SOURCE_DIR) + "/src/store/catalogue.sql") +
                           " && sqlite3 " + Quote(catalogue) + " " + Quote(sql);
  ASSERT_EQ(std::system(make.c_str()), 0);

  const std::string ad = ",ou=ad," + Slapd().base;
  const std::vector<std::string> header = {
      "oid",         "sAMAccountName", "objectSid",          "objectGUID",
      "whenCreated", "pwdLastSet",     "lastLogonTimestamp", "accountExpires",
      "sIDHistory",  "whenChanged",    "userParameters",     "description"};
  const std::string malformedSid = "AQUAAAAAAAUVAAAAx/f+13x3VciUWs4B9QEA";
  const std::string shortGuid = "Hrz/HqNKnU+lCNTYHx9Y";
  const std::vector<std::vector<std::string>> readable = {
      {"cn=Administrator" + ad, "Administrator", "S-1-5-21-3623811015-3361044348-30300820-500",
       "1effbc1e-4aa3-4f9d-a508-d4d81f1f5873", "2026-12-08 17:37:23", "2026-12-08 17:37:23",
       "2026-12-08 17:37:37", "9223372036854775807", "[S-1-5-21-1-2-3-1106][S-1-5-32-544]", "", "",
       ""},
      {"cn=Guest" + ad, "Guest", malformedSid, shortGuid, "", "0", "", "0", "",
       "2026-12-08 15:37:23", "", ""},
      {"cn=latin1" + ad, "latin1", "", "", "", "", "", "", "", "", "Y2Fm6Q==", ""},
      {"cn=nul" + ad, "nul", "", "", "", "", "", "", "", "", "YQBi", "line one\nline two"},
  };
  std::vector<std::vector<std::string>> raw = readable;
  raw[0][2] = "AQUAAAAAAAUVAAAAx/f+13x3VciUWs4B9AEAAA==";
  raw[0][3] = "Hrz/HqNKnU+lCNTYHx9Ycw==";
  raw[0][4] = "20261208173723.0Z";
  raw[0][5] = "134412250436290510";
  raw[0][6] = "134412250570500960";
  raw[0][8] = "[AQUAAAAAAAUVAAAAAQAAAAIAAAADAAAAUgQAAA==][AQIAAAAAAAUgAAAAIAIAAA==]";
  raw[1][9] = "20261208173723+0200";

  auto expected = [&](const std::string& name, const std::vector<std::vector<std::string>>& rows,
                      const std::string& times) {
    std::string j = "{\"header\":" + JsonRow(header) + ",\"times\":" + times + ",\"rows\":[";
    for (std::size_t i = 0; i < rows.size(); ++i) j += (i ? "," : "") + JsonRow(rows[i]);
    const std::string path = dir_ + "/" + name + ".json";
    std::ofstream(path, std::ios::binary) << j << "]}";
    return path;
  };
  const std::string readableJson = expected("readable", readable, "[[0,4],[0,5],[0,6],[1,9]]");
  const std::string rawJson = expected("raw", raw, "[]");
  const std::string checker =
      std::string(QUORVEL_SOURCE_DIR) + "/tests/export/readers/check_report.py";
  const struct {
    const char* profile;
    const char* values;  // --values, or nullptr for the profile's own setting
    const char* format;
    const std::string& json;
  } runs[] = {
      {"ad", nullptr, "csv", readableJson},         {"ad", nullptr, "tab", readableJson},
      {"ad", nullptr, "ldif", readableJson},        {"ad", nullptr, "html", readableJson},
      {"ad", nullptr, "rtf", readableJson},         {"ad", nullptr, "xls", readableJson},
      {"ad", nullptr, "xlsx", readableJson},        {"ad raw", nullptr, "csv", rawJson},
      {"ad raw", nullptr, "xlsx", rawJson},         {"ad", "raw", "csv", rawJson},
      {"ad raw", "readable", "xlsx", readableJson},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(std::string(run.profile) + " " + run.format);
    const std::string out = dir_ + "/ad-" + run.profile + "." + run.format;
    std::string args = "--catalogue " + Quote(catalogue) + " --profile " + Quote(run.profile) +
                       " --format " + run.format + " --output " + Quote(out);
    if (run.values) args += std::string(" --values ") + run.values;
    RunOutput r = RunReport(args, dir_);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string check = "/usr/bin/python3 " + Quote(checker) + " " + run.format + " " +
                              Quote(out) + " " + Quote(run.json) + " >" +
                              Quote(dir_ + "/check.txt") + " 2>&1";
    EXPECT_EQ(std::system(check.c_str()), 0) << ReadFile(dir_ + "/check.txt");
  }
  // A text value with a line break stays text; DIF says it wrote it as a blank.
  RunOutput dif = RunReport("--catalogue " + Quote(catalogue) +
                                " --profile ad --format dif --output " + Quote(dir_ + "/ad.dif"),
                            dir_);
  EXPECT_EQ(dif.status, 0) << dif.err;
  EXPECT_NE(dif.err.find("1 cell holds line breaks, written as blanks in the DIF report"),
            std::string::npos)
      << dif.err;
  RunOutput bad = RunReport(
      "--catalogue " + Quote(catalogue) + " --profile ad --format csv --output - --values pretty",
      dir_);
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("unknown --values 'pretty' (use readable or raw)"), std::string::npos)
      << bad.err;
}

// Runs quorvel-report in a child process with TMPDIR set and `prepare` run in
// the child first (limits, signal dispositions); returns its pid, with its
// standard error going to `err`.
template <class F>
pid_t StartReport(const std::vector<std::string>& args, const std::string& tmp,
                  const std::string& err, F prepare) {
  const std::string exe = quorvel::test::BinaryDir() + "/quorvel-report";
  const pid_t child = fork();
  if (child != 0) return child;
  setenv("TMPDIR", tmp.c_str(), 1);
  if (!freopen(err.c_str(), "w", stderr)) _exit(126);
  prepare();
  std::vector<char*> argv{const_cast<char*>(exe.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(exe.c_str(), argv.data());
  _exit(127);
}

// The names in a folder, hidden ones included.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// A temporary folder that runs out of room while the rows are stored (a file
// size limit, as a full disk answers): exit 5 with a message naming the
// working store and the reason; the destination and the folder are untouched.
TEST_F(ReportTest, AWorkingStoreWithoutRoomFailsTheRunAndKeepsTheReport) {
  const std::string out = dir_ + "/people.csv", tmp = dir_ + "/tmp", err = dir_ + "/err.txt";
  fs::create_directory(tmp);
  { std::ofstream(out) << "old"; }
  const pid_t child = StartReport({"--profile", "people", "--server", "Admin", "--format", "csv",
                                   "--output", out, "--catalogue", catalogue_},
                                  tmp, err, [] {
                                    signal(SIGXFSZ, SIG_IGN);
                                    const rlimit limit{256 * 1024, 256 * 1024};
                                    setrlimit(RLIMIT_FSIZE, &limit);
                                  });
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  const std::string text = ReadFile(err);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 5) << text;
  EXPECT_NE(text.find("quorvel-report: error: The rows could not be stored in the working store " +
                      tmp + "/quorvel-report."),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("the report was not written"), std::string::npos) << text;
  EXPECT_EQ(ReadFile(out), "old");
  EXPECT_EQ(Names(tmp), std::vector<std::string>{});
  EXPECT_EQ(Names(dir_),
            (std::vector<std::string>{"catalogue.db", "err.txt", "people.csv", "tmp"}));
}

// SIGTERM, SIGINT and SIGHUP while the run waits on its server (a server that
// never answers the bind) and while the report is being written: the private
// working store and the temporary report go, the destination keeps its old
// content, and the status is 128 + the signal's number.
TEST_F(ReportTest, AStoppedRunLeavesNothingBehind) {
  const int silent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(silent, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(silent, 8), 0);  // connections are made but never answered
  ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  const std::string sql =
      "INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn) VALUES ('Silent','127.0.0.1'," +
      std::to_string(ntohs(addr.sin_port)) +
      ",'N','','',''); INSERT INTO profiles (name,serverid,basedn,scope,att,filter) "
      "SELECT 'quiet', id, '', 2, 'cn', '(objectClass=*)' FROM servers WHERE name = 'Silent'";
  ASSERT_EQ(std::system(("sqlite3 " + Quote(catalogue_) + " " + Quote(sql)).c_str()), 0);

  const std::string out = dir_ + "/out.xlsx", tmp = dir_ + "/tmp", err = dir_ + "/err.txt";
  fs::create_directory(tmp);
  struct Case {
    int signal;
    bool writing;  // while the report is written, else while the server is waited for
  } cases[] = {{SIGTERM, false}, {SIGINT, false}, {SIGHUP, false},
               {SIGTERM, true},  {SIGINT, true},  {SIGHUP, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(strsignal(c.signal)) + (c.writing ? " writing" : " waiting"));
    { std::ofstream(out) << "old"; }
    // The writing phase is seen by the temporary report appearing beside
    // the destination; up to a few tries, should a run end before its signal.
    bool stopped = false;
    for (int attempt = 0; attempt < 5 && !stopped; ++attempt) {
      const int watch = inotify_init1(IN_CLOEXEC);
      ASSERT_GE(watch, 0);
      inotify_add_watch(watch, (c.writing ? dir_ : tmp).c_str(), IN_CREATE);
      const std::vector<std::string> args = {"--profile",   c.writing ? "people" : "quiet",
                                             "--server",    c.writing ? "Admin" : "Silent",
                                             "--format",    "xlsx",
                                             "--output",    out,
                                             "--catalogue", catalogue_};
      const pid_t child = StartReport(args, tmp, err, [] {});
      ASSERT_GT(child, 0);
      // Waiting: the private store is made before connecting; give it time
      // to reach the server. Writing: the temporary report was just made.
      bool seen = false;
      char events[4096];
      for (int polls = 0; polls < 200 && !seen; ++polls) {
        pollfd p{watch, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        const ssize_t n = read(watch, events, sizeof events);
        for (ssize_t i = 0; i < n;) {
          const auto* e = reinterpret_cast<const inotify_event*>(events + i);
          if (e->len > 0 && (c.writing ? e->name[0] == '.'
                                       : std::string(e->name).rfind("quorvel-report.", 0) == 0))
            seen = true;
          i += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
      }
      close(watch);
      EXPECT_TRUE(seen);
      if (!c.writing) usleep(200 * 1000);
      kill(child, c.signal);
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status)) << status;
      // The report was in place before the signal came: the run ended, or
      // the signal came while the run was kept for change reports, which it
      // lets finish before the program stops.
      if (c.writing && (WEXITSTATUS(status) == 0 ||
                        (WEXITSTATUS(status) == 128 + c.signal && ReadFile(out) != "old"))) {
        { std::ofstream(out, std::ios::trunc) << "old"; }
        continue;
      }
      stopped = true;
      EXPECT_EQ(WEXITSTATUS(status), 128 + c.signal) << ReadFile(err);
    }
    EXPECT_TRUE(stopped) << "every run ended before its signal";
    EXPECT_EQ(ReadFile(out), "old");
    EXPECT_EQ(Names(tmp), std::vector<std::string>{});
    // A run that ended before its signal kept its snapshot beside the
    // catalogue; nothing else is left, no journal of it either.
    std::vector<std::string> left = Names(dir_);
    std::erase(left, "history.db");
    EXPECT_EQ(left, (std::vector<std::string>{"catalogue.db", "err.txt", "out.xlsx", "tmp"}));
  }
  close(silent);
}

TEST_F(ReportTest, HelpAndVersion) {
  RunOutput h = RunReport("--help", dir_);
  EXPECT_EQ(h.status, 0);
  EXPECT_NE(h.out.find("--profile NAME --format FORMAT --output FILE"), std::string::npos);
  RunOutput v = RunReport("--version", dir_);
  EXPECT_EQ(v.status, 0);
  EXPECT_NE(v.out.find(" Build "), std::string::npos) << v.out;
}

}  // namespace

// The run never asks about a certificate: one its system does not know ends
// the run with the fingerprint and the command that trusts it; the two
// certificate commands show and trust it. The harness's authority is hidden
// from the runner, so its server's certificate is unknown, as most internal
// directories' are.
TEST_F(ReportTest, UnknownCertificatesEndTheRunUntilTrusted) {
  const auto& env = Slapd();
  const std::string sql =
      "INSERT INTO servers (id,name,server,port,ssl,uid,pwd,basedn) VALUES (50,'Secure it''s',"
      "'127.0.0.1'," +
      std::to_string(env.ldapsPort) + ",'Y','" + env.adminDn + "','" + env.adminPw + "','" +
      env.base +
      "');"
      "INSERT INTO profiles (name,serverid,basedn,scope,att,filter) VALUES "
      "('secure',50,'ou=people," +
      env.base + "',1,'cn','(objectClass=person)');";
  ASSERT_EQ(std::system(("sqlite3 " + Quote(catalogue_) + " " + Quote(sql)).c_str()), 0);
  auto sqlite = [&](const std::string& query) {
    std::string out;
    if (FILE* p = popen(("sqlite3 " + Quote(catalogue_) + " " + Quote(query)).c_str(), "r")) {
      char buf[512];
      while (fgets(buf, sizeof buf, p)) out += buf;
      pclose(p);
    }
    return out;
  };
  std::string fp;
  if (FILE* p = popen(
          ("openssl x509 -noout -fingerprint -sha256 -in " + Quote(env.certFile)).c_str(), "r")) {
    char buf[256];
    fp = fgets(buf, sizeof buf, p) ? std::string(buf) : std::string();
    pclose(p);
  }
  fp = fp.substr(fp.find('=') + 1);
  fp = fp.substr(0, fp.find('\n'));
  ASSERT_EQ(fp.size(), 95u) << fp;
  std::string plainLower, wrong = fp;
  for (char c : fp)
    if (c != ':') plainLower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  wrong.back() = wrong.back() == '0' ? '1' : '0';

  const char* saved = std::getenv("SSL_CERT_FILE");
  const std::string savedValue = saved ? saved : "";
  setenv("SSL_CERT_FILE", (dir_ + "/no-authority.pem").c_str(), 1);
  const std::string out = dir_ + "/secure.csv";
  const std::string server = " --server \"Secure it's\"";
  const struct {
    std::string args;
    int status;
    std::string out, err;  // pieces of what stdout and stderr say
    int trusted;           // rows in trusted_certificates afterwards
  } steps[] = {
      {"--profile secure --format csv --output " + out, 2, "",
       "is not trusted: issued by an authority that is not trusted: /O=Quorvel Test/CN=Quorvel "
       "Test CA. Its SHA-256 fingerprint is " +
           fp +
           ". If that is the server's own certificate, trust it with: quorvel-report "
           "--trust-certificate " +
           fp + " --server 'Secure it'\\''s' --catalogue '" + catalogue_ + "'",
       0},
      {"--show-certificate" + server, 0, "SHA-256 fingerprint: " + fp, "", 0},
      {"--show-certificate" + server, 0, "Trusted:       no", "", 0},
      {"--trust-certificate " + wrong + server, 2, "", "nothing was stored", 0},
      {"--trust-certificate 12:34" + server, 1, "", "is not a SHA-256 fingerprint", 0},
      {"--trust-certificate " + fp + " --server Nobody", 1, "", "no server named 'Nobody'", 0},
      {"--trust-certificate " + fp + " --server Admin", 1, "", "does not use SSL", 0},
      {"--show-certificate --profile secure" + server, 1, "", "take only --server", 0},
      {"--trust-certificate " + plainLower + server, 0, "", "is now trusted", 1},
      {"--show-certificate" + server, 0, "Trusted:       yes, since ", "", 1},
      {"--profile secure --format csv --output " + out, 0, "", "", 1},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.args);
    RunOutput r = Report(s.args);
    EXPECT_EQ(r.status, s.status) << r.err;
    EXPECT_NE(r.out.find(s.out), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(s.err), std::string::npos) << r.err;
    EXPECT_EQ(sqlite("SELECT count(*) FROM trusted_certificates WHERE serverid = 50"),
              std::to_string(s.trusted) + "\n");
  }
  EXPECT_NE(ReadFile(out).find("cn="), std::string::npos);
  if (saved)
    setenv("SSL_CERT_FILE", savedValue.c_str(), 1);
  else
    unsetenv("SSL_CERT_FILE");
}

// A certificate trusted for a server and expired since ends the run (exit 2)
// with a message that says so and gives the command that trusts it again;
// trusted again, it holds. The scripted TLS peer serves a certificate valid
// from 2020 to 2021, as a directory server whose certificate was never
// renewed does.
TEST(ReportCertificates, ATrustedCertificateThatHasExpiredSinceEndsTheRun) {
  const std::string certs = quorvel::test::TestCertificates();
  ASSERT_FALSE(certs.empty());
  char tmpl[] = "/tmp/quorvel-report-expired.XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  const std::string catalogue = dir + "/catalogue.db";
  fs::copy_file(quorvel::test::BinaryDir() + "/lib/quorvel.db", catalogue);
  int port = 0;
  {
    quorvel::test::TlsPeer probe(certs + "/expired.pem", certs + "/expired.key");
    ASSERT_TRUE(probe.Start());
    port = probe.Port();
  }
  auto sqlite = [&](const std::string& statement) {
    return std::system(("sqlite3 " + Quote(catalogue) + " " + Quote(statement)).c_str());
  };
  ASSERT_EQ(sqlite("INSERT INTO servers (id,name,server,port,ssl,uid,pwd,basedn) VALUES "
                   "(60,'Old','127.0.0.1'," +
                   std::to_string(port) +
                   ",'Y','','','o=x');"
                   "INSERT INTO profiles (name,serverid,basedn,scope,att,filter) VALUES "
                   "('old',60,'o=x',2,'cn','(objectClass=*)');"),
            0);
  std::string fp;
  if (FILE* p = popen(
          ("openssl x509 -noout -fingerprint -sha256 -in " + Quote(certs + "/expired.pem")).c_str(),
          "r")) {
    char buf[256];
    fp = fgets(buf, sizeof buf, p) ? std::string(buf) : std::string();
    pclose(p);
  }
  fp = fp.substr(fp.find('=') + 1, 95);
  ASSERT_EQ(fp.size(), 95u);

  const char* saved = std::getenv("SSL_CERT_FILE");
  const std::string savedValue = saved ? saved : "";
  setenv("SSL_CERT_FILE", (certs + "/ca.pem").c_str(), 1);
  const std::string args = " --catalogue " + Quote(catalogue);
  const std::string run = "--profile old --format csv --output " + Quote(dir + "/old.csv");
  const struct {
    const char* what;
    std::string args;
    std::string backdate;  // when the trusted row says it was trusted, set before the step
    int status;
    std::string out, err;  // pieces of what stdout and stderr say
  } steps[] = {
      {"trusted while expired", "--trust-certificate " + fp + " --server Old", "", 0, "",
       "is now trusted"},
      {"shown as trusted", "--show-certificate --server Old", "", 0, "Trusted:       yes, since ",
       ""},
      {"trusted before it expired", "--show-certificate --server Old", "2020-06-01 00:00:00 UTC", 0,
       "Trusted:       no longer: trusted on 2020-06-01 00:00:00 UTC, it has expired since", ""},
      {"the run ends", run, "", 2, "",
       "The trusted certificate of server \"Old\" (127.0.0.1:" + std::to_string(port) +
           ") has expired since it was trusted: it was valid until 2021-01-01 00:00:00 UTC "
           "(expired on 2021-01-01 00:00:00 UTC). Ask the directory's administrator for the "
           "server's new certificate; if this one is still the server's own, trust it again "
           "with: quorvel-report --trust-certificate " +
           fp + " --server 'Old' --catalogue " + Quote(catalogue)},
      {"trusted again", "--trust-certificate " + fp + " --server Old", "", 0, "", "is now trusted"},
      {"trusted", "--show-certificate --server Old", "", 0, "Trusted:       yes, since ", ""},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    if (!s.backdate.empty()) {
      ASSERT_EQ(sqlite("UPDATE trusted_certificates SET trusted = '" + s.backdate + "'"), 0);
    }
    quorvel::test::TlsPeer peer(certs + "/expired.pem", certs + "/expired.key");
    ASSERT_TRUE(peer.Start(port)) << peer.Error();
    RunOutput r = RunReport(s.args + args, dir);
    EXPECT_EQ(r.status, s.status) << r.err;
    EXPECT_NE(r.out.find(s.out), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(s.err), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(dir + "/old.csv"));
  if (saved)
    setenv("SSL_CERT_FILE", savedValue.c_str(), 1);
  else
    unsetenv("SSL_CERT_FILE");
  std::error_code ec;
  fs::remove_all(dir, ec);
}

// The report as the window shapes it: the saved view of the profile (hidden
// and moved columns, its sort), --sort and --columns over it, --view none
// without it; rows read back by Python's csv module and compared with its own
// sort of the whole report.
TEST_F(ReportTest, SavedViewSortAndColumnsShapeTheReport) {
  QUORVEL_REQUIRE_SLAPD(Slapd());
  const std::string whole = dir_ + "/whole.csv", shaped = dir_ + "/shaped.csv";
  auto run = [&](const std::string& args, const std::string& out) {
    return Report("--profile people --server Admin --format csv --output " + Quote(out) + " " +
                  args);
  };
  ASSERT_EQ(run("", whole).status, 0);
  // Python's reading: both files parsed, the whole one sorted and cut as
  // asked (empty cells last, case folded, ties in DN order), then compared.
  auto same = [&](const std::string& columns, const std::string& key, bool descending) {
    const std::string script =
        "import csv,sys\n"
        "rd=lambda p: list(csv.DictReader(open(p,newline='',encoding='utf-8')))\n"
        "rows=rd(sys.argv[1]); got=list(csv.reader(open(sys.argv[2],newline='',"
        "encoding='utf-8')))\n"
        "cols=sys.argv[3].split(','); key=sys.argv[4]; desc=sys.argv[5]=='1'\n"
        "rows.sort(key=lambda r: r['oid'])\n"
        "full=[r for r in rows if r[key]]; empty=[r for r in rows if not r[key]]\n"
        "full.sort(key=lambda r: r[key].lower(), reverse=desc)\n"
        "want=[cols]+[[r[c] for c in cols] for r in full+empty]\n"
        "sys.exit(0 if got==want and len(want)>2 else 1)\n";
    std::ofstream(dir_ + "/check.py") << script;
    const std::string cmd = "python3 " + Quote(dir_ + "/check.py") + " " + Quote(whole) + " " +
                            Quote(shaped) + " " + Quote(columns) + " " + key + " " +
                            (descending ? "1" : "0");
    return std::system(cmd.c_str()) == 0;
  };
  RunOutput r = run("--sort=-givenname,dn --columns 'givenname,DN, mail'", shaped);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(same("givenname,oid, mail", "givenname", true)) << ReadFile(shaped).substr(0, 300);

  // The view saved in the window: mail hidden, cn moved last, sorted by cn.
  const std::string view =
      "column\t120\tshown\toid\ncolumn\t80\thidden\t mail\ncolumn\t100\tshown\tgivenname\n"
      "sort\tasc\tcn\n";
  ASSERT_EQ(std::system(("sqlite3 " + Quote(catalogue_) + " " +
                         Quote("UPDATE profiles SET view = '" + view + "' WHERE id = 1"))
                            .c_str()),
            0);
  ASSERT_EQ(run("", shaped).status, 0);
  EXPECT_TRUE(same("oid,givenname,cn,jpegPhoto,member", "cn", false));
  // --sort replaces the view's sort only.
  ASSERT_EQ(run("--sort givenname", shaped).status, 0);
  EXPECT_TRUE(same("oid,givenname,cn,jpegPhoto,member", "givenname", false));
  // Without the view the report is today's, byte for byte.
  ASSERT_EQ(run("--view none", shaped).status, 0);
  EXPECT_EQ(LinesWithoutDates(ReadFile(shaped)), LinesWithoutDates(ReadFile(whole)));

  for (const auto& [args, text] :
       {std::pair<std::string, std::string>{"--sort sn", "unknown column 'sn' in --sort"},
        {"--columns cn,,mail", "unknown column '' in --columns"},
        {"--view all", "unknown --view 'all'"}}) {
    RunOutput bad = run(args, shaped);
    EXPECT_EQ(bad.status, 1) << args;
    EXPECT_NE(bad.err.find(text), std::string::npos) << bad.err;
  }
}

// A CSV report is written while the entries arrive when they come in DN
// order, and after the search when they do not: the same bytes either way,
// and the same as the report written to standard output (which always waits
// for the stored rows). A run stopped while the report is being written
// during the search, and its values copied into the history file, leaves
// the old report, nothing beside it and the history file as it was.
TEST_F(ReportTest, ACsvReportWrittenWhileTheEntriesArriveIsTheSameReport) {
  constexpr int kPeople = 3000;
  std::vector<quorvel::test::ScriptedDirectory::Entry> people;
  for (int i = 0; i < kPeople; ++i) {
    char uid[16];
    std::snprintf(uid, sizeof uid, "u%05d", i);
    // Texts that CSV quotes: commas, quotes, a line break, an empty cell.
    std::vector<quorvel::test::ScriptedDirectory::Attribute> a = {
        {"cn", {std::string("Person \"") + uid + "\", of the directory " + std::string(500, 'x')}},
        {"mail", {std::string(uid) + "@x.test", i % 7 == 0 ? "second\nline" : "alias@x.test"}}};
    if (i % 5 == 0) a.push_back({"description", {}});
    people.push_back({std::string("uid=") + uid + ",o=x", a});
  }
  std::vector<quorvel::test::ScriptedDirectory::Entry> shuffled = people;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(35));
  quorvel::test::ScriptedDirectory ordered, unordered, stalled;
  for (const auto& e : people) ordered.Add(e.dn, e.attributes);
  for (const auto& e : shuffled) unordered.Add(e.dn, e.attributes);
  for (const auto& e : people) stalled.Add(e.dn, e.attributes);
  stalled.StallSearch = 0;  // the search: most entries, then nothing
  stalled.StallAfter = 2500;
  // Each run is served by a server of its own (one connection each).
  std::string sql;
  for (const char* name : {"Ordered", "Unordered", "Stalled"})
    sql += std::string("INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn) VALUES ('") +
           name +
           "','127.0.0.1',1,'N','','','');"
           "INSERT INTO profiles (name,serverid,basedn,scope,att,filter) SELECT 'staff',id,'o=x',"
           "2,'cn;mail;description','(objectClass=*)' FROM servers WHERE name='" +
           name + "';";
  ASSERT_EQ(std::system(("sqlite3 " + Quote(catalogue_) + " " + Quote(sql)).c_str()), 0);
  auto serve = [&](quorvel::test::ScriptedDirectory& dir, quorvel::test::FakeServer& srv,
                   const std::string& name) {
    srv.TimeLimitMs = 60000;
    dir.ServeOn(srv);
    if (!srv.Start()) return false;
    const std::string port =
        "UPDATE servers SET port=" + std::to_string(srv.Port()) + " WHERE name='" + name + "'";
    return std::system(("sqlite3 " + Quote(catalogue_) + " " + Quote(port)).c_str()) == 0;
  };
  auto run = [&](quorvel::test::ScriptedDirectory& dir, const std::string& name,
                 const std::string& output) {
    quorvel::test::FakeServer srv;
    EXPECT_TRUE(serve(dir, srv, name));
    RunOutput r =
        Report("--profile staff --server " + name + " --format csv --output " + Quote(output));
    srv.Finish();
    return r;
  };

  std::string first;
  for (auto* dir : {&ordered, &unordered}) {
    const std::string name = dir == &ordered ? "Ordered" : "Unordered";
    SCOPED_TRACE(name);
    const std::string out = dir_ + "/staff.csv";
    RunOutput file = run(*dir, name, out);
    ASSERT_EQ(file.status, 0) << file.err;
    EXPECT_EQ(file.err, "");
    RunOutput piped = run(*dir, name, "-");
    ASSERT_EQ(piped.status, 0) << piped.err;
    const std::string written = ReadFile(out);
    EXPECT_TRUE(written == piped.out) << "the file and standard output differ";
    if (first.empty())
      first = written;
    else
      EXPECT_TRUE(written == first) << "the shuffled entries give another report";
  }
  // Read back by Python's reader: a header, every entry once, in DN order.
  std::ofstream(dir_ + "/check.py")
      << "import csv,sys\n"
         "rows=list(csv.reader(open(sys.argv[1],newline='',encoding='utf-8')))\n"
         "dns=[r[0] for r in rows[1:]]\n"
         "ok=rows[0]==['oid','cn','mail','description'] and dns==sorted(dns) and "
         "len(set(dns))==int(sys.argv[2]) and rows[1][2]=='[u00000@x.test][second\\nline]'\n"
         "sys.exit(0 if ok else 1)\n";
  { std::ofstream(dir_ + "/first.csv", std::ios::binary) << first; }
  EXPECT_EQ(std::system(("python3 " + Quote(dir_ + "/check.py") + " " + Quote(dir_ + "/first.csv") +
                         " " + std::to_string(kPeople))
                            .c_str()),
            0);

  // The stalled directory sends 2500 entries and then nothing: the report's
  // temporary file beside the destination fills meanwhile. A stop then
  // leaves the old report alone.
  const std::string folder = dir_ + "/stalled", out = folder + "/staff.csv";
  fs::create_directory(folder);
  { std::ofstream(out) << "old"; }
  quorvel::test::FakeServer stalledSrv;
  ASSERT_TRUE(serve(stalled, stalledSrv, "Stalled"));
  const pid_t child = StartReport({"--profile", "staff", "--server", "Stalled", "--format", "csv",
                                   "--output", out, "--catalogue", catalogue_},
                                  dir_, dir_ + "/err.txt", [] {});
  ASSERT_GT(child, 0);
  std::uintmax_t filled = 0;
  for (int polls = 0; polls < 300 && filled < 1000000; ++polls) {
    usleep(50 * 1000);
    for (const auto& e : fs::directory_iterator(folder)) {
      std::error_code ec;
      if (e.path().filename().string()[0] == '.') filled = std::max(filled, e.file_size(ec));
    }
  }
  EXPECT_GE(filled, 1000000u) << "no report was written while the search waited";
  // Long enough for the run's values to be copied into the history file
  // (the earlier runs made it) at least once before the stop.
  usleep(700 * 1000);
  kill(child, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM) << ReadFile(dir_ + "/err.txt");
  EXPECT_EQ(ReadFile(out), "old");
  EXPECT_EQ(Names(folder), std::vector<std::string>{"staff.csv"});
  // The history file holds the two runs kept before, whole, and no journal.
  const std::string history = dir_ + "/history.db";
  EXPECT_FALSE(fs::exists(history + "-journal"));
  const std::string check = "sqlite3 " + Quote(history) +
                            " 'PRAGMA integrity_check; SELECT count(*) FROM snapshots' > " +
                            Quote(dir_ + "/history.txt");
  EXPECT_EQ(std::system(check.c_str()), 0);
  EXPECT_EQ(ReadFile(dir_ + "/history.txt"), "ok\n2\n");
  stalledSrv.Finish();
}
