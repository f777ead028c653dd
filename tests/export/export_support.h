// Shared pieces of the export tests: an engine configured as the program
// configures it over rows in memory, a fixed clock, temporary folders.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "export/kxexport.h"

namespace quorvel::test {

inline const char* const kNow = "08/12/2026 10:00:00";

class ExportTempDir {
 public:
  ExportTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qexport-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
    path_ += "/";
  }
  ~ExportTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ExportTempDir(const ExportTempDir&) = delete;
  ExportTempDir& operator=(const ExportTempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + name; }
  std::vector<std::string> Names() const {
    std::vector<std::string> n;
    for (auto& e : std::filesystem::directory_iterator(path_)) n.push_back(e.path().filename());
    std::sort(n.begin(), n.end());
    return n;
  }

 private:
  std::string path_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// An engine bound to `source`, configured as the program does, with a fixed
// clock and a headless desktop.
struct Exporter {
  explicit Exporter(TkxRowSource& source, const std::string& appPath = "/tmp/") {
    ConfigureReportExport(engine, appPath);
    engine.DBGrid = &source;
    engine.NowText = [] { return std::string(kNow); };
    engine.SetDesktop(&desktop);
  }
  // Writes `type` to `path` exactly and returns the file's bytes.
  std::string Write(TkxExportType type, const std::string& path) {
    engine.ExportType = type;
    engine.ExportToPath(path);
    return ReadAll(path);
  }
  TkxDBGridExport engine;
  TkxHeadlessDesktop desktop;
};

inline TkxMemoryRowSource Table(const std::vector<std::string>& names,
                                std::vector<TkxValues> rows) {
  return TkxMemoryRowSource(ResultTableColumns(names), std::move(rows));
}

}  // namespace quorvel::test
