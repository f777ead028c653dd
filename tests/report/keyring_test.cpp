// Bind passwords out of the catalogue, against a real Secret Service (the
// private keyring of tests/common/keyring-harness.sh) and the private slapd:
// the keyring layer and the catalogue's side (items checked with secret-tool),
// ConnectServer with each place, the move of old passwords (no byte left in
// the file or its log), and quorvel-report with the keyring, a password file
// and the terminal prompt (on a real terminal, tmux).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/slapd_env.h"
#include "net/keyring.h"
#include "store/connect.h"
#include "store/data.h"
#include "store/messages.h"
#include "store/secrets.h"
#include "store/testcatalogue.h"

namespace fs = std::filesystem;
namespace keyring = quorvel::keyring;
using quorvel::test::Slapd;

namespace {

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string KeyringDir() {
  return quorvel::test::BinaryDir() + "/keyring-test";
}

// The private keyring's bus, set for this process (before libsecret first
// connects) and inherited by every program the tests start.
bool UseKeyring() {
  static const bool ok = [] {
    const auto env = quorvel::test::ReadEnvFile(KeyringDir() + "/env");
    const auto bus = env.find("QUORVEL_KEYRING_BUS");
    if (bus == env.end()) return false;
    setenv("DBUS_SESSION_BUS_ADDRESS", bus->second.c_str(), 1);
    return true;
  }();
  return ok;
}

struct Output {
  int status = -1;
  std::string out;
};

// Runs a shell command (bounded), its standard output and error together.
Output Sh(const std::string& cmd) {
  Output r;
  FILE* p = popen(("timeout 120 sh -c " + Quote(cmd) + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int raw = pclose(p);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return r;
}

std::string ToolLookup(const keyring::TKey& key) {
  return Sh("secret-tool lookup host " + Quote(key.host) + " port " + std::to_string(key.port) +
            " user " + Quote(key.user))
      .out;
}

// Records what LogError and LogInfo said.
class TRecordingSink : public TMessageSink {
 public:
  TRecordingSink() : previous_(SetMessageSink(this)) {}
  ~TRecordingSink() override { SetMessageSink(previous_); }
  void Error(const std::string& text) override { errors.push_back(text); }
  void Info(const std::string& text) override { infos.push_back(text); }
  bool Ask(const std::string&) override { return true; }
  std::vector<std::string> errors, infos;

 private:
  TMessageSink* previous_;
};

class KeyringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QUORVEL_REQUIRE_SLAPD(Slapd());
    ASSERT_TRUE(UseKeyring()) << "private keyring not available in " << KeyringDir();
    char tmpl[] = "/tmp/quorvel-keyring-test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    catalogue_ = dir_ + "/quorvel.db";
    working_ = dir_ + "/dump.db";
    quorvel::test::MakeCatalogue(catalogue_);
    { std::ofstream(working_, std::ios::trunc); }
  }
  void TearDown() override {
    for (const keyring::TKey& key : made_) keyring::Remove(key);
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }

  bool Open(Tdata& d) {
    return InitDatabases(d, catalogue_, working_, quorvel::test::BinaryDir() + "/lib/quorvel.so");
  }
  // A key of this test alone (removed afterwards).
  keyring::TKey Key(const std::string& host, int port, const std::string& user) {
    made_.push_back({host, port, user});
    return made_.back();
  }
  // The administrator's server kept in `secret`, password left out.
  TServerNodeData Admin(const std::string& secret) {
    TServerNodeData s = quorvel::test::AdminServer();
    s.secret = secret;
    if (secret != quorvel::kSecretCatalogue) s.pwd.clear();
    made_.push_back(quorvel::KeyringKey(s));
    return s;
  }
  Output Report(const std::string& args, const std::string& prefix = "") {
    return Sh(prefix + Quote(quorvel::test::BinaryDir() + "/quorvel-report") + " " + args +
              " --catalogue " + Quote(catalogue_));
  }
  // Adds a server row with its profile "people" through the shell's sqlite3.
  void AddServerRow(const std::string& name, const std::string& secret, const std::string& pwd,
                    const std::string& uid = Slapd().adminDn) {
    const std::string sql =
        "INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn,secret) VALUES ('" + name +
        "','127.0.0.1'," + std::to_string(Slapd().port) + ",'N','" + uid + "','" + pwd + "','" +
        Slapd().base + "','" + secret +
        "');"
        "INSERT INTO profiles (name,serverid,basedn,scope,att,filter) VALUES ('" +
        name + " people',last_insert_rowid(),'ou=people," + Slapd().base +
        "',1,'cn','(objectClass=*)');";
    ASSERT_EQ(Sh("sqlite3 " + Quote(catalogue_) + " " + Quote(sql)).status, 0);
  }

  std::string dir_, catalogue_, working_;
  std::vector<keyring::TKey> made_;
};

TEST_F(KeyringTest, ItemsCarryTheSchemaAttributesAndLabel) {
  ASSERT_EQ(keyring::Probe(), keyring::TStatus::Ok);
  const keyring::TKey key = Key("ldap.example.test", 636, "cn=admin,dc=example,dc=test");
  ASSERT_EQ(keyring::Store(key, "first secret"), keyring::TStatus::Ok);
  ASSERT_EQ(keyring::Store(key, "second secret"), keyring::TStatus::Ok);  // replaced, not added
  const Output search = Sh("secret-tool search --all host ldap.example.test");
  EXPECT_NE(
      search.out.find("label = Quorvel: cn=admin,dc=example,dc=test at ldap.example.test:636"),
      std::string::npos)
      << search.out;
  EXPECT_NE(search.out.find("schema = org.quorvel.BindPassword"), std::string::npos);
  EXPECT_NE(search.out.find("attribute.port = 636"), std::string::npos);
  EXPECT_EQ(search.out.find("first secret"), std::string::npos) << "the item was not replaced";
  std::string pw;
  EXPECT_EQ(keyring::Lookup(key, pw), keyring::TStatus::Ok);
  EXPECT_EQ(pw, "second secret");
  EXPECT_EQ(keyring::Lookup({key.host, 389, key.user}, pw), keyring::TStatus::NotFound);
  EXPECT_TRUE(pw.empty());
  EXPECT_EQ(keyring::Remove(key), keyring::TStatus::Ok);
  EXPECT_EQ(ToolLookup(key), "");
  EXPECT_EQ(keyring::Remove(key), keyring::TStatus::Ok) << "removing nothing is no failure";

  keyring::ForceMissing(true);
  std::string why;
  EXPECT_EQ(keyring::Lookup(key, pw, &why), keyring::TStatus::NoLibrary);
  EXPECT_NE(why.find("libsecret-1-0"), std::string::npos);
  keyring::ForceMissing(false);
}

// An old catalogue keeps its passwords where they were; the three places are
// stored as said, and only the catalogue's writes servers.pwd.
TEST_F(KeyringTest, CatalogueColumnAndMigration) {
  const std::string old = dir_ + "/old.db";
  {
    TASQLite3DB db;
    db.SetDriverDLL(quorvel::test::kEngine);
    db.SetDatabase(old);
    db.Open();
    db.ExecDirect(
        "CREATE TABLE servers (id INTEGER PRIMARY KEY AUTOINCREMENT, name VARCHAR(255), server "
        "VARCHAR(255), port INTEGER, ssl VARCHAR(1), uid VARCHAR(1024), pwd VARCHAR(255), basedn "
        "VARCHAR(1024));"
        "CREATE TABLE profiles (id INTEGER PRIMARY KEY AUTOINCREMENT, name VARCHAR(255), "
        "serverid INTEGER, basedn VARCHAR(1024), scope INTEGER, att VARCHAR(4096), filter "
        "VARCHAR(4096));"
        "INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn) VALUES "
        "('Old','h',389,'N','cn=a','kept','');");
    db.Close();
  }
  catalogue_ = old;
  Tdata d;
  ASSERT_TRUE(Open(d)) << d.LastError();
  EXPECT_EQ(Sh("sqlite3 " + Quote(old) + " \"SELECT secret, pwd FROM servers\"").out,
            "catalogue|kept\n");
  const int k = d.AddServer("K", "h", "389", "N", "cn=k", "typed", "", "simple", "keyring");
  const int a = d.AddServer("A", "h", "389", "N", "cn=a", "typed", "", "simple", "ask");
  const int c = d.AddServer("C", "h", "389", "N", "cn=c", "typed", "", "simple", "catalogue");
  ASSERT_TRUE(k && a && c);
  EXPECT_EQ(
      Sh("sqlite3 " + Quote(old) + " \"SELECT name, secret, pwd FROM servers ORDER BY id\"").out,
      "Old|catalogue|kept\nK|keyring|\nA|ask|\nC|catalogue|typed\n");
  ASSERT_TRUE(d.UpdateServer(std::to_string(c), "C", "h", "389", "N", "cn=c", "typed", "", "simple",
                             "ask"));
  EXPECT_EQ(Sh("sqlite3 " + Quote(old) +
               " \"SELECT pwd FROM servers WHERE id=" + std::to_string(c) + "\"")
                .out,
            "\n");
  EXPECT_EQ(quorvel::DefaultSecret(), quorvel::kSecretKeyring);
}

// Saving moves a keyring item with its host, port or bind DN; deleting a
// server deletes it unless another server uses the same three.
TEST_F(KeyringTest, ItemsFollowTheirServer) {
  Tdata d;
  ASSERT_TRUE(Open(d)) << d.LastError();
  TServerNodeData before;
  before.server = "old.example.test";
  before.port = 389;
  before.uid = "cn=mover";
  before.secret = quorvel::kSecretKeyring;
  const int id =
      d.AddServer("Mover", before.server, "389", "N", before.uid, "", "", "simple", "keyring");
  ASSERT_GT(id, 0);
  Key(before.server, 389, before.uid);
  std::string why;
  ASSERT_TRUE(quorvel::SyncKeyringItem(d, nullptr, before, id, "moving secret", &why)) << why;
  EXPECT_EQ(ToolLookup(quorvel::KeyringKey(before)), "moving secret");

  TServerNodeData after = before;
  after.server = "new.example.test";
  Key(after.server, 389, after.uid);
  ASSERT_TRUE(d.UpdateServer(std::to_string(id), "Mover", after.server, "389", "N", after.uid, "",
                             "", "simple", "keyring"));
  ASSERT_TRUE(quorvel::SyncKeyringItem(d, &before, after, id, "", &why)) << why;
  EXPECT_EQ(ToolLookup(quorvel::KeyringKey(after)), "moving secret");
  EXPECT_EQ(ToolLookup(quorvel::KeyringKey(before)), "") << "the old item stayed";

  // A second server with the same three keeps the item through the first's deletion.
  const int twin =
      d.AddServer("Twin", after.server, "389", "N", after.uid, "", "", "simple", "keyring");
  ASSERT_TRUE(d.DeleteServer(std::to_string(id)));
  quorvel::ForgetKeyringItem(d, after, id);
  EXPECT_EQ(ToolLookup(quorvel::KeyringKey(after)), "moving secret");
  ASSERT_TRUE(d.DeleteServer(std::to_string(twin)));
  quorvel::ForgetKeyringItem(d, after, twin);
  EXPECT_EQ(ToolLookup(quorvel::KeyringKey(after)), "");
}

// ConnectServer binds with the keyring's password, and without it (no item,
// no library, nothing asked) sends nothing and says what to do.
TEST_F(KeyringTest, ConnectWithEachPlace) {
  TRecordingSink sink;
  TServerNodeData keyringServer = Admin(quorvel::kSecretKeyring);
  EXPECT_EQ(ConnectServer(keyringServer), nullptr);
  ASSERT_EQ(sink.errors.size(), 1u);
  EXPECT_NE(sink.errors[0].find("Error connecting to \"127.0.0.1\": the desktop keyring holds no "
                                "password for \"" +
                                Slapd().adminDn + "\""),
            std::string::npos)
      << sink.errors[0];
  EXPECT_NE(sink.errors[0].find("Set the password again in the server's properties"),
            std::string::npos);

  ASSERT_EQ(keyring::Store(quorvel::KeyringKey(keyringServer), Slapd().adminPw),
            keyring::TStatus::Ok);
  auto session = ConnectServer(keyringServer);
  ASSERT_NE(session, nullptr) << (sink.errors.size() > 1 ? sink.errors[1] : "");
  EXPECT_TRUE(session->Password.empty()) << "the session kept the password after the bind";

  keyring::ForceMissing(true);
  EXPECT_EQ(ConnectServer(keyringServer), nullptr);
  keyring::ForceMissing(false);
  ASSERT_EQ(sink.errors.size(), 2u);
  EXPECT_NE(sink.errors[1].find("install the package libsecret-1-0"), std::string::npos);

  TServerNodeData asked = Admin(quorvel::kSecretAsk);
  EXPECT_EQ(ConnectServer(asked), nullptr) << "an empty password would bind anonymously";
  asked.pwd = Slapd().adminPw;
  EXPECT_NE(ConnectServer(asked), nullptr);
  EXPECT_NE(ConnectServer(Admin(quorvel::kSecretCatalogue)), nullptr);
}

// The move leaves none of the old passwords' bytes in the catalogue file, its
// log or its free pages, and the keyring holds each one.
TEST_F(KeyringTest, MovingPasswordsLeavesNoByteBehind) {
  ASSERT_EQ(Sh("sqlite3 " + Quote(catalogue_) + " 'PRAGMA journal_mode=WAL'").status, 0);
  AddServerRow("First", "catalogue", Slapd().adminPw);
  AddServerRow("Second", "catalogue", "SecondMarkerPassword2", "cn=second");
  AddServerRow("Gone", "catalogue", "GoneMarkerPassword3", "cn=gone");
  AddServerRow("Asked", "ask", "");
  ASSERT_EQ(
      Sh("sqlite3 " + Quote(catalogue_) + " \"DELETE FROM servers WHERE name='Gone'\"").status, 0);
  Key("127.0.0.1", Slapd().port, Slapd().adminDn);
  Key("127.0.0.1", Slapd().port, "cn=second");
  const Output moved = Report("--move-passwords-to-keyring");
  EXPECT_EQ(moved.status, 0) << moved.out;
  EXPECT_NE(moved.out.find("moved 2 passwords to the desktop keyring"), std::string::npos)
      << moved.out;
  EXPECT_EQ(ToolLookup({"127.0.0.1", Slapd().port, Slapd().adminDn}), Slapd().adminPw);
  EXPECT_EQ(ToolLookup({"127.0.0.1", Slapd().port, "cn=second"}), "SecondMarkerPassword2");
  EXPECT_EQ(
      Sh("sqlite3 " + Quote(catalogue_) + " \"SELECT name, secret, pwd FROM servers ORDER BY id\"")
          .out,
      "First|keyring|\nSecond|keyring|\nAsked|ask|\n");
  for (const char* suffix : {"", "-wal", "-journal"}) {
    const std::string bytes = ReadFile(catalogue_ + suffix);
    for (const std::string& marker : {std::string("MarkerPassword"), Slapd().adminPw})
      EXPECT_EQ(bytes.find(marker), std::string::npos)
          << marker << " found in quorvel.db" << suffix;
  }
  // The moved server now runs with the keyring's password.
  const Output run =
      Report("--profile 'First people' --format csv --output " + Quote(dir_ + "/first.csv"));
  EXPECT_EQ(run.status, 0) << run.out;

  const Output again = Report("--move-passwords-to-keyring");
  EXPECT_EQ(again.status, 0) << again.out;
  EXPECT_NE(again.out.find("nothing to move"), std::string::npos) << again.out;
}

// quorvel-report: the keyring, a password file (private only), the terminal
// prompt and no terminal.
TEST_F(KeyringTest, ReportGetsThePasswordWithoutTheCatalogue) {
  AddServerRow("Keyring", "keyring", "");
  AddServerRow("Asked", "ask", "", "cn=admin," + Slapd().base);
  const std::string out = Quote(dir_ + "/r.csv");
  Output r = Report("--profile 'Keyring people' --format csv --output " + out);
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("server 'Keyring'"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("--password-file"), std::string::npos) << r.out;
  const keyring::TKey key = Key("127.0.0.1", Slapd().port, Slapd().adminDn);
  ASSERT_EQ(keyring::Store(key, Slapd().adminPw), keyring::TStatus::Ok);
  r = Report("--profile 'Keyring people' --format csv --output " + out);
  EXPECT_EQ(r.status, 0) << r.out;
  // No keyring to reach: exit 2 naming the server and the password file.
  r = Report("--profile 'Keyring people' --format csv --output " + out,
             "DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir_ + "/no-bus ");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("could not be reached"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("--password-file"), std::string::npos) << r.out;

  const std::string file = dir_ + "/pw";
  std::ofstream(file) << Slapd().adminPw << "\n";
  ASSERT_EQ(chmod(file.c_str(), 0644), 0);
  r = Report("--profile 'Asked people' --format csv --output " + out + " --password-file " +
             Quote(file));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("chmod 600"), std::string::npos) << r.out;
  ASSERT_EQ(chmod(file.c_str(), 0600), 0);
  r = Report("--profile 'Asked people' --format csv --output " + out + " --password-file " +
             Quote(file));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find(Slapd().adminPw), std::string::npos);

