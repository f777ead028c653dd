// Writes every report format for 100,000 rows x 6 columns read from a dataset
// over a real SQLite file and prints rows per second, the report size and the
// memory the export needed beyond the dataset (each format runs in its own
// child process so that its peak is its own).
//
// usage: bench_export [rows] [folder] [format]   (format: only that one, e.g. xlsx)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "export/datasetsource.h"
#include "export/kxexport.h"
#include "sqlstore/database.h"
#include "sqlstore/dataset.h"

namespace {

long CurrentRssKb() {
  long pages = 0, rss = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &rss) != 2) rss = 0;
    std::fclose(f);
  }
  return rss * (sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  const std::string folder =
      argc > 2 ? argv[2] : (std::filesystem::temp_directory_path() / "quorvel-bench").string();
  std::filesystem::create_directories(folder);
  const std::string dbFile = folder + "/bench.db";
  std::filesystem::remove(dbFile);

  TASQLite3DB db;
  db.SetDriverDLL("libsqlite3.so.0");
  db.SetDatabase(dbFile);
  db.Open();
  db.ExecDirect(
      "CREATE TABLE export (\"oid\" VARCHAR(1024),\"cn\" VARCHAR(1024),\"sn\" VARCHAR(1024),"
      "\"mail\" VARCHAR(1024),\"title\" VARCHAR(1024),\"description\")");
  db.ExecDirect("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < " +
                std::to_string(rows) +
                ") INSERT INTO export SELECT printf('cn=user%06d,ou=people,o=example', i), "
                "printf('User %d', i), printf('Sn%d', i % 977), printf('user%d@example.org', i), "
                "CASE i % 3 WHEN 0 THEN 'Engineer' WHEN 1 THEN 'Manager, \"Ops\"' ELSE '' END, "
                "printf('[member of %d][since 20%02d]', i % 50, i % 25) FROM n");
  TASQLite3Query query(&db);
  query.SetSQL("SELECT * FROM export ORDER BY oid ASC");
  const auto t0 = std::chrono::steady_clock::now();
  query.Open();
  const double openSecs =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("dataset: %d rows x %d columns opened in %.2f s\n", query.RecordCount(),
              query.FieldCount(), openSecs);
  std::printf("%-10s %10s %12s %12s %14s %12s %8s\n", "format", "rows", "seconds", "rows/s",
              "report MB", "extra MB", "cpu s");
  std::fflush(stdout);

  struct Format {
    TkxExportType type;
    const char* name;
  } formats[] = {{xtTXT, "text"},    {xtClipboard, "clipboard"},
                 {xtCSV, "csv"},     {xtTAB, "tab"},
                 {xtLDIF, "ldif"},   {xtHTML, "html"},
                 {xtWord, "word"},   {xtRTF, "rtf"},
                 {xtExcel, "excel"}, {xtDIF, "dif"},
                 {xtSYLK, "sylk"},   {xtXLSX, "xlsx"}};
  const std::string only = argc > 3 ? argv[3] : "";
  for (const Format& f : formats) {
    if (!only.empty() && only != f.name) continue;
    const long baseKb = CurrentRssKb();
    const pid_t pid = fork();
    if (pid == 0) {
      // One sheet of the old format holds 16,383 data rows: Excel is timed on
      // that many.
      TASQLite3Query sheet(&db);
      const bool excel = f.type == xtExcel && rows > 16383;
      if (excel) {
        sheet.SetSQL("SELECT * FROM export ORDER BY oid ASC LIMIT 16383");
        sheet.Open();
      }
      TkxDatasetRowSource source(excel ? &sheet : &query);
      TkxDBGridExport engine;
      ConfigureReportExport(engine, folder + "/");
      engine.Options.Exclude(xoShowProgress);
      engine.Options.Exclude(xoClipboardMessage);
      engine.DBGrid = &source;
      engine.ExportType = f.type;
      const int exported = excel ? 16383 : rows;
      const std::string path = folder + "/report-" + f.name;
      const auto s = std::chrono::steady_clock::now();
      bool ok;
      if (f.type == xtClipboard) {
        engine.FileName = path;
        engine.ExportToTarget();
        ok = engine.LastRun().Result == TkxRunResult::roDone;
      } else {
        ok = engine.ExportToPath(path);
      }
      const double secs =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - s).count();
      double mb = 0;
      if (f.type == xtClipboard) {
        mb = static_cast<TkxHeadlessDesktop&>(engine.Desktop()).Clipboard.size() / 1e6;
      } else if (ok) {
        mb = std::filesystem::file_size(path) / 1e6;
        std::filesystem::remove(path);
      }
      if (!ok) std::printf("%-10s failed: %s\n", f.name, engine.LastRun().Message.c_str());
      std::printf("%-10s %10d %12.3f %12.0f %14.1f ", f.name, exported, secs, exported / secs, mb);
      std::fflush(stdout);
      std::_Exit(ok ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    // CPU time of the child (the export, plus its dataset copy for Excel):
    // on a busy machine it shows what the wall-clock seconds cannot.
    const double cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                       (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf("%12.1f %8.3f\n", (usage.ru_maxrss - baseKb) / 1024.0, cpu);
    std::fflush(stdout);
  }
  std::filesystem::remove(dbFile);
  return 0;
}
