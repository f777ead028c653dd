// The engine's dialog flow, destinations, failure reporting and shared rules.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "export/output.h"
#include "export_support.h"

using namespace quorvel::test;

namespace {

class ExportEngine : public ::testing::Test {
 protected:
  ExportTempDir dir;
  TkxMemoryRowSource src = Table({"oid", "cn"}, {{"a", "b"}, {"c", "d"}});
  Exporter x{src, dir.Path()};
  std::vector<TkxExportError> errors;
  void SetUp() override {
    x.engine.OnError = [this](TkxCustomExport&, TkxExportError e) { errors.push_back(e); };
  }
};

TEST_F(ExportEngine, ConfiguredValues) {
  TkxDBGridExport fresh;
  EXPECT_EQ(fresh.ExportStyle, xsView);
  EXPECT_EQ(fresh.ExportType, xtExcel);
  // All fourteen: the workbook, LDIF (RFC 2849) and JSON Lines included.
  EXPECT_EQ(fresh.ExportTypes.Bits(), 0x3FFFu);
  EXPECT_EQ(fresh.VersionText(), "2.37");
  EXPECT_EQ(x.engine.ExportStyle, xsFile);
  EXPECT_EQ(x.engine.TempDir(), dir.Path() + "data/");
  EXPECT_EQ(x.engine.Options.Bits(), 0b10011101101u);
  EXPECT_EQ(x.engine.ColumnWidth(0), 1024);
  EXPECT_EQ(x.engine.ColumnWidth(1), 255);
  EXPECT_EQ(x.engine.ColumnWidth(2), 0);
  EXPECT_EQ(x.engine.ColumnTitle(2), "");
}

TEST_F(ExportEngine, WidthsByFieldKindUseTheConfiguredFormats) {
  TkxMemoryRowSource kinds({{"b", "", "", fkBoolean, 2, 1, true},
                            {"n", "", "", fkNumber, 12, 2, true},
                            {"d", "", "", fkDate, 10, 1, true},
                            {"t", "", "", fkTime, 12, 1, true},
                            {"dt", "", "", fkDateTime, 24, 1, true},
                            {"u", "", "", fkUnknown, 0, 1, true},
                            {"blob", "Label", "", fkBinary, 4, 1, true},
                            {"w", "", "Caption", fkOther, 40, 1, true}},
                           {});
  Exporter k(kinds);
  const int expected[] = {5, 15, 10, 8, 19, 13, 12, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(k.engine.ColumnWidth(i), expected[i]) << i;
  EXPECT_EQ(k.engine.ColumnTitle(6), "Label");
  EXPECT_EQ(k.engine.ColumnTitle(7), "Caption");
  k.engine.ColumnWidths = {"7", "x"};
  EXPECT_EQ(k.engine.ColumnWidthFor(0), 7);
  EXPECT_EQ(k.engine.ColumnWidthFor(1), 15);
}

TEST_F(ExportEngine, SettersValidate) {
  x.engine.SetRowNumberFormat("Row");
  EXPECT_EQ(x.engine.RowNumberFormat(), "%d");
  EXPECT_EQ(x.desktop.Errors, std::vector<std::string>{"The format has to contain %d string."});
  x.engine.SetRowNumberFormat("#%d");
  EXPECT_EQ(x.engine.RowNumberFormat(), "#%d");
  x.engine.SetTempDir("/A/B/");
  x.engine.SetTempDir("/a/b");  // the same folder: kept as it was
  EXPECT_EQ(x.engine.TempDir(), "/A/B/");
}

TEST_F(ExportEngine, DialogFlowCancelAndFileNameReuse) {
  // Cancelling the selection window: nothing at all.
  x.desktop.SelectAnswer = false;
  x.engine.RunExportDialog();
  EXPECT_EQ(x.engine.LastRun().Result, TkxRunResult::roCancelled);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(x.desktop.SaveDialogs, 0);

  // Cancelling the save dialog: xeUserCancelled, FileName stays empty.
  x.desktop.SelectAnswer = true;
  x.desktop.SelectTypeAnswer = xtCSV;
  x.engine.RunExportDialog();
  EXPECT_EQ(errors, std::vector<TkxExportError>{xeUserCancelled});
  EXPECT_EQ(x.desktop.LastSaveFilter, "CSV (Comma delimited) (*.csv)|*.CSV");
  EXPECT_EQ(x.desktop.LastSaveTitle, "Save document");
  EXPECT_EQ(x.desktop.LastSaveExt, "CSV");
  EXPECT_EQ(x.desktop.LastSaveDir, dir.Path());
  EXPECT_TRUE(x.engine.FileName.empty());

  // A name chosen with another extension gets the format's, in lower case.
  x.desktop.SaveAnswer = dir.File("Report.TXT");
  x.engine.RunExportDialog();
  EXPECT_EQ(x.engine.LastRun().Result, TkxRunResult::roDone);
  EXPECT_EQ(x.engine.LastRun().Destination, dir.File("Report.csv"));
  EXPECT_EQ(x.engine.FileName, dir.File("Report.TXT"));
  EXPECT_EQ(ReadAll(dir.File("Report.csv")), "oid,cn\r\na,b\r\nc,d\r\n");

  // The next export reuses the name without asking; a name already ending in
  // the extension (any case) is kept as chosen.
  x.desktop.SelectTypeAnswer = xtTAB;
  x.engine.RunExportDialog();
  EXPECT_EQ(x.desktop.SaveDialogs, 2);
  EXPECT_EQ(x.engine.LastRun().Destination, dir.File("Report.TXT"));
  x.desktop.SelectTypeAnswer = xtExcel;
  x.engine.RunExportDialog();
  EXPECT_EQ(x.engine.LastRun().Destination, dir.File("Report.xls"));

  // The clipboard entry still asks for a name first (empty label, TMP).
  Exporter c(src, dir.Path());
  c.desktop.SelectTypeAnswer = xtClipboard;
  c.engine.RunExportDialog();
  EXPECT_EQ(c.desktop.LastSaveFilter, " (*.tmp)|*.TMP");
  EXPECT_TRUE(c.desktop.Clipboard.empty());
}

TEST_F(ExportEngine, ViewStyleWritesANewTemporaryFileAndOpensIt) {
  mkdir((dir.Path() + "data").c_str(), 0755);
  WriteAll(dir.File("data/YOX1.html"), "taken");
  x.engine.ExportStyle = xsView;
  x.engine.ExportType = xtHTML;
  x.engine.ExportToTarget();
  EXPECT_EQ(x.desktop.Opened, std::vector<std::string>{dir.File("data/YOX2.html")});
  EXPECT_EQ(ReadAll(dir.File("data/YOX1.html")), "taken");
  EXPECT_GT(ReadAll(dir.File("data/YOX2.html")).size(), 100u);
  EXPECT_EQ(quorvel::TemporaryReportName(dir.Path() + "data", "LDIF"), dir.File("data/YOX1.ldif"));
}

TEST_F(ExportEngine, FailuresAreReportedAndLeaveNoHalfWrittenFile) {
  // The destination exists and the hook refuses: two errors, file untouched.
  WriteAll(dir.File("keep.csv"), "old");
  x.engine.OnFileExist = [](TkxCustomExport&, const std::string&, bool& ok) { ok = false; };
  x.engine.ExportType = xtCSV;
  EXPECT_FALSE(x.engine.ExportToPath(dir.File("keep.csv")));
  EXPECT_EQ(errors, (std::vector<TkxExportError>{xeFileExist, xeGeneralExportError}));
  EXPECT_EQ(ReadAll(dir.File("keep.csv")), "old");
  x.engine.OnFileExist = nullptr;

  // A folder that does not exist: the reason names the file.
  errors.clear();
  EXPECT_FALSE(x.engine.ExportToPath(dir.File("missing/r.csv")));
  EXPECT_EQ(errors, std::vector<TkxExportError>{xeGeneralExportError});
  EXPECT_EQ(x.engine.LastRun().Destination, dir.File("missing/r.csv"));
  EXPECT_NE(x.engine.LastRun().Message.find("No such file"), std::string::npos);

  // Rows that fail while being read: the old report stays whole, no temp file.
  struct Failing : TkxMemoryRowSource {
    using TkxMemoryRowSource::TkxMemoryRowSource;
    void ReadRow(TkxValues& v) override {
      if (Cursor() == 1) throw std::runtime_error("disk read failed");
      TkxMemoryRowSource::ReadRow(v);
    }
  } failing(ResultTableColumns({"oid"}), {{"a"}, {"b"}});
  Exporter f(failing, dir.Path());
  f.engine.ExportType = xtCSV;
  EXPECT_FALSE(f.engine.ExportToPath(dir.File("keep.csv")));
  EXPECT_EQ(f.engine.LastRun().Message, "disk read failed");
  EXPECT_EQ(f.engine.LastRun().Destination, dir.File("keep.csv"));
  EXPECT_EQ(ReadAll(dir.File("keep.csv")), "old");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"keep.csv"});