  // Without a terminal (a new session has none): exit 2, naming the file option.
  r = Report("--profile 'Asked people' --format csv --output " + out, "setsid -w ");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("--password-file"), std::string::npos) << r.out;
}

// The prompt on a real terminal: asked without echo, the run binds with it.
TEST_F(KeyringTest, ReportAsksOnTheTerminal) {
  AddServerRow("Asked", "ask", "");
  const std::string sock = dir_ + "/tmux.sock", status = dir_ + "/status";
  const std::string cmd = Quote(quorvel::test::BinaryDir() + "/quorvel-report") +
                          " --profile 'Asked people' --format csv --output " +
                          Quote(dir_ + "/t.csv") + " --catalogue " + Quote(catalogue_) +
                          "; echo $? > " + Quote(status) + "; sleep 30";
  ASSERT_EQ(
      Sh("TERM=xterm tmux -S " + Quote(sock) + " new-session -d -x 160 -y 20 " + Quote(cmd)).status,
      0);
  struct Kill {
    std::string sock;
    ~Kill() { Sh("tmux -S " + Quote(sock) + " kill-server"); }
  } kill{sock};
  auto pane = [&] { return Sh("tmux -S " + Quote(sock) + " capture-pane -p").out; };
  std::string shown;
  for (int i = 0; i < 300 && shown.find("Password for") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    shown = pane();
  }
  ASSERT_NE(shown.find("Password for " + Slapd().adminDn + " at 127.0.0.1:"), std::string::npos)
      << shown;
  Sh("tmux -S " + Quote(sock) + " send-keys -l " + Quote(Slapd().adminPw));
  Sh("tmux -S " + Quote(sock) + " send-keys Enter");
  for (int i = 0; i < 600 && ReadFile(status).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(ReadFile(status), "0\n") << pane();
  EXPECT_EQ(pane().find(Slapd().adminPw), std::string::npos) << "the password was echoed";
}

}  // namespace

// --check of an asking server: the schema read needs the password once; a
// fresh stored schema then needs none.
TEST_F(KeyringTest, CheckGetsThePasswordOnlyWhenTheSchemaIsRead) {
  AddServerRow("Asked", "ask", "", "cn=admin," + Slapd().base);
  Output r = Report("--check --profile 'Asked people'", "setsid -w ");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("--password-file"), std::string::npos) << r.out;

  const std::string file = dir_ + "/pw";
  std::ofstream(file) << Slapd().adminPw << "\n";
  ASSERT_EQ(chmod(file.c_str(), 0600), 0);
  r = Report("--check --profile 'Asked people' --password-file " + Quote(file), "setsid -w ");
  EXPECT_EQ(r.status, 0) << r.out;
  r = Report("--check --profile 'Asked people'", "setsid -w ");
  EXPECT_EQ(r.status, 0) << r.out;
  r = Report("--schema --server Asked", "setsid -w ");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("\tsingle\t"), std::string::npos) << r.out;
}
