// A profile's saved grid layout: the catalogue's text read back as written
// (names holding the separators included), and the columns a report writes.
#include <gtest/gtest.h>

#include "store/gridview.h"

using namespace quorvel;

TEST(GridView, TextReadsBackAndGivesTheReportsColumns) {
  TGridView v;
  v.columns = {{"oid", 120, false}, {"odd\tna\\me\n", 0, true}, {" mail", 80, false}};
  v.sort = {{"sn", true}, {"oid", false}};
  const std::string text = FormatView(v);
  EXPECT_EQ(text.find("odd\t"), std::string::npos);
  const TGridView back = ParseView(text);
  ASSERT_EQ(back.columns.size(), 3u);
  EXPECT_EQ(back.columns[1].name, "odd\tna\\me\n");
  EXPECT_TRUE(back.columns[1].hidden);
  EXPECT_EQ(back.columns[0].width, 120);
  ASSERT_EQ(back.sort.size(), 2u);
  EXPECT_TRUE(back.sort[0].Descending);
  EXPECT_EQ(FormatView(back), text);
  EXPECT_TRUE(ParseView("").Empty());
  EXPECT_EQ(FormatView({}), "");
  // Lines of another version, a width out of range: skipped, not fatal.
  const TGridView odd = ParseView("frozen\t2\ncolumn\t-5\tshown\tcn\nsort\tup\tcn\n");
  ASSERT_EQ(odd.columns.size(), 1u);
  EXPECT_EQ(odd.columns[0].width, 0);
  EXPECT_FALSE(odd.sort[0].Descending);

  // The view's shown columns in its order, then those it does not name.
  const std::vector<std::string> table = {"oid", "cn", "sn", " mail", "new"};
  TGridView shaped;
  shaped.columns = {{"SN"}, {"oid"}, {"cn", 0, true}, {"gone"}, {" mail"}};
  EXPECT_EQ(ShownColumns(shaped, table), (std::vector<std::string>{"sn", "oid", " mail", "new"}));
  TRowQuery q("export");
  ApplyView(shaped, table, q);
  EXPECT_EQ(q.Columns.size(), 4u);
  ApplyView({}, table, q);
  EXPECT_TRUE(q.Plain());

  std::vector<TSortKey> keys;
  EXPECT_FALSE(ParseColumnList("-SN,dn", table, "oid", true, keys).has_value());
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].Column, "sn");
  EXPECT_TRUE(keys[0].Descending);
  EXPECT_EQ(keys[1].Column, "oid");
  EXPECT_EQ(ParseColumnList("-sn", table, "oid", false, keys).value_or(""), "unknown column '-sn'");
  EXPECT_EQ(ParseColumnList("cn,", table, "oid", false, keys).value_or(""), "unknown column ''");
}
