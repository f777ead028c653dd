// quorvel-report --schema and --check, run as a separate process on a
// catalogue of its own against the private slapd; --schema is compared with
// the stock ldapsearch client's answer parsed by an independent reader
// (subschema_lines.py).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/fake_server.h"
#include "common/scripted_directory.h"
#include "common/slapd_env.h"

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

RunOutput RunShell(const std::string& cmd, const std::string& dir) {
  const std::string out = dir + "/stdout.txt", err = dir + "/stderr.txt";
  RunOutput r;
  const int raw =
      std::system(("timeout 120 " + cmd + " >" + Quote(out) + " 2>" + Quote(err)).c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = ReadFile(out);
  r.err = ReadFile(err);
  return r;
}

class SchemaReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QUORVEL_REQUIRE_SLAPD(Slapd());
    char tmpl[] = "/tmp/quorvel-schema-report.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    catalogue_ = dir_ + "/catalogue.db";
    fs::copy_file(quorvel::test::BinaryDir() + "/lib/quorvel.db", catalogue_);
  }
  void TearDown() override {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }
  void Sql(const std::string& sql) {
    ASSERT_EQ(std::system(("sqlite3 " + Quote(catalogue_) + " " + Quote(sql)).c_str()), 0);
  }
  // Servers: 1 the test directory, 2 a closed port, 3 at `otherPort` (the
  // scripted directory without schema).
  void AddServers(int otherPort) {
    const auto& env = Slapd();
    Sql("INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn) VALUES "
        "('Test directory','127.0.0.1'," +
        std::to_string(env.port) + ",'N','" + env.adminDn + "','" + env.adminPw +
        "',''),('Closed','127.0.0.1',1,'N','','',''),"
        "('Bare','127.0.0.1'," +
        std::to_string(otherPort) +
        ",'N','','','');"
        "INSERT INTO profiles (name,serverid,basedn,scope,att,filter) VALUES "
        "('typo',1,'',2,'cn;mial;commonName;*;department','(cn=Smith (Admin))'),"
        "('names',1,'',2,'cn;mail','(&(objectClass=person)(surnme=x))'),"
        "('clean',1,'',2,'cn; mail;givenName','(objectClass=inetOrgPerson)'),"
        "('closed',2,'',2,'cn','(cn=x)'),('bare',3,'',2,'mial','(cn=x)');");
  }
  RunOutput Report(const std::string& args) {
    return RunShell(Quote(quorvel::test::BinaryDir() + "/quorvel-report") + " " + args +
                        " --catalogue " + Quote(catalogue_),
                    dir_);
  }

  std::string dir_, catalogue_;
};

}  // namespace

TEST_F(SchemaReportTest, SchemaListsWhatTheDirectoryPublishes) {
  AddServers(1);
  const auto& env = Slapd();
  const RunOutput expected = RunShell(
      "ldapsearch -x -LLL -o ldif-wrap=no -H ldap://127.0.0.1:" + std::to_string(env.port) +
          " -D " + Quote(env.adminDn) + " -w " + Quote(env.adminPw) +
          " -b cn=subschema -s base attributeTypes | python3 " +
          Quote(quorvel::test::SourceDir() + "/tests/report/subschema_lines.py"),
      dir_);
  ASSERT_EQ(expected.status, 0) << expected.err;
  ASSERT_GT(expected.out.size(), 1000u);
  const RunOutput r = Report("--schema --server 'Test directory'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, expected.out);
  EXPECT_NE(r.out.find("cn\tcommonName\t1.3.6.1.4.1.1466.115.121.1.15\tmulti\t"),
            std::string::npos);
  EXPECT_NE(r.out.find("objectSid\t\t1.3.6.1.4.1.1466.115.121.1.40\tsingle\t\n"),
            std::string::npos);

  // Kept in the catalogue: the next command reads it from there, even with
  // the server's port closed.
  Sql("UPDATE servers SET port = 1 WHERE id = 1");
  const RunOutput cached = Report("--schema --server 'Test directory'");
  EXPECT_EQ(cached.status, 0) << cached.err;
  EXPECT_EQ(cached.out, r.out);

  EXPECT_EQ(Report("--schema").status, 1);
  EXPECT_EQ(Report("--schema --server 'Test directory' --profile typo").status, 1);
  EXPECT_EQ(Report("--schema --server Nobody").status, 1);
  const RunOutput closed = Report("--schema --server Closed");
  EXPECT_EQ(closed.status, 2);
  EXPECT_NE(closed.err.find("Error connecting to \"127.0.0.1\""), std::string::npos) << closed.err;
}

TEST_F(SchemaReportTest, CheckNamesEveryFinding) {
  quorvel::test::ScriptedDirectory bare;
  bare.Add("o=x", {{"o", {"x"}}});
  quorvel::test::FakeServer srv;
  bare.ServeOn(srv);
  srv.Start();
  AddServers(srv.Port());

  const RunOutput typo = Report("--check --profile typo");
  EXPECT_EQ(typo.status, 1) << typo.err;
  EXPECT_EQ(typo.out,
            "Filter: Position 11: unescaped \"(\" in a value; write \\28 for it\n"
            "mial: not in the schema of Test directory; did you mean mail?\n"
            "department: not in the schema of Test directory.\n");
  const RunOutput names = Report("--check --profile names --server 'Test directory'");
  EXPECT_EQ(names.status, 1) << names.err;
  EXPECT_EQ(names.out, "surnme: not in the schema of Test directory; did you mean surname?\n");
  const RunOutput clean = Report("--check --profile clean");
  EXPECT_EQ(clean.status, 0) << clean.err;
  EXPECT_EQ(clean.out, "");

  // No schema: said on standard error, nothing checked.
  const RunOutput none = Report("--check --profile bare");
  EXPECT_EQ(none.status, 0) << none.err;
  EXPECT_EQ(none.out, "");
  EXPECT_NE(none.err.find("The server \"Bare\" publishes no readable schema (its root DSE names "
                          "no subschema entry)"),
            std::string::npos)
      << none.err;

  EXPECT_EQ(Report("--check --profile closed").status, 2);
  EXPECT_EQ(Report("--check --profile nothing").status, 1);
  EXPECT_EQ(Report("--check").status, 1);
  EXPECT_EQ(Report("--check --schema --profile typo").status, 1);
}
