// The rows as shown (TRowQuery read through SetRowQuery): the orders a user
// sees after a header click, the quick filter and a choice of columns, read
// in place window by window and in one walk alike.
#include <gtest/gtest.h>

#include <locale.h>
#include <wchar.h>
#include <wctype.h>

#include <algorithm>
#include <random>

#include "sqlstore/collation.h"
#include "sqlstore/database.h"
#include "sqlstore/dataset.h"
#include "sqlstore/rowquery.h"
#include "sqlstore/testutil.h"

using quorvel::CompareText;
using quorvel::TRowQuery;
using quorvel::TSortKey;
using quorvel::test::kEngine;
using quorvel::test::TempDir;

namespace {

class RowQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db.SetDriverDLL(kEngine);
    db.SetDatabase(dir.File("dump.db"));
    db.Open();
    db.ExecDirect(
        "CREATE TABLE export (\"oid\" VARCHAR(1024), \"sn\" VARCHAR(1024), \"uid\" "
        "VARCHAR(1024), \"ou\")");
  }
  void Add(const std::vector<std::vector<std::string>>& rows) {
    TASQLite3Query insert(&db);
    insert.SetSQL("INSERT INTO export VALUES (?,?,?,?)");
    for (const auto& r : rows) {
      insert.SetParamValues(r);
      insert.ExecSQL();
    }
  }
  // The DNs of the rows `q` shows, read window by window (random order when
  // asked) and by one walk; both must agree.
  std::vector<std::string> Shown(TRowQuery q, int column = 0, bool scrambled = false) {
    EXPECT_FALSE(q.Resolve(db).has_value());
    TASQLite3Query run(&db);
    run.SetRowQuery(q);
    run.Open();
    EXPECT_TRUE(run.ReadsInPlace());
    const int n = run.RecordCount();
    std::vector<int> visit(n);
    for (int i = 0; i < n; ++i) visit[i] = i;
    if (scrambled) std::shuffle(visit.begin(), visit.end(), std::mt19937(3));
    std::vector<std::string> seen(n);
    for (int r : visit) seen[r] = std::string(run.CellText(r, column));
    std::vector<std::string> walked;
    run.BeginRowWalk();
    for (int r = 0; r < n; ++r) walked.emplace_back(run.CellText(r, column));
    run.EndRowWalk();
    EXPECT_EQ(seen, walked);
    EXPECT_EQ(run.ReadError(), "");
    return seen;
  }
  TempDir dir;
  TASQLite3DB db;
};

TEST_F(RowQueryTest, HeaderOrdersAndFilter) {
  Add({{"cn=e,o=x", "smith", "10", "Sales"},
       {"cn=a,o=x", "Brown", "9", "sales"},
       {"cn=d,o=x", "", "-3", "Staff"},
       {"cn=c,o=x", "brown", "", "[Sales][Staff]"},
       {"cn=b,o=x", "alvarez", "100", "Research"},
       {"cn=f,o=x", "Zorn", "07", ""}});
  struct Case {
    const char* what;
    std::vector<TSortKey> order;
    std::string filter;
    std::vector<std::string> filterColumns;
    std::vector<std::string> dns;
  };
  const std::vector<Case> cases = {
      {"the run's order", {}, "", {}, {"a", "b", "c", "d", "e", "f"}},
      // Case does not count; ties (Brown, brown) keep the DN order; the
      // empty cell comes last, in both directions.
      {"text ascending", {{"sn"}}, "", {}, {"b", "a", "c", "e", "f", "d"}},
      {"text descending", {{"sn", true}}, "", {}, {"f", "e", "a", "c", "b", "d"}},
      // Every non-empty value an integer: numbers, 9 before 10, 07 as 7.
      {"numbers", {{"uid"}}, "", {}, {"d", "f", "a", "e", "b", "c"}},
      {"numbers descending", {{"uid", true}}, "", {}, {"b", "e", "a", "f", "d", "c"}},
      {"second key", {{"sn"}, {"uid", true}}, "", {}, {"b", "a", "c", "e", "f", "d"}},
      {"filter any column", {}, "SALES", {}, {"a", "c", "e"}},
      {"filter one column", {}, "s", {"sn"}, {"e"}},
      {"filter and order", {{"uid", true}}, "sta", {}, {"d", "c"}},
      {"filter on the DN", {}, "CN=B", {"oid"}, {"b"}},
      {"filter finds nothing", {{"sn"}}, "nobody", {}, {}},
  };
  for (const Case& c : cases) {
    TRowQuery q("export");
    q.Order = c.order;
    q.Filter = c.filter;
    q.FilterColumns = c.filterColumns;
    std::vector<std::string> dns;
    for (const std::string& dn : Shown(q)) dns.push_back(dn.substr(3, 1));
    EXPECT_EQ(dns, c.dns) << c.what;
  }
  // A value that is no integer makes the column text again: "9" after "10".
  Add({{"cn=g,o=x", "x", "ten", ""}});
  TRowQuery q("export");
  q.Order = {{"uid"}};
  const auto dns = Shown(q);
  EXPECT_LT(std::find(dns.begin(), dns.end(), "cn=e,o=x"),
            std::find(dns.begin(), dns.end(), "cn=a,o=x"));
}

