#include <gtest/gtest.h>

#include "sqlstore/testutil.h"
#include "store/fileinfo.h"
#include "store/shared.h"

TEST(Shared, ScopeAndFlagConversions) {
  EXPECT_EQ(ScopeToText(0), "Base Object");
  EXPECT_EQ(ScopeToText(1), "Single Container");
  EXPECT_EQ(ScopeToText(2), "Sub Containers");
  std::string out = "kept";
  ScopeToText(3, out);
  EXPECT_EQ(out, "kept");
  EXPECT_EQ(TextToScope("Sub Containers"), 2);
  EXPECT_EQ(TextToScope("Base Object"), 0);
  EXPECT_EQ(TextToScope("base object"), -1);
  EXPECT_EQ(TextToScope(""), -1);
  EXPECT_EQ(BoolToYN(true), "Y");
  EXPECT_EQ(BoolToYN(false), "N");
  EXPECT_TRUE(YNToBool("Y"));
  EXPECT_FALSE(YNToBool("y"));
  EXPECT_FALSE(YNToBool("Yes"));
}

TEST(FileInfo, ReadsTheBlockOfTheRunningProgram) {
  TFileInfo info;
  EXPECT_EQ(info.CompanyName, "Ferrowin");
  EXPECT_EQ(info.ProductName, "Quorvel");
  EXPECT_EQ(info.FileDescription, "Quorvel store tests");
  EXPECT_EQ(info.Internalname, "test_store");
  EXPECT_EQ(info.FileVersion, "1.0.0.1");
  EXPECT_EQ(info.LegalTradeMarks, "");
  EXPECT_EQ(
      info.MajorVersion + "." + info.MinorVersion + "." + info.Release + " Build " + info.Build,
      "1.0.0 Build 1");
  EXPECT_EQ(GetVersionText(), "1.0 Build 1");
}

TEST(FileInfo, FilesWithoutABlockSayInfoNotAvailable) {
  quorvel::test::TempDir dir;
  const std::string files[] = {dir.Write("text.txt", "not an executable"),
                               dir.Write("short",
                                         "\x7f"
                                         "ELF"),
                               dir.File("missing"), "/bin/sh"};
  for (const std::string& f : files) {
    TFileInfo info;
    info.GetInfo(f);
    for (const std::string* p :
         {&info.CompanyName, &info.FileVersion, &info.Comments, &info.MajorVersion, &info.Build})
      EXPECT_EQ(*p, "<info not available>") << f;
  }
}

TEST(FileInfo, SplitsFileVersions) {
  struct Case {
    const char *version, *major, *minor, *release, *build;
  } cases[] = {
      {"1.2.2.267", "1", "2", "2", "267"},
      {"1, 2, 2, 267", "1", " 2", " 2", " 267"},
      {"1.2", "1", "", "", "2"},
      {"1.2.3", "1", "2", "", "3"},
      {"7", "<info not available>", "<info not available>", "<info not available>",
       "<info not available>"},
      {"", "<info not available>", "<info not available>", "<info not available>",
       "<info not available>"},
  };
  for (const Case& c : cases) {
    std::string a, b, r, d;
    quorvel::SplitFileVersion(c.version, a, b, r, d);
    EXPECT_EQ(a, c.major) << c.version;
    EXPECT_EQ(b, c.minor) << c.version;
    EXPECT_EQ(r, c.release) << c.version;
    EXPECT_EQ(d, c.build) << c.version;
  }
}
