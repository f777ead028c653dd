// Measures the run of a profile's store work: INSERTs of 6-column rows into
// the export table (rows per second for 10,000 and 100,000 rows), and the
// peak memory of the dataset that reads 100,000 such rows back, against the
// raw text size of those rows: read whole, and read in place (the results
// grid's and the reports' way) with a walk over every row. The engine's own
// page cache (malloc'd, bounded by its cache size) is not counted.
#include <malloc.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>

#include "store/data.h"

#include "heapcount.h"

namespace {

const char* const kColumns = "oid;cn;sn;mail;title;telephoneNumber";

std::vector<std::string> RowValues(int i) {
  const std::string n = std::to_string(i);
  return {"cn=user" + n + ",ou=people,dc=example,dc=com",
          "User " + n,
          "Surname" + n,
          "user" + n + "@example.com",
          "Engineer",
          "+1 555 " + n};
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main() {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("quorvel-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
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
  Tdata d;
  if (!InitDatabases(d, catalogue, working, "libsqlite3.so.0")) {
    std::fprintf(stderr, "cannot open the databases: %s\n", d.LastError().c_str());
    return 1;
  }

  size_t raw = 0;
  for (int rows : {10000, 100000}) {
    d.CreateExportTable(kColumns);
    raw = 0;
    std::vector<std::vector<std::string>> all;
    all.reserve(rows);
    for (int i = 0; i < rows; ++i) {
      all.push_back(RowValues(i));
      for (const std::string& v : all.back()) raw += v.size();
    }
    const auto start = std::chrono::steady_clock::now();
    d.BeginExportRows();
    for (const auto& r : all)
      if (!d.InsertExportRow(r)) std::fprintf(stderr, "insert failed: %s\n", d.LastError().c_str());
    d.EndExportRows();
    const double s = Seconds(std::chrono::steady_clock::now() - start);
    std::printf("export inserts, %6d rows x 6 columns: %.3f s, %.0f rows/second\n", rows, s,
                rows / s);
  }
  {
    // Without the run's transaction: every INSERT commits on its own.
    d.CreateExportTable(kColumns);
    const int rows = 10000;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rows; ++i) d.InsertExportRow(RowValues(i));
    const double s = Seconds(std::chrono::steady_clock::now() - start);
    std::printf("export inserts, %6d rows, one commit each: %.3f s, %.0f rows/second\n", rows, s,
                rows / s);
    d.CreateExportTable(kColumns);
    d.BeginExportRows();
    for (int i = 0; i < 100000; ++i) d.InsertExportRow(RowValues(i));
    d.EndExportRows();
  }

  const size_t before = g_current.load();
  g_peak = before;
  const auto start = std::chrono::steady_clock::now();
  d.run.SetSQL("SELECT * FROM export ORDER BY oid ASC");
  d.run.Open();
  const double s = Seconds(std::chrono::steady_clock::now() - start);
  const size_t peak = g_peak.load() - before;
  std::printf("dataset of %d rows: opened in %.3f s, raw text %.1f MB, peak %.1f MB (%.2fx)\n",
              d.run.RecordCount(), s, raw / 1e6, peak / 1e6, double(peak) / raw);
  d.run.Close();

  g_peak = g_current.load();
  const size_t base = g_current.load();
  const auto open = std::chrono::steady_clock::now();
  d.run.SetInPlaceSQL("export", "oid");
  d.run.Open();
  const auto opened = std::chrono::steady_clock::now();
  // An export's walk: every cell once, in order.
  size_t bytes = 0;
  d.run.BeginRowWalk();
  for (int r = 0; r < d.run.RecordCount(); ++r)
    for (int c = 0; c < d.run.FieldCount(); ++c) bytes += d.run.CellText(r, c).size();
  d.run.EndRowWalk();
  const auto walked = std::chrono::steady_clock::now();
  // A grid: its first screen (the key's index made), then screens anywhere.
  for (int c = 0; c < d.run.FieldCount(); ++c) bytes += d.run.CellText(0, c).size();
  const auto first = std::chrono::steady_clock::now();
  const int count = d.run.RecordCount();
  for (int k = 0; k < 1000; ++k)
    for (int r = (k * 7919) % count, e = std::min(count, r + 40); r < e; ++r)
      bytes += d.run.CellText(r, 0).size();
  const auto screens = std::chrono::steady_clock::now();
  std::printf(
      "rows read in place: %d rows, opened in %.3f s, every cell read in order in %.3f s; "
      "a grid's first screen %.3f s (the key's index made), 1000 screens anywhere %.3f s; "
      "peak %.2f MB%s\n",
      count, Seconds(opened - open), Seconds(walked - opened), Seconds(first - walked),
      Seconds(screens - first), (g_peak.load() - base) / 1e6,
      d.run.ReadsInPlace() ? "" : " (read whole!)");
  d.run.Close();
  std::filesystem::remove_all(dir);
  return 0;
}
