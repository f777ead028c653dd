#include <gtest/gtest.h>

#include <sys/stat.h>

#include "sqlstore/testutil.h"
#include "store/catalogueupgrade.h"
#include "store/cataloguereader.h"
#include "store/data.h"
#include "store/testcatalogue.h"

using quorvel::test::kEngine;
using quorvel::test::MakeCatalogue;
using quorvel::test::TempDir;

namespace {

// A catalogue made from the schema the build uses, and an empty working file.
class DataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    catalogue = dir.Write("quorvel.db", "");
    working = dir.Write("dump.db", "");
    MakeCatalogue(catalogue);
    ASSERT_TRUE(InitDatabases(d, catalogue, working, kEngine)) << d.LastError();
  }
  // Every row of a catalogue table, fields joined by "|".
  std::vector<std::string> Rows(const std::string& select) {
    TASQLite3Query q(&d.db);
    q.SetSQL(select);
    q.Open();
    std::vector<std::string> rows;
    for (int r = 0; r < q.RecordCount(); ++r) {
      std::string row;
      for (int c = 0; c < q.FieldCount(); ++c)
        row += (c ? "|" : "") + std::string(q.CellText(r, c));
      rows.push_back(row);
    }
    return rows;
  }
  TempDir dir;
  std::string catalogue, working;
  Tdata d;
};

const std::string kHard = "O\"Brien \"quoted\", 'single' – Zoë 日本 ; :name ?";

}  // namespace

TEST_F(DataTest, ServersRoundTripHardValuesAndReturnTheirOwnIds) {
  EXPECT_TRUE(d.servers.Active());
  EXPECT_TRUE(d.profiles.Active());
  const std::string longDn(3000, 'd');
  const int a = d.AddServer("twin", "ldap.example", "389", "N", kHard, "p\"w", longDn);
  EXPECT_EQ(
      d.sql.SQL(),
      "INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn,auth,secret) VALUES (?,?, 389, ?, "
      "?, ?, ?, ?, ?)");
  const int b = d.AddServer("twin", "other", "636", "Y", "", "", "dc=x");
  const int c = d.AddServer("name", "n", "1", "N", "", "", "");  // a column's name as a value
  EXPECT_GT(a, 0);
  EXPECT_NE(a, b);  // a repeated name gets its own row's id
  EXPECT_EQ(c, b + 1);
  EXPECT_EQ(Rows("select name, server, port, ssl, uid, pwd, basedn from servers where id = " +
                 std::to_string(a)),
            std::vector<std::string>{"twin|ldap.example|389|N|" + kHard + "|p\"w|" + longDn});

  EXPECT_TRUE(d.UpdateServer(std::to_string(b), kHard, "h", "10389", "Y", "cn=a", "", "dc=y"));
  EXPECT_EQ(d.sql.SQL(),
            "UPDATE servers SET name = ?, server = ?, port = 10389, ssl = ?, uid = ?, pwd = ?, "
            "basedn = ?, auth = ?, secret = ? WHERE id = " +
                std::to_string(b));
  EXPECT_EQ(Rows("select name, port, basedn from servers where id = " + std::to_string(b)),
            std::vector<std::string>{kHard + "|10389|dc=y"});

  EXPECT_TRUE(d.DeleteServer(std::to_string(a)));
  EXPECT_EQ(d.sql.SQL(), "DELETE FROM servers WHERE id =" + std::to_string(a));
  EXPECT_EQ(Rows("select count(*) from servers"), std::vector<std::string>{"2"});

  // Numbers are written bare, so only plain integers are accepted.
  EXPECT_EQ(d.AddServer("x", "h", "389; drop table servers", "N", "", "", ""), 0);
  EXPECT_FALSE(d.UpdateServer("1 or 1=1", "x", "h", "389", "N", "", "", ""));
  EXPECT_FALSE(d.DeleteServer(""));
  EXPECT_EQ(Rows("select count(*) from servers"), std::vector<std::string>{"2"});
}

