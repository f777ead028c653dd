// What a stopping program removes: registered files, registered folders once
// empty, and a folder handed to a library together with every file in it,
// many enough to take several directory reads; nothing unregistered.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "export/removeonstop.h"
#include "export_support.h"

using namespace quorvel::test;
using quorvel::TRemoveOnStop;

TEST(RemoveOnStop, FilesFoldersAndAFoldersFilesGoAndNothingElse) {
  ExportTempDir dir;
  namespace fs = std::filesystem;
  const auto touch = [](const std::string& p) { std::ofstream(p) << "x"; };
  touch(dir.File("report.tmp"));
  touch(dir.File("kept.txt"));
  fs::create_directory(dir.File("empty"));
  fs::create_directory(dir.File("library"));
  for (int i = 0; i < 300; ++i)  // more names than one 4 KiB read returns
    touch(dir.File("library/tmp." + std::to_string(i) + std::string(40, 'n')));
  touch(dir.File("library/.hidden"));
  fs::create_directory(dir.File("plain"));
  touch(dir.File("plain/file"));
  fs::create_directory(dir.File("nested"));
  fs::create_directory(dir.File("nested/inner"));
  touch(dir.File("gone-before"));
  {
    TRemoveOnStop file(dir.File("report.tmp"));
    TRemoveOnStop empty(dir.File("empty"), TRemoveOnStop::kFolder);
    TRemoveOnStop library(dir.File("library"), TRemoveOnStop::kWithFiles);
    TRemoveOnStop plain(dir.File("plain"), TRemoveOnStop::kFolder);
    TRemoveOnStop nested(dir.File("nested"), TRemoveOnStop::kWithFiles);
    TRemoveOnStop missing(dir.File("never-made"), TRemoveOnStop::kWithFiles);
    { TRemoveOnStop released(dir.File("gone-before")); }
    EXPECT_TRUE(file.Registered() && library.Registered());
    quorvel::RemoveFilesLeftOnStop();
  }
  // A plain folder keeps its files (and so stays); a sub-folder is never
  // walked into; an unregistered file stays.
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"gone-before", "kept.txt", "nested", "plain"}));
  EXPECT_TRUE(fs::exists(dir.File("plain/file")));
  EXPECT_TRUE(fs::exists(dir.File("nested/inner")));
}
