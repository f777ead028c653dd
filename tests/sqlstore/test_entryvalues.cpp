// An entry's values packed into one row: every byte comes back, a blob cut
// or garbled anywhere is refused without reading past its end, the engine
// function finds the first value of a column, and a values table of the
// earlier layout (a row per value) is still read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sqlstore/database.h"
#include "sqlstore/entryvalues.h"
#include "sqlstore/testutil.h"

using namespace quorvel;
using quorvel::test::kEngine;
using quorvel::test::TempDir;

namespace {

// The DN, an attribute past the first varint byte's range of columns, binary
// bytes, an empty value, a value longer than 127 bytes and many values.
TEntryValues Sample() {
  TEntryValues v;
  v.DN = "cn=a\\2Cb,dc=x";
  v.Columns.resize(200);
  v.Columns[1] = {"CN", {"a", std::string("\0\xff\n", 3), ""}};
  v.Columns[3] = {"description;lang-en", {std::string(300, 'd')}};
  for (int i = 0; i < 150; ++i) v.Columns[199].Values.push_back("m" + std::to_string(i));
  v.Columns[199].Name = "member";
  return v;
}

void ExpectSame(const TEntryValues& a, const TEntryValues& b) {
  EXPECT_EQ(a.DN, b.DN);
  ASSERT_EQ(a.Columns.size(), b.Columns.size());
  for (std::size_t c = 1; c < a.Columns.size(); ++c) {
    EXPECT_EQ(a.Columns[c].Name, b.Columns[c].Name) << c;
    EXPECT_EQ(a.Columns[c].Values, b.Columns[c].Values) << c;
  }
}

}  // namespace

TEST(EntryValues, PackedValuesComeBackWholeAndBrokenBlobsAreRefused) {
  const TEntryValues in = Sample();
  std::string packed;
  PackEntryValues(in, packed);
  TEntryValues out;
  ASSERT_TRUE(UnpackEntryValues(packed, in.Columns.size(), out));
  ExpectSame(in, out);
  // Fewer columns asked for: those past them are left out, the rest kept.
  ASSERT_TRUE(UnpackEntryValues(packed, 2, out));
  EXPECT_EQ(out.Columns.size(), 2u);
  EXPECT_EQ(out.Columns[1].Values, in.Columns[1].Values);
  // Cut anywhere inside an attribute: refused (and never read past the end,
  // which the sanitizers would see).
  int refused = 0;
  for (std::size_t n = 0; n < packed.size(); ++n)
    refused += !UnpackEntryValues(std::string_view(packed).substr(0, n), 200, out);
  EXPECT_GE(refused, static_cast<int>(packed.size()) - 4);
  // A length past the end, and columns out of order.
  TEntryValues small;
  small.DN = "cn=s";
  small.Columns.resize(2);
  small.Columns[1] = {"cn", {"s"}};
  std::string longer;
  PackEntryValues(small, longer);
  ASSERT_EQ(longer.back(), 's');
  longer[longer.size() - 2] = '\x02';  // the last value's length
  EXPECT_FALSE(UnpackEntryValues(longer, 2, out));
  std::string twice;
  PackEntryValues(in, twice);
  PackEntryValues(in, twice);
  EXPECT_FALSE(UnpackEntryValues(twice, 200, out));
}

// The names the profile asked for are left out of the blob and read back
// from the rows table's columns; a name the directory spelled otherwise is
// kept as it came.
TEST(EntryValues, NamesAsAskedForAreTakenFromTheColumns) {
  const std::vector<std::string> names = {"oid", "cn", "mail"};
  TEntryValues in;
  in.DN = "cn=a,dc=x";
  in.Columns.resize(3);
  in.Columns[1] = {"cn", {"a"}};
  in.Columns[2] = {"MAIL", {"a@x"}};
  std::string packed, full;
  PackEntryValues(in, packed, &names);
  PackEntryValues(in, full);
  EXPECT_EQ(packed.find("cn"), packed.find("cn=a"));  // only in the DN
  EXPECT_NE(packed.find("MAIL"), std::string::npos);
  EXPECT_LT(packed.size(), full.size());
  TEntryValues out;
  ASSERT_TRUE(UnpackEntryValues(packed, 3, out, &names));
  ExpectSame(in, out);
  ASSERT_TRUE(UnpackEntryValues(full, 3, out, &names));
  ExpectSame(in, out);
}

TEST(EntryValues, TheEngineFunctionAndTheEarlierLayout) {
  TempDir dir;
  TASQLite3DB db;
  db.SetDriverDLL(kEngine);
  db.SetDatabase(dir.Write("values.db", ""));
  db.Open();
  CreateEntryValuesTable(db, "export_values");
  TEntryValueWriter(db, "export_values").Add(7, Sample());
  PreparedStatement first(db, "SELECT hex(quorvel_entry_value(packed, ?1)) FROM export_values");
  auto value = [&](int col) {
    first.BindInt64(1, col);
    EXPECT_TRUE(first.Step());
    std::string v(first.ColumnBytes(0));
    first.Reset();
    return v;
  };
  EXPECT_EQ(value(0), "636E3D615C3243622C64633D78");  // cn=a\2Cb,dc=x
  EXPECT_EQ(value(1), "61");
  EXPECT_EQ(value(199), "6D30");
  EXPECT_EQ(value(2), "");  // absent: NULL
  PreparedStatement broken(db, "SELECT quorvel_entry_value(X'0005', 0) IS NULL");
  ASSERT_TRUE(broken.Step());
  EXPECT_EQ(broken.ColumnInt64(0), 1);
  broken.Reset();

  // A table of the earlier layout, one row per value.
  db.ExecDirect(
      "CREATE TABLE old_values (entry INTEGER NOT NULL, col INTEGER NOT NULL, position INTEGER "
      "NOT NULL, name TEXT NOT NULL, value BLOB NOT NULL, PRIMARY KEY (entry, col, position)) "
      "WITHOUT ROWID; INSERT INTO old_values VALUES (3, 0, 0, 'dn', 'cn=o'), "
      "(3, 1, 1, 'cn', 'second'), (3, 1, 0, 'cn', 'first')");
  TEntryValueReader reader(db, "old");
  ASSERT_TRUE(reader.Exists());
  TEntryValues read;
  reader.Read(3, 2, read);
  EXPECT_EQ(read.DN, "cn=o");
  EXPECT_EQ(read.Columns[1].Name, "cn");
  EXPECT_EQ(read.Columns[1].Values, (std::vector<std::string>{"first", "second"}));
  TEntryValueReader packedReader(db, "export");
  packedReader.Read(7, 200, read);
  ExpectSame(Sample(), read);
  packedReader.Read(8, 200, read);  // no such entry
  EXPECT_TRUE(read.DN.empty());
}