  // No rows open, no file name: nothing happens beyond the report.
  errors.clear();
  src.Ready = false;
  x.engine.ExportToTarget();
  src.Ready = true;
  x.engine.FileName.clear();
  x.engine.ExportToTarget();
  EXPECT_EQ(errors, (std::vector<TkxExportError>{xeComponentIsNull, xeInvalidFileName}));
}

TEST_F(ExportEngine, AFolderThatTakesNoNewFilesStillLetsTheReportBeReplaced) {
  // A shared folder where only the report file is writable. Root may write
  // anywhere, so the export then runs in a child process as "nobody".
  const std::string shared = dir.File("shared");
  ASSERT_EQ(::mkdir(shared.c_str(), 0755), 0);
  WriteAll(shared + "/r.csv", "an older and longer report than the new one\r\n");
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    ASSERT_EQ(::chown(shared.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chown((shared + "/r.csv").c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(::chmod(shared.c_str(), 0555), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(10);
    x.engine.ExportType = xtCSV;
    int failures = 0;
    if (!x.engine.ExportToPath(shared + "/r.csv")) failures |= 1;
    // A new file cannot be made there: reported, never a success.
    if (x.engine.ExportToPath(shared + "/new.csv")) failures |= 2;
    if (x.engine.LastRun().Message.find("Permission denied") == std::string::npos) failures |= 4;
    ::_exit(failures);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ::chmod(shared.c_str(), 0755);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadAll(shared + "/r.csv"), "oid,cn\r\na,b\r\nc,d\r\n");
  std::vector<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(shared)) names.push_back(e.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"r.csv"});
}

TEST_F(ExportEngine, HooksProgressAndCursorRestore) {
  std::vector<std::string> calls;
  x.engine.OnBeginExport = [&](TkxCustomExport&) { calls.push_back("begin"); };
  x.engine.OnEndExport = [&](TkxCustomExport&) { calls.push_back("end"); };
  x.engine.OnGetHeader = [&](TkxCustomExport&, int n, std::string& h) {
    h = "Report of " + std::to_string(n) + "\r\nsecond";
  };
  x.engine.OnGetFooter = [&](TkxCustomExport&, int, std::string& f) { f = "bye"; };
  x.engine.OnGetExtension = [&](TkxCustomExport&, std::string& e) { e = "tsv"; };
  x.engine.OnExport = [&](TkxCustomExport&, int cur, int total, TkxValues& v, bool&) {
    calls.push_back(std::to_string(cur) + "/" + std::to_string(total) + v[0]);
  };
  x.engine.ExportType = xtTAB;
  x.engine.FileName = dir.File("r");
  src.SetCursor(1);
  x.engine.ExportToTarget();
  EXPECT_EQ(calls, (std::vector<std::string>{"begin", "0/2a", "1/2c", "end"}));
  EXPECT_EQ(ReadAll(dir.File("r.tsv")),
            "Report of 2\r\nsecond\r\noid\tcn\r\na\tb\r\nc\td\r\nbye\r\n"
            "Created: 08/12/2026 10:00:00\r\n");
  EXPECT_EQ(src.Cursor(), 1u);
  EXPECT_EQ(x.desktop.ProgressShown, 1);
  EXPECT_EQ(x.desktop.ProgressTotal, 2);
  EXPECT_EQ(x.desktop.ProgressPosition, 1);
  EXPECT_FALSE(x.desktop.ProgressVisible);
}

TEST_F(ExportEngine, SelectedRowsOnlyAndSourcesWithoutRowCount) {
  src.Selected = {false, true};
  src.HideRowCount = true;
  x.engine.Options.Include(xoSelectedRowsOnly);
  x.engine.ExportType = xtCSV;
  x.engine.ExportToPath(dir.File("s.csv"));
  EXPECT_EQ(ReadAll(dir.File("s.csv")), "oid,cn\r\nc,d\r\n");
}

TEST_F(ExportEngine, NoColumnsWritesNothing) {
  TkxMemoryRowSource none;
  Exporter n(none, dir.Path());
  bool ended = false;
  n.engine.OnEndExport = [&](TkxCustomExport&) { ended = true; };
  n.engine.ExportType = xtCSV;
  EXPECT_FALSE(n.engine.ExportToPath(dir.File("n.csv")));
  EXPECT_FALSE(ended);
  EXPECT_TRUE(dir.Names().empty());
}

TEST_F(ExportEngine, ASymbolicLinkKeepsPointingAtTheNewReport) {
  WriteAll(dir.File("real.csv"), "old");
  ASSERT_EQ(::symlink(dir.File("real.csv").c_str(), dir.File("link.csv").c_str()), 0);
  x.engine.ExportType = xtCSV;
  ASSERT_TRUE(x.engine.ExportToPath(dir.File("link.csv"))) << x.engine.LastRun().Message;
  struct stat st {};
  ASSERT_EQ(::lstat(dir.File("link.csv").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_NE(ReadAll(dir.File("real.csv")), "old");
  EXPECT_EQ(ReadAll(dir.File("link.csv")), ReadAll(dir.File("real.csv")));
}

TEST(ExportFileNames, DestinationRules) {
  using quorvel::DestinationName;
  EXPECT_EQ(DestinationName("/x/report", "CSV"), "/x/report.csv");
  EXPECT_EQ(DestinationName("/x/report.txt", "CSV"), "/x/report.csv");
  EXPECT_EQ(DestinationName("/x/report.CSV", "CSV"), "/x/report.CSV");
  EXPECT_EQ(DestinationName("/x/report.xlsx", "XLS"), "/x/report.xls");
  EXPECT_EQ(DestinationName("/x.d/report", "HTML"), "/x.d/report.html");
  EXPECT_EQ(PadCenter("ab", 5), " ab  ");
  EXPECT_EQ(PadLeft("abc", '0', 2), "abc");
  EXPECT_TRUE(IsLink("see mailto:x"));
  EXPECT_FALSE(IsLink("HTTP://x"));
}

TEST(ExportStream, WritesToAnOpenStream) {
  auto src = Table({"oid"}, {{"a"}});
  Exporter x(src);
  x.engine.ExportType = xtCSV;
  std::FILE* f = std::tmpfile();
  ASSERT_TRUE(x.engine.ExportToStream(f));
  std::rewind(f);
  char buf[64] = {};
  const std::size_t n = std::fread(buf, 1, sizeof buf, f);
  std::fclose(f);
  EXPECT_EQ(std::string(buf, n), "oid\r\na\r\n");
}

}  // namespace
