// Measures the results grid's sort and quick filter on a run's table of N rows
// (default 1,000,000; 6 columns like a people search): the time from the
// request to the grid's first screen (40 rows of every column read), as the
// grid does it (OpenShownRows: the order's index made when missing, the
// filter's count for the title line), and the peak heap memory of each step.
// The first sort of a column pays for its index; a second sort of the same
// column, or its reverse, reuses it. The filter is typed one key at a time,
// as the filter box asks on each key; the time after the last key counts.
//
//   bench_rowquery [ROWS]
// Targets: a sort's first screen within 2 s, a filter's within 1 s of the
// last key, on a million rows.
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>

#include "store/data.h"
#include "store/profilerun.h"

#include "heapcount.h"

namespace {

const char* const kColumns = "oid;cn;sn;mail;title;employeeNumber";
const char* const kTitles[] = {"Engineer", "Sales", "Accounts", "Support", "Research"};

// Surnames in no order of their own, so that sorting has work to do.
std::vector<std::string> RowValues(int i) {
  const std::string n = std::to_string(i);
  const unsigned h = static_cast<unsigned>(i) * 2654435761u;
  return {"uid=b" + n + ",ou=people,dc=example,dc=com",
          "Person " + n,
          "Surname" + std::to_string(h % 1000003u),
          "b" + n + "@example.com",
          kTitles[h % 5],
          std::to_string(h % 100000u)};
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

bool MakeStore(const std::filesystem::path& dir, Tdata& d) {
  const std::string catalogue = (dir / "quorvel.db").string(), working = (dir / "dump.db").string();
  std::ofstream(catalogue).close();
  std::ofstream(working).close();
  {
    TASQLite3DB maker;
    maker.SetDriverDLL("libsqlite3.so.0");
    maker.SetDatabase(catalogue);
    maker.Open();
    std::ifstream schema(std::string(QUORVEL_SOURCE_DIR) + "/src/store/catalogue.sql");
    std::stringstream text;
    text << schema.rdbuf();
    maker.ExecDirect(text.str());
  }
  if (InitDatabases(d, catalogue, working, "libsqlite3.so.0")) return true;
  std::fprintf(stderr, "cannot open the databases: %s\n", d.LastError().c_str());
  return false;
}

// Opens the rows as `q` shows them and reads the first screen; the seconds
// it took, the rows shown, and the peak heap above what was held before.
struct TStep {
  double seconds = 0;
  int rows = 0;
  double peakMB = 0;
};

TStep Show(Tdata& d, const quorvel::TRowQuery& q) {
  d.run.Close();
  const size_t base = g_current.load();
  g_peak = base;
  const auto start = std::chrono::steady_clock::now();
  std::string error;
  if (!quorvel::OpenShownRows(d, q, &error))
    std::fprintf(stderr, "open failed: %s\n", error.c_str());
  TStep step;
  step.rows = d.run.RecordCount();
  size_t bytes = 0;
  for (int r = 0; r < std::min(step.rows, 40); ++r)
    for (int c = 0; c < d.run.FieldCount(); ++c) bytes += d.run.CellText(r, c).size();
  step.seconds = Seconds(std::chrono::steady_clock::now() - start);
  step.peakMB = (g_peak.load() - base) / 1e6;
  if (bytes == 0 && step.rows > 0) std::fprintf(stderr, "no cell text read\n");
  return step;
}

void Print(const char* what, const TStep& s) {
  std::printf("%-44s %7.3f s  %8d rows  peak %6.1f MB\n", what, s.seconds, s.rows, s.peakMB);
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("quorvel-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  int status = 0;
  {
    Tdata d;
    if (!MakeStore(dir, d)) return 1;
    d.CreateExportTable(kColumns);
    d.BeginExportRows();
    for (int i = 0; i < rows; ++i) d.InsertExportRow(RowValues(i));
    d.EndExportRows();
    std::printf("%d rows x 6 columns stored\n", rows);

    quorvel::TRowQuery plain("export");
    Print("run's order, first screen", Show(d, plain));
    quorvel::TRowQuery bySn = plain;
    bySn.Order = {{"sn"}};
    Print("sort by sn (index made), first screen", Show(d, bySn));
    bySn.Order = {{"sn", true}};
    Print("sort by sn descending, first screen", Show(d, bySn));
    quorvel::TRowQuery byNumber = plain;
    byNumber.Order = {{"employeeNumber"}};
    Print("sort by employeeNumber (numbers), first", Show(d, byNumber));

    // Where a first sort's time goes: the column's kind, the index, the rest.
    {
      quorvel::TRowQuery q = plain;
      q.Order = {{"title", true}};
      d.run.Close();
      const auto t0 = std::chrono::steady_clock::now();
      q.Resolve(d.temp);
      const auto t1 = std::chrono::steady_clock::now();
      d.temp.ExecDirect(q.IndexStatement());
      const auto t2 = std::chrono::steady_clock::now();
      const TStep rest = Show(d, q);
      std::printf("sort by title descending: kind %.3f s, index %.3f s, then %.3f s\n",
                  Seconds(t1 - t0), Seconds(t2 - t1), rest.seconds);
    }

    // "b12345" typed key by key in the filter box over every column.
    const std::string typed = "b12345";
    TStep last;
    for (size_t k = 1; k <= typed.size(); ++k) {
      quorvel::TRowQuery f = plain;
      f.Filter = typed.substr(0, k);
      last = Show(d, f);
    }
    Print("filter \"b12345\", after the last key", last);
    quorvel::TRowQuery sorted = bySn;
    sorted.Filter = "sales";
    Print("filter \"sales\" over rows sorted by sn", Show(d, sorted));
    d.run.Close();
  }
  std::filesystem::remove_all(dir);
  return status;
}