// Security and sign-in: "T" (StartTLS) and "kerberos" are stored and read
// back; a catalogue made before servers had a sign-in gets the column, its
// servers reading as simple binds.
TEST(DataSignIn, KerberosAndStartTlsRoundTripAndOlderCataloguesOpen) {
  TempDir dir;
  const char* kOldServers =
      "CREATE TABLE servers (id INTEGER PRIMARY KEY AUTOINCREMENT, name VARCHAR(255), server "
      "VARCHAR(255), port INTEGER, ssl VARCHAR(1), uid VARCHAR(1024), pwd VARCHAR(255), basedn "
      "VARCHAR(1024));"
      "CREATE TABLE profiles (id INTEGER PRIMARY KEY AUTOINCREMENT, name VARCHAR(255), serverid "
      "INTEGER, basedn VARCHAR(1024), scope INTEGER, att VARCHAR(4096), filter VARCHAR(4096));"
      "INSERT INTO servers (name,server,port,ssl,uid,pwd,basedn) VALUES "
      "('old','h',389,'N','cn=a','pw','dc=x');"
      "INSERT INTO profiles (name,serverid,basedn,scope,att,filter) VALUES "
      "('p',1,'dc=x',2,'cn','(cn=*)');";
  {
    const std::string catalogue = dir.Write("old.db", "");
    {
      TASQLite3DB db;
      db.SetDriverDLL(kEngine);
      db.SetDatabase(catalogue);
      db.Open();
      db.ExecDirect(kOldServers);
      db.Close();
    }
    Tdata d;
    ASSERT_TRUE(InitDatabases(d, catalogue, dir.Write("dump.db", ""), kEngine)) << d.LastError();
    std::vector<quorvel::TCatalogueServer> read = quorvel::ReadCatalogue(d);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].server.server->auth, "simple");
    EXPECT_EQ(read[0].server.server->uid, "cn=a");
    EXPECT_EQ(read[0].server.server->referrals, "report");  // every existing server reports
    EXPECT_EQ(read[0].profiles.size(), 1u);
    const int k = d.AddServer("krb", "dc1.example", "389", "T", "", "", "dc=x", "kerberos");
    ASSERT_GT(k, 0) << d.LastError();
    EXPECT_TRUE(d.SetServerReferrals(std::to_string(k), "follow"));
    EXPECT_TRUE(d.UpdateServer("1", "old", "h", "636", "Y", "cn=a", "pw", "dc=x", "simple"));
    Tdata again;
    ASSERT_TRUE(InitDatabases(again, catalogue, dir.Write("dump2.db", ""), kEngine));
    read = quorvel::ReadCatalogue(again);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].server.server->ssl, "Y");
    EXPECT_EQ(read[0].server.server->auth, "simple");
    EXPECT_EQ(read[1].server.server->ssl, "T");
    EXPECT_EQ(read[1].server.server->auth, "kerberos");
    EXPECT_EQ(read[0].server.server->referrals, "report");
    EXPECT_EQ(read[1].server.server->referrals, "follow");
  }
}

TEST_F(DataTest, ProfilesKeepAttributeAndFilterInTheirColumns) {
  const int s = d.AddServer("srv", "h", "389", "N", "", "", "");
  const int p = d.AddProfile(kHard, std::to_string(s), "ou=\"x\"", "2", "(cn=*\"*)", "cn;mail");
  EXPECT_GT(p, 0);
  EXPECT_EQ(d.sql.SQL(),
            "INSERT INTO profiles (name,serverid,basedn,scope,att,filter,readable) VALUES (?," +
                std::to_string(s) + ", ?, 2, ?, ?, 1)");
  EXPECT_EQ(
      Rows("select name, serverid, basedn, scope, att, filter from profiles"),
      std::vector<std::string>{kHard + "|" + std::to_string(s) + "|ou=\"x\"|2|cn;mail|(cn=*\"*)"});
  EXPECT_TRUE(d.UpdateProfile(std::to_string(p), "n2", std::to_string(s), "", "0", "(f)", "sn"));
  EXPECT_EQ(Rows("select name, scope, att, filter from profiles"),
            std::vector<std::string>{"n2|0|sn|(f)"});
  EXPECT_TRUE(d.DeleteProfile(std::to_string(p)));
  EXPECT_EQ(d.sql.SQL(), "DELETE FROM profiles WHERE id =" + std::to_string(p));
  EXPECT_TRUE(Rows("select * from profiles").empty());
  EXPECT_EQ(d.AddProfile("x", "abc", "", "2", "", ""), 0);
}

