// The schema read from the private slapd (its stock schemas and the domain
// values schema), kept in a real catalogue file; and a directory that
// publishes none (the scripted directory, whose root DSE names no subschema
// entry, as a server without one answers).
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "common/fake_server.h"
#include "common/scripted_directory.h"
#include "ldap/recording_sink.h"
#include "sqlstore/testutil.h"
#include "store/data.h"
#include "store/schemacache.h"
#include "store/schemacheck.h"
#include "store/testcatalogue.h"

using quorvel::test::kEngine;
using quorvel::test::TempDir;

namespace {

class SchemaCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QUORVEL_REQUIRE_SLAPD(quorvel::test::Slapd());
    const std::string catalogue = dir_.File("quorvel.db");
    quorvel::test::MakeCatalogue(catalogue);
    ASSERT_TRUE(InitDatabases(d_, catalogue, dir_.Write("dump.db", ""), kEngine));
    server_ = quorvel::test::AdminServer();
    server_.id = d_.AddServer("Test directory", server_.server, std::to_string(server_.port), "N",
                              server_.uid, server_.pwd, "");
    ASSERT_GT(server_.id, 0);
  }

  TempDir dir_;
  Tdata d_;
  TServerNodeData server_;
};

}  // namespace

TEST_F(SchemaCacheTest, ReadsTheDirectorysSchemaAndKeepsIt) {
  const quorvel::TServerSchema s = quorvel::SchemaForServer(d_, server_, {});
  ASSERT_TRUE(s.available) << s.note;
  const quorvel::TSchema& schema = s.schema;

  // Completion with aliases, case-blind; an alias finds its type.
  const std::vector<std::string> c = schema.Complete("COMMON");
  EXPECT_NE(std::find(c.begin(), c.end(), "commonName"), c.end());
  EXPECT_EQ(schema.FindAttribute("commonName")->Name(), "cn");
  const std::vector<std::string> g = schema.Complete("given");
  EXPECT_EQ(g, std::vector<std::string>({"givenName"}));
  // cn has no syntax of its own: it inherits name's.
  EXPECT_EQ(schema.Syntax(*schema.FindAttribute("cn")), "1.3.6.1.4.1.1466.115.121.1.15");
  // The domain values schema is there too.
  const quorvel::TAttributeType* sid = schema.FindAttribute("objectSid");
  ASSERT_NE(sid, nullptr);
  EXPECT_TRUE(sid->singleValue);

  // inetOrgPerson's attributes include those of organizationalPerson, person and top.
  const quorvel::TClassAttributes a = schema.ClassAttributes("inetOrgPerson");
  auto has = [](const std::vector<std::string>& v, const char* n) {
    return std::find(v.begin(), v.end(), n) != v.end();
  };
  EXPECT_TRUE(has(a.must, "cn") && has(a.must, "sn") && has(a.must, "objectClass"));
  EXPECT_TRUE(has(a.may, "mail") && has(a.may, "title") && has(a.may, "telephoneNumber"));
  EXPECT_FALSE(has(a.may, "cn"));

  // The profile's findings, worded for the user.
  EXPECT_EQ(quorvel::ProfileFindings(schema, "Test directory", "(&(cn=a)(surnme=b)(department=c))",
                                     "cn;mial; givenname;*"),
            std::vector<std::string>(
                {"mial: not in the schema of Test directory; did you mean mail?",
                 "surnme: not in the schema of Test directory; did you mean surname?",
                 "department: not in the schema of Test directory."}));
  EXPECT_EQ(quorvel::ProfileFindings(schema, "Test directory", "(cn=Smith (Admin))", "cn"),
            std::vector<std::string>(
                {"Filter: Position 11: unescaped \"(\" in a value; write \\28 for it"}));

  // Kept: a fresh record is used without connecting (the server now points
  // nowhere); a stale one, or a refresh, connects again.
  const auto stored = quorvel::StoredSchema(d_, server_.id);
  ASSERT_TRUE(stored.has_value());
  EXPECT_TRUE(stored->note.empty());
  EXPECT_EQ(stored->attributeTypes.size(), schema.AttributeTypes().size());
  TServerNodeData gone = server_;
  gone.port = 1;
  quorvel::test::RecordingSink sink;
  EXPECT_TRUE(quorvel::SchemaForServer(d_, gone, {}).available);
  EXPECT_TRUE(sink.errors.empty());
  EXPECT_TRUE(quorvel::SchemaForServer(d_, gone, {}, true).connectFailed);
  ASSERT_EQ(sink.errors.size(), 1u);
  quorvel::TSchemaRecord old = *stored;
  old.fetched = quorvel::SchemaTimeText(std::time(nullptr) - quorvel::kSchemaMaxAge - 60);
  ASSERT_TRUE(quorvel::StoreSchema(d_, old));
  EXPECT_TRUE(quorvel::SchemaForServer(d_, gone, {}).connectFailed);
  EXPECT_TRUE(quorvel::StoredSchema(d_, server_.id).has_value());  // a failed read keeps it

  // Deleting the server deletes its record.
  ASSERT_TRUE(d_.DeleteServer(std::to_string(server_.id)));
  EXPECT_FALSE(quorvel::StoredSchema(d_, server_.id).has_value());
}

TEST_F(SchemaCacheTest, ADirectoryWithoutSchemaIsNotedOnce) {
  quorvel::test::ScriptedDirectory dir;
  dir.Add("o=x", {{"o", {"x"}}});
  auto serve = [&](bool refresh) {
    quorvel::test::FakeServer srv;
    dir.ServeOn(srv);
    srv.Start();
    TServerNodeData s;
    s.id = server_.id;
    s.server = "127.0.0.1";
    s.port = srv.Port();
    return quorvel::SchemaForServer(d_, s, {}, refresh);
  };
  const quorvel::TServerSchema first = serve(false);
  EXPECT_FALSE(first.available);
  EXPECT_FALSE(first.connectFailed);
  EXPECT_TRUE(first.newNote);
  EXPECT_EQ(first.note, "its root DSE names no subschema entry");
  EXPECT_EQ(quorvel::NoSchemaText("X", first.note),
            "The server \"X\" publishes no readable schema (its root DSE names no subschema "
            "entry); attribute names and filters are not checked against it.");
  // Read again: the same note is not news.
  const quorvel::TServerSchema again = serve(true);
  EXPECT_FALSE(again.available);
  EXPECT_FALSE(again.newNote);
}