TEST_F(RowQueryTest, ColumnsUnknownNamesAndStatements) {
  Add({{"cn=a,o=x", "Brown", "9", "Sales"}});
  TRowQuery q("export");
  q.Columns = {"OU", "oid"};  // the table's spelling is taken
  ASSERT_FALSE(q.Resolve(db).has_value());
  TASQLite3Query run(&db);
  run.SetRowQuery(q);
  run.Open();
  ASSERT_EQ(run.FieldCount(), 2);
  EXPECT_EQ(run.FieldDef(0).name, "ou");
  EXPECT_EQ(run.CellText(0, 0), "Sales");
  EXPECT_EQ(run.CellText(0, 1), "cn=a,o=x");
  EXPECT_EQ(run.FieldDef(1).size, 1024);

  for (auto bad : {std::vector<std::string>{"mail"}, std::vector<std::string>{"oid", "x\"y"}}) {
    TRowQuery b("export");
    b.Columns = bad;
    EXPECT_EQ(b.Resolve(db).value_or(""), "unknown column '" + bad.back() + "'");
  }
  TRowQuery s("export");
  s.Order = {{"nope"}};
  EXPECT_EQ(s.Resolve(db).value_or(""), "unknown column 'nope'");

  // A filter text is bound, never part of the statement; a plain query is the
  // key order read in place as before.
  TRowQuery f("export");
  f.Filter = "'); DROP TABLE export; --";
  ASSERT_FALSE(f.Resolve(db).has_value());
  EXPECT_EQ(f.Select().find("DROP"), std::string::npos);
  EXPECT_TRUE(Shown(f).empty());
  TASQLite3Query plain(&db);
  plain.SetRowQuery(TRowQuery("export"));
  EXPECT_EQ(plain.SQL(), "SELECT * FROM \"export\" ORDER BY \"oid\" ASC");
}

TEST_F(RowQueryTest, ManyRowsAcrossWindowsWithTheirIndex) {
  // Enough rows for many windows; the order against a sort of the same
  // values by the same rules, read in a scrambled order and by a walk.
  std::vector<std::vector<std::string>> rows;
  std::mt19937 random(11);
  const char* names[] = {"smith", "Smith", "ßtraße", "Öberg", "oberg", "", "Émile", "adams"};
  for (int i = 0; i < 3000; ++i)
    rows.push_back({"cn=u" + std::to_string(random() % 5000) + ",o=x", names[random() % 8],
                    std::to_string(static_cast<int>(random() % 2000) - 1000), "x"});
  db.StartTransaction();
  Add(rows);
  db.Commit();
  auto expected = rows;
  std::stable_sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
    if (a[1].empty() != b[1].empty()) return b[1].empty();
    if (int c = CompareText(a[1], b[1]); c != 0) return c > 0;  // descending
    return a[0] < b[0];
  });
  TRowQuery q("export");
  q.Order = {{"sn", true}};
  std::vector<std::string> want;
  for (const auto& r : expected) want.push_back(r[0] + "|" + r[1]);
  TRowQuery both = q;
  ASSERT_FALSE(both.Resolve(db).has_value());
  TASQLite3Query run(&db);
  run.SetRowQuery(both);
  run.Open();
  std::vector<std::string> got;
  for (int r = 0; r < run.RecordCount(); ++r)
    got.push_back(std::string(run.CellText(r, 0)) + "|" + std::string(run.CellText(r, 1)));
  EXPECT_EQ(got, want);
  EXPECT_EQ(Shown(q, 0, true).size(), 3000u);
  // The sort asked for made its index.
  TASQLite3Query idx(&db);
  idx.SetSQL(
      "SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name LIKE 'quorvel_order_%'");
  idx.Open();
  EXPECT_EQ(idx.CellText(0, 0), "1");
  // Numbers sort as numbers across windows too.
  TRowQuery n("export");
  n.Order = {{"uid"}};
  ASSERT_FALSE(n.Resolve(db).has_value());
  EXPECT_TRUE(n.Order[0].Numeric);
  TASQLite3Query num(&db);
  num.SetRowQuery(n);
  num.Open();
  int last = -100000;
  for (int r = 0; r < num.RecordCount(); ++r) {
    const int v = std::stoi(std::string(num.CellText(r, 2)));
    ASSERT_LE(last, v) << r;
    last = v;
  }
}