// Readable directory values per profile: a new profile has them on; a
// catalogue from before the column existed gets it with 0 for every profile
// it holds, so their reports do not change.
TEST_F(DataTest, ReadableValuesPerProfileAndTheCatalogueUpgrade) {
  const int s = d.AddServer("srv", "h", "389", "N", "", "", "");
  const int on = d.AddProfile("on", std::to_string(s), "o=x", "2", "(cn=*)", "cn");
  const int off = d.AddProfile("off", std::to_string(s), "o=x", "2", "(cn=*)", "cn", "0");
  EXPECT_EQ(Rows("select name, readable from profiles order by id"),
            (std::vector<std::string>{"on|1", "off|0"}));
  EXPECT_TRUE(
      d.UpdateProfile(std::to_string(on), "on", std::to_string(s), "o=x", "2", "(f)", "cn"));
  EXPECT_TRUE(
      d.UpdateProfile(std::to_string(off), "off", std::to_string(s), "o=x", "2", "(f)", "cn", "1"));
  EXPECT_EQ(Rows("select name, readable from profiles order by id"),
            (std::vector<std::string>{"on|1", "off|1"}));
  EXPECT_EQ(d.AddProfile("bad", std::to_string(s), "o=x", "2", "(cn=*)", "cn", "yes"), 0);

  // A catalogue made before the column: its profiles read as off, new ones on.
  const std::string old = dir.Write("old.db", "");
  {
    TASQLite3DB db;
    db.SetDriverDLL(kEngine);
    db.SetDatabase(old);
    db.Open();
    db.ExecDirect(
        "CREATE TABLE servers (id INTEGER PRIMARY KEY AUTOINCREMENT, name, server, port, ssl, "
        "uid, pwd, basedn);"
        "CREATE TABLE profiles (id INTEGER PRIMARY KEY AUTOINCREMENT, name, serverid, basedn, "
        "scope, att, filter);"
        "INSERT INTO servers (name,server,port,ssl) VALUES ('srv','h',389,'N');"
        "INSERT INTO profiles (name,serverid,basedn,scope,att,filter) VALUES "
        "('scheduled',1,'o=x',2,'objectSid','(cn=*)');");
    db.Close();
  }
  Tdata upgraded;
  ASSERT_TRUE(InitDatabases(upgraded, old, dir.Write("dump2.db", ""), kEngine))
      << upgraded.LastError();
  EXPECT_TRUE(quorvel::HasColumn(upgraded.db, "profiles", "readable"));
  auto catalogue = quorvel::ReadCatalogue(upgraded);
  ASSERT_EQ(catalogue.size(), 1u);
  ASSERT_EQ(catalogue[0].profiles.size(), 1u);
  EXPECT_FALSE(catalogue[0].profiles[0].profile->readable);
  EXPECT_GT(upgraded.AddProfile("new", "1", "o=x", "2", "(cn=*)", "cn"), 0);
  EXPECT_TRUE(quorvel::UpgradeCatalogue(upgraded.db));  // nothing left to do
  TASQLite3Query q(&upgraded.db);
  q.SetSQL("select name || '|' || readable from profiles order by id");
  q.Open();
  ASSERT_EQ(q.RecordCount(), 2);
  EXPECT_EQ(q.CellText(0, 0), "scheduled|0");
  EXPECT_EQ(q.CellText(1, 0), "new|1");
}

TEST_F(DataTest, ExportTableLayoutAndRows) {
  EXPECT_TRUE(d.CreateExportTable("oid"));
  EXPECT_EQ(d.run.SQL(), "CREATE TABLE export (\"oid\")");
  EXPECT_TRUE(d.CreateExportTable("oid;cn; mail;a\"b"));  // replaces the previous table
  EXPECT_EQ(d.run.SQL(),
            "CREATE TABLE export (\"oid\" VARCHAR(1024),\"cn\" VARCHAR(1024),\" mail\" "
            "VARCHAR(1024),\"a\"\"b\")");

  const std::string longValue(3000, 'm');
  EXPECT_TRUE(d.BeginExportRows());
  EXPECT_TRUE(d.InsertExportRow({"cn=b", kHard, longValue, "[x][y]"}));
  EXPECT_TRUE(d.InsertExportRow({"cn=a"}));  // missing values are empty
  EXPECT_FALSE(d.InsertExportRow({"1", "2", "3", "4", "5"}));
  EXPECT_TRUE(d.EndExportRows());

  d.run.SetSQL("SELECT * FROM export ORDER BY oid ASC");
  d.run.Open();
  ASSERT_EQ(d.run.FieldCount(), 4);
  EXPECT_EQ(d.run.FieldDef(2).name, " mail");
  EXPECT_EQ(d.run.FieldDef(2).size, 1024);
  EXPECT_EQ(d.run.FieldDef(3).size, 255);
  ASSERT_EQ(d.run.RecordCount(), 2);
  EXPECT_EQ(d.run.CellText(0, 1), "");
  EXPECT_EQ(d.run.CellText(1, 1), kHard);
  EXPECT_EQ(d.run.CellText(1, 2), longValue);

  // A repeated column name fails; a table named "Export" is not ours to drop.
  EXPECT_FALSE(d.CreateExportTable("oid;cn;cn"));
  d.temp.ExecDirect("DROP TABLE IF EXISTS export; CREATE TABLE Export (x)");
  EXPECT_FALSE(d.CreateExportTable("oid;cn"));
  EXPECT_FALSE(d.InsertExportRow({"cn=x"}));
}

