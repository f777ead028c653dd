// quorvel-report and referrals, against the servers of the fixture
// "referrals" (tests/common/referral-harness.sh): the places named on
// standard error, followed on request, and a place that cannot be searched
// leaves a written report with status 3.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/slapd_env.h"

namespace fs = std::filesystem;

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

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

class ReferralReport : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = quorvel::test::ReadEnvFile(quorvel::test::BinaryDir() + "/referral-test/env");
    ASSERT_FALSE(env_["REF_A_PORT"].empty()) << "the referral servers are not running";
    char tmpl[] = "/tmp/quorvel-referral-report.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    catalogue_ = dir_ + "/catalogue.db";
    fs::copy_file(quorvel::test::BinaryDir() + "/lib/quorvel.db", catalogue_);
    const std::string base = env_["REF_BASE"];
    const std::string sql =
        "INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn) VALUES ('A','127.0.0.1'," +
        env_["REF_A_PORT"] + ",'N','" + env_["REF_ADMIN_DN"] + "','" + env_["REF_ADMIN_PW"] +
        "','" + base +
        "');"
        "INSERT INTO profiles (name,serverid,basedn,scope,att,filter) VALUES "
        "('ok',1,'ou=ok," +
        base + "',2,'cn','(objectClass=*)'),('bad',1,'ou=bad," + base +
        "',2,'cn','(objectClass=*)');";
    ASSERT_EQ(std::system(("sqlite3 " + Quote(catalogue_) + " " + Quote(sql)).c_str()), 0);
  }
  void TearDown() override {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }
  // Runs a profile into a CSV report; the status, and stderr's lines.
  int Run(const std::string& profile, const std::string& extra) {
    const std::string exe = quorvel::test::BinaryDir() + "/quorvel-report";
    const std::string cmd = "timeout 120 " + Quote(exe) + " --profile " + profile +
                            " --format csv --output " + Quote(dir_ + "/out.csv") + " " + extra +
                            " --catalogue " + Quote(catalogue_) + " 2>" + Quote(dir_ + "/err.txt");
    const int raw = std::system(cmd.c_str());
    err = Lines(ReadFile(dir_ + "/err.txt"));
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  // The DNs of the report (first column, header left out).
  std::vector<std::string> ReportDns() const {
    std::vector<std::string> dns;
    std::vector<std::string> rows = Lines(ReadFile(dir_ + "/out.csv"));
    for (std::size_t i = 1; i < rows.size(); ++i) {
      std::string dn = rows[i].substr(0, rows[i].find("\","));
      dn.erase(std::remove(dn.begin(), dn.end(), '"'), dn.end());
      dns.push_back(dn);
    }
    std::sort(dns.begin(), dns.end());
    return dns;
  }
  std::vector<std::string> Starting(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& line : err)
      if (line.rfind(prefix, 0) == 0) out.push_back(line);
    return out;
  }

  std::map<std::string, std::string> env_;
  std::string dir_, catalogue_;
  std::vector<std::string> err;
};

TEST_F(ReferralReport, NamedFollowedOrIncomplete) {
  const std::string ref = "quorvel-report: referral not followed: ";
  const std::string b = "ldap://127.0.0.1:" + env_["REF_B_PORT"] + "/";
  // Reported: one line per place, the status unchanged.
  EXPECT_EQ(Run("ok", "--referrals report"), 0);
  const std::vector<std::string> named = Starting(ref);
  ASSERT_EQ(named.size(), 3u);
  for (const auto& line : named) EXPECT_EQ(line.rfind(ref + b, 0), 0u) << line;
  EXPECT_EQ(Starting("quorvel-report: An Active Directory forest").size(), 1u);
  EXPECT_EQ(ReportDns().size(), 4u);  // ou=ok, ou=people, cn=a1, cn=a2
  // The server's own setting reports them too.
  EXPECT_EQ(Run("ok", ""), 0);
  EXPECT_EQ(Starting(ref).size(), 3u);

  // Followed: every place's entries, nothing named.
  EXPECT_EQ(Run("ok", "--referrals follow"), 0);
  EXPECT_TRUE(Starting(ref).empty());
  EXPECT_EQ(ReportDns().size(), 13u);  // 4 of a, 3 + 2 + 2 of b, 2 of c

  // A closed port and an untrusted certificate: named with the reason, and
  // the report holds the rest.
  EXPECT_EQ(Run("bad", "--referrals=follow"), 3);
  const std::vector<std::string> missed = Starting(ref);
  ASSERT_EQ(missed.size(), 2u);
  for (const auto& line : missed) EXPECT_EQ(line.back(), ')') << line;
  EXPECT_EQ(ReportDns(),
            std::vector<std::string>(
                {"cn=a3,ou=bad," + env_["REF_BASE"], "cn=d1,ou=clear,ou=bad," + env_["REF_BASE"],
                 "ou=bad," + env_["REF_BASE"], "ou=clear,ou=bad," + env_["REF_BASE"]}));

  EXPECT_EQ(Run("ok", "--referrals sometimes"), 1);
}

}  // namespace