// A table renamed away from its name takes its indexes along: the table
// that then takes the name gets an order index of its own, not none.
TEST_F(RowQueryTest, ATableUnderAnOldTablesNameGetsItsOwnOrderIndex) {
  Add({{"cn=b,o=x", "smith", "1", "x"}, {"cn=a,o=x", "adams", "2", "x"}});
  auto indexesOf = [&](const std::string& table) {
    TASQLite3Query q(&db);
    q.RawSQL = true;
    q.SetSQL("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND tbl_name = '" + table +
             "'");
    q.Open();
    const std::string n(q.CellText(0, 0));
    q.Close();
    return n;
  };
  TRowQuery q("export");
  q.Order = {{"sn"}};
  EXPECT_EQ(Shown(q), (std::vector<std::string>{"cn=a,o=x", "cn=b,o=x"}));
  EXPECT_EQ(indexesOf("export"), "1");
  db.ExecDirect("ALTER TABLE export RENAME TO export_staged_k00000001");
  db.ExecDirect("CREATE TABLE export (\"oid\", \"sn\", \"uid\", \"ou\")");
  Add({{"cn=d,o=x", "brown", "3", "x"}, {"cn=c,o=x", "zappa", "4", "x"}});
  EXPECT_EQ(Shown(q), (std::vector<std::string>{"cn=d,o=x", "cn=c,o=x"}));
  EXPECT_EQ(indexesOf("export"), "1");
  EXPECT_EQ(indexesOf("export_staged_k00000001"), "1");
  EXPECT_EQ(Shown(q), (std::vector<std::string>{"cn=d,o=x", "cn=c,o=x"}));
  EXPECT_EQ(indexesOf("export"), "1") << "the same order made a second index";
}

TEST(TextCollation, FoldsCaseBeyondAscii) {
  EXPECT_EQ(CompareText("Öberg", "öBERG"), 0);
  EXPECT_LT(CompareText("adams", "Brown"), 0);
  EXPECT_EQ(quorvel::FoldText("ÉMILE Straße"), "émile straße");
  // Bytes that are no UTF-8 still have a place and survive folding.
  EXPECT_NE(CompareText("\xff", "\xfe"), 0);
  EXPECT_EQ(quorvel::FoldText("A\xffZ"), "a\xc3\xbfz");
}

// The whole-text way of comparing: both texts decoded to wide strings (a byte
// that is no UTF-8 stands for itself), folded by the locale's case mapping,
// then collated. The quick comparison must give the same sign for any bytes.
// Runs with `loc` as the thread's locale.
std::wstring WideFolded(const std::string& s, locale_t loc) {
  std::wstring w;
  for (size_t i = 0; i < s.size();) {
    mbstate_t st{};
    wchar_t c = 0;
    const size_t n = mbrtowc(&c, s.data() + i, s.size() - i, &st);
    const bool valid = n != static_cast<size_t>(-1) && n != static_cast<size_t>(-2) && n > 0 &&
                       !(c >= 0xD800 && c < 0xE000);
    if (!valid) c = static_cast<unsigned char>(s[i]);
    w.push_back(static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), loc)));
    i += valid ? n : 1;
  }
  return w;
}

TEST(TextCollation, QuickComparisonAgreesWithTheWholeTextOne) {
  locale_t loc = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
  if (!loc) loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  if (towlower_l(0xC4, loc) != 0xE4) loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", loc);
  ASSERT_TRUE(loc);
  const locale_t before = uselocale(loc);
  const std::vector<std::string> pieces = {"a",
                                           "B",
                                           "z",
                                           "Z",
                                           "0",
                                           "9",
                                           " ",
                                           "-",
                                           "\xc3\x84",
                                           "\xc3\xa4",
                                           "\xc3\x9f",
                                           "\xe2\x82\xac",
                                           "\xff",
                                           "\xc3",
                                           "\xed\xa0\x80",
                                           std::string(1, '\0'),
                                           "\xf0\x9f\x98\x80",
                                           "Surname",
                                           "\xce\xa3"};
  std::mt19937 random(7);
  auto text = [&] {
    std::string t;
    for (int k = static_cast<int>(random() % 6); k > 0; --k) t += pieces[random() % pieces.size()];
    return t;
  };
  for (int n = 0; n < 20000; ++n) {
    const std::string a = text(), b = n % 4 ? text() : a + text();
    const std::wstring wa = WideFolded(a, loc), wb = WideFolded(b, loc);
    const int whole = wcscoll_l(wa.c_str(), wb.c_str(), loc);
    const int quick = CompareText(a, b);
    ASSERT_EQ(quick, whole < 0   ? -1
                     : whole > 0 ? 1
                                 : 0)
        << testing::PrintToString(a) << " " << testing::PrintToString(b);
    // The filter's folding is the same mapping, back in UTF-8.
    std::string folded;
    for (wchar_t c : wa) {
      char buf[8];
      mbstate_t st{};
      const size_t len = wcrtomb(buf, c, &st);
      folded.append(buf, len == static_cast<size_t>(-1) ? 0 : len);
    }
    ASSERT_EQ(quorvel::FoldText(a), folded) << testing::PrintToString(a);
  }
  uselocale(before);
  freelocale(loc);
}

}  // namespace