TEST_F(DataTest, ManyAttributesStillFitARow) {
  std::string cols = "oid";
  std::vector<std::string> values{"cn=wide"};
  for (int i = 0; i < 40; ++i) {
    cols += ";a" + std::to_string(i);
    values.push_back(std::string(1500, static_cast<char>('a' + i % 26)));
  }
  ASSERT_TRUE(d.CreateExportTable(cols));
  ASSERT_TRUE(d.InsertExportRow(values));
  d.run.SetSQL("SELECT * FROM export ORDER BY oid ASC");
  d.run.Open();
  ASSERT_EQ(d.run.FieldCount(), 41);
  for (int c = 0; c < 41; ++c) EXPECT_EQ(d.run.CellText(0, c), values[c]);
}

TEST_F(DataTest, PropertyTable) {
  EXPECT_TRUE(d.CreatePropertyTable());
  EXPECT_EQ(d.run.SQL(), "CREATE TABLE property (Icon,Name,Value,Type,Size)");
  EXPECT_TRUE(d.AddProperty("0", "description", kHard, "TEXT", "42"));
  EXPECT_EQ(d.run.SQL(), "INSERT INTO property (icon,name,value,type,size) VALUES (?,?,?,?,?)");
  EXPECT_TRUE(d.CreatePropertyTable());  // drops and re-creates
  EXPECT_TRUE(d.AddProperty("0", "cn", "x", "TEXT", "1"));
  d.prop.Open();
  EXPECT_EQ(d.prop.FieldCount(), 5);
  EXPECT_EQ(d.prop.FieldDef(4).size, 255);
  ASSERT_EQ(d.prop.RecordCount(), 1);
  EXPECT_EQ(d.prop.FieldByName("Name").AsString(), "cn");
  EXPECT_TRUE(d.DropTable("property"));
  EXPECT_EQ(d.run.SQL(), "DROP TABLE property");
  EXPECT_FALSE(d.DropTable("property"));
}

TEST(InitDatabases, MissingFilesOrEngineFailWithoutCreatingAnything) {
  TempDir dir;
  {
    Tdata d;
    EXPECT_FALSE(InitDatabases(d, dir.File("quorvel.db"), dir.File("dump.db"), kEngine));
    EXPECT_NE(d.LastError().find("does not exist"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.File("quorvel.db")));
  }
  dir.Write("quorvel.db", "");
  {
    Tdata d;
    EXPECT_FALSE(
        InitDatabases(d, dir.File("quorvel.db"), dir.File("dump.db"), dir.File("lib/quorvel.so")));
    EXPECT_EQ(d.LastError(), "Could not load SQLite library");
  }
  {
    // A catalogue without its tables (or a corrupt one) fails at opening servers.
    Tdata d;
    EXPECT_FALSE(InitDatabases(d, dir.File("quorvel.db"), dir.File("dump.db"), kEngine));
    EXPECT_TRUE(d.db.Connected());
    EXPECT_FALSE(d.temp.Connected());
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("dump.db")));
  EXPECT_EQ(AppPath.back(), '/');
  EXPECT_EQ(AppPath, ExecutableFolder());
}

TEST(InitDatabases, TheBuildLaysOutTheLibFolder) {
  // The build tree beside the programs: engine link, catalogue with its
  // tables, empty working file, both owner-only.
  const std::string lib = std::string(QUORVEL_BINARY_DIR) + "/lib/";
  if (!std::filesystem::exists(lib + "quorvel.db")) GTEST_SKIP() << "lib/ not built";
  for (const char* f : {"quorvel.db", "dump.db"}) {
    struct stat st {};
    ASSERT_EQ(stat((lib + f).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << f;
  }
  EXPECT_TRUE(std::filesystem::is_symlink(lib + "quorvel.so"));
  TASQLite3DB db;
  db.SetDriverDLL(lib + "quorvel.so");
  db.SetDatabase(lib + "quorvel.db");
  db.MustExist = true;
  std::vector<std::string> names;
  db.GetTableNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"profiles", "servers", "sqlite_sequence",
                                             "trusted_certificates"}));
}

TEST_F(DataTest, AFullWorkingFileLosesOnlyTheRowsThatDoNotFit) {
  ASSERT_TRUE(d.CreateExportTable("oid;cn"));
  // A size cap on the working file stands in for a full disk.
  d.temp.ExecDirect("PRAGMA max_page_count = 8");
  ASSERT_TRUE(d.BeginExportRows());
  int written = 0, failed = 0;
  for (int i = 0; i < 200; ++i) {
    if (d.InsertExportRow({"cn=" + std::to_string(i), std::string(200, 'x')}))
      ++written;
    else
      ++failed;
  }
  EXPECT_GT(written, 0);
  EXPECT_GT(failed, 0);
  EXPECT_NE(d.LastError().find("full"), std::string::npos) << d.LastError();
  EXPECT_TRUE(d.EndExportRows()) << d.LastError();
  d.run.SetSQL("SELECT * FROM export ORDER BY oid ASC");
  d.run.Open();
  EXPECT_EQ(d.run.RecordCount(), written);
}
