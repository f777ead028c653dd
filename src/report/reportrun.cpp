#include "report/reportrun.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include "export/datasetsource.h"
#include "export/kxexport.h"
#include "export/output.h"
#include "export/removeonstop.h"
#include "ldap/searchdriver.h"
#include "net/keyring.h"
#include "report/certcommands.h"
#include "report/passwords.h"
#include "report/schemacommands.h"
#include "report/stopsignals.h"
#include "report/streamedreport.h"
#include "store/cataloguereader.h"
#include "store/changes.h"
#include "store/connect.h"
#include "store/data.h"
#include "store/filelocations.h"
#include "store/gridview.h"
#include "store/messages.h"
#include "store/profilerun.h"
#include "store/referrals.h"
#include "store/shared.h"
#include "store/snapshotcopy.h"

namespace quorvel {
namespace {

constexpr const char* kProgram = "quorvel-report";
// Rows per transaction in the private working store: each transaction
// writes its tables' last pages again, so twenty times fewer of them write
// about 350 MB less for a million entries (still at most 4 MiB held).
constexpr std::size_t kPrivateBatchRows = 2000;

const char* kUsage =
    "Usage:\n"
    "  quorvel-report --list [--catalogue FILE]\n"
    "  quorvel-report --profile NAME --format FORMAT --output FILE\n"
    "                 [--server NAME] [--values readable|raw] [--catalogue FILE]\n"
    "                 [--sort COLUMN[,COLUMN...]] [--columns COLUMN[,COLUMN...]]\n"
    "                 [--view none] [--referrals report|follow]\n"
    "                 [--password-file FILE] [--changes]\n"
    "  quorvel-report --show-certificate --server NAME [--catalogue FILE]\n"
    "  quorvel-report --trust-certificate FINGERPRINT --server NAME [--catalogue FILE]\n"
    "  quorvel-report --move-passwords-to-keyring [--catalogue FILE]\n"
    "  quorvel-report --schema --server NAME [--catalogue FILE] [--password-file FILE]\n"
    "  quorvel-report --check --profile NAME [--server NAME] [--catalogue FILE]\n"
    "                 [--password-file FILE]\n"
    "  quorvel-report --help | --version\n"
    "\n"
    "Runs a search profile stored in the Quorvel catalogue and writes its rows as a\n"
    "report, exactly as the windowed program's \"Run\" and \"Export Report\" do.\n"
    "\n"
    "  --list            list the stored profiles, one a line: server name, TAB,\n"
    "                    profile name, TAB, the server's security (None, SSL/TLS or\n"
    "                    StartTLS), TAB, its sign-in (Bind DN and password, or\n"
    "                    Kerberos)\n"
    "  --catalogue FILE  the catalogue (default: lib/quorvel.db beside the program,\n"
    "                    or ~/.local/share/quorvel/quorvel.db when it is installed)\n"
    "  --profile NAME    the profile to run\n"
    "  --server NAME     the profile's server, when several servers have a profile NAME\n"
    "  --format FORMAT   ldif, ldif2849, jsonl, html, xls, xlsx, doc, txt, csv, tab,\n"
    "                    rtf, dif or slk (ldif2849: LDIF for directory tools, every\n"
    "                    value exactly; jsonl: JSON Lines, one object per entry)\n"
    "  --output FILE     where the report goes, whatever its extension; - writes it\n"
    "                    to standard output (every format but xls and xlsx)\n"
    "  --values readable SIDs, GUIDs and times in readable forms (times in UTC)\n"
    "  --values raw      every value as the directory sends it (binary as Base64)\n"
    "                    (default: the profile's own setting)\n"
    "  --sort COLUMNS    sort the rows by these columns, first first; a leading -\n"
    "                    sorts that column descending; dn names the DN column\n"
    "  --columns COLUMNS the columns of the report and their order (dn included)\n"
    "  --view none       ignore the layout saved with the profile in the window\n"
    "                    (by default its column order, hidden columns and sort\n"
    "                    apply; --sort and --columns override its parts)\n"
    "  --referrals report  list the places the directory referred to on standard\n"
    "                    error (\"referral not followed: URL\"), without searching them\n"
    "  --referrals follow  search them too, with the same sign-in and never over a\n"
    "                    weaker connection (default: the server's own setting)\n"
    "  --password-file FILE  the bind password of the profile's server: the file's\n"
    "                    first line (refused when the group or others may read it)\n"
    "  --changes         write what changed since the profile's last complete run\n"
    "                    (columns change, dn, attribute, old, new: added, removed,\n"
    "                    renamed or changed); entries are matched by objectGUID,\n"
    "                    entryUUID, nsUniqueId or ipaUniqueID when the profile asks\n"
    "                    for one, else by DN\n"
    "  --show-certificate        connect to the SSL server NAME and print its\n"
    "                            certificate and SHA-256 fingerprint (stores nothing)\n"
    "  --trust-certificate FP    trust the certificate of the SSL server NAME when it\n"
    "                            has the SHA-256 fingerprint FP (as openssl prints it,\n"
    "                            or plain hexadecimal)\n"
    "  --schema          print the attribute types of the server NAME, one a line:\n"
    "                    name, TAB, other names (comma-separated), TAB, syntax OID,\n"
    "                    TAB, single or multi, TAB, description\n"
    "  --check           check the profile's filter and attribute names against its\n"
    "                    server's schema; one line per finding, exit 1 when there\n"
    "                    are any (the schema is read again when a day old)\n"
    "  --move-passwords-to-keyring  store every password kept in the catalogue in\n"
    "                    the desktop keyring and rewrite the catalogue without them\n"
    "\n"
    "A server that keeps its password in the desktop keyring needs a reachable\n"
    "keyring (the desktop session, or dbus-run-session with an unlocked keyring)\n"
    "or --password-file; one that asks for it prompts on the terminal, without a\n"
    "terminal it needs --password-file. No password is taken on the command line.\n"
    "\n"
    "A certificate that fails verification (self-signed, another host's, expired)\n"
    "is only accepted once trusted for its server at the server's host and port;\n"
    "otherwise the run ends with status 2 and a message giving its fingerprint.\n"
    "So does a trusted certificate that has expired since, until trusted again.\n"
    "\n"
    "Exit status: 0 report written; 1 usage error, unknown profile or unreadable\n"
    "catalogue; 2 connection or bind failure; 3 report written with the partial\n"
    "rows of a search cut by the server's size limit; 4 search failure; 5 the\n"
    "report could not be written (nothing is left half-written); 128 + N stopped\n"
    "by the signal N (SIGTERM, SIGINT, SIGHUP), leaving no file behind; 6 (with\n"
    "--changes) the change report lists changes.\n"
    "\n"
    "Every run that ends with status 0 is kept as its profile's snapshot in\n"
    "history.db beside the catalogue (owner-only), replacing the one before; a\n"
    "run that fails, is cut short or leaves referrals unsearched keeps the one\n"
    "before. With --changes a line on standard error counts the entries added,\n"
    "removed, renamed and changed since the snapshot; without a snapshot, or\n"
    "when the profile's server, base DN, scope, filter or attributes have\n"
    "changed since, the report is empty, a line says why and the status is 0.\n"
    "\n"
    "A search cut by the server's size limit is read again in pages when the\n"
    "server offers paged results; then every entry is written and the status is 0.\n"
    "Values sent in ranges (member;range=0-1499) are read on with follow-up\n"
    "searches of the entry, at most 100,000 follow-ups or 10,000,000 values for one\n"
    "attribute; beyond that, or when a follow-up answers for another entry, the\n"
    "search fails (status 4) naming the entry and the attribute.\n"
    "A place a followed referral names that cannot be searched (refused,\n"
    "unreachable, a failed sign-in, a certificate not trusted) is named on\n"
    "standard error with the reason, and the report is written with status 3.\n"
    "Nobody is asked about a referred server's certificate: trust it in the\n"
    "windowed program, or it is not searched. Active Directory keeps other\n"
    "partitions of a forest elsewhere: search the Global Catalog (port 3268, or\n"
    "3269 with SSL/TLS) to include them.\n";

// LogError and LogInfo texts as single lines on stderr: every line break (with
// the indentation around it) becomes one blank.
std::string OneLine(const std::string& text) {
  std::string out;
  bool pendingBreak = false;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      pendingBreak = true;
      continue;
    }
    if (pendingBreak) {
      if (c == ' ' || c == '\t') continue;
      while (!out.empty() && out.back() == ' ') out.pop_back();
      if (!out.empty()) out.push_back(' ');
      pendingBreak = false;
    }
    out.push_back(c);
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

class TStderrSink : public TMessageSink {
 public:
  void Error(const std::string& text) override {
    std::fprintf(stderr, "%s%s: error: %s\n", LineStart(), kProgram, OneLine(text).c_str());
  }
  void Info(const std::string& text) override {
    std::fprintf(stderr, "%s%s: %s\n", LineStart(), kProgram, OneLine(text).c_str());
  }
  void Notice(const std::string& text) override { Info(text); }
  bool Ask(const std::string&) override { return true; }

 private:
  // On a terminal a progress line may stand where the message goes: clear it.
  const char* LineStart() const { return tty_ ? "\r\033[K" : ""; }
  bool tty_ = isatty(STDERR_FILENO) == 1;
};

// A progress line on stderr, redrawn in place; shown only on a terminal.
class TProgressLine {
 public:
  TProgressLine() : enabled_(isatty(STDERR_FILENO) == 1) {}
  void Show(const std::string& text) {
    if (!enabled_) return;
    std::fprintf(stderr, "\r%s\033[K", text.c_str());
    std::fflush(stderr);
    shown_ = true;
  }
  void Done() {
    if (enabled_ && shown_) std::fprintf(stderr, "\r\033[K");
    shown_ = false;
  }

 private:
  bool enabled_;
  bool shown_ = false;
};

// The export engine's desktop for a run without windows: progress on the
// terminal, nothing else to show.
class TReportDesktop : public TkxHeadlessDesktop {
 public:
  explicit TReportDesktop(TProgressLine& line) : line_(line) {}
  void ShowProgress(const TkxMessagesOptions&, int total) override {
    total_ = total;
    last_ = -1;
  }
  void SetProgress(int position) override {
    // Redraw about every percent; every row would cost more than the writing.
    const int step = total_ > 100 ? total_ / 100 : 1;
    if (position - last_ < step && position != total_) return;
    last_ = position;
    line_.Show("Writing rows: " + std::to_string(position) + " of " + std::to_string(total_));
  }
  void HideProgress() override { line_.Done(); }

 private:
  TProgressLine& line_;
  int total_ = 0;
  int last_ = -1;
};

struct TOptions {
  bool list = false, help = false, version = false;
  std::string catalogue, profile, server, format, output, values, referrals;
  bool hasProfile = false, hasServer = false, hasFormat = false, hasOutput = false;
  bool hasValues = false, hasReferrals = false;
  std::string sort, columns, view;
  bool hasSort = false, hasColumns = false, hasView = false;
  bool showCertificate = false, hasTrust = false;
  bool schema = false, check = false;
  std::string trustFingerprint;
  bool movePasswords = false, hasPasswordFile = false;
  std::string passwordFile;
  bool changes = false;
};

int UsageError(const std::string& text) {
  std::fprintf(stderr, "%s: %s\nTry 'quorvel-report --help'.\n", kProgram, text.c_str());
  return reUsage;
}

// Parses the arguments; an error message when they are wrong.
std::optional<std::string> Parse(const std::vector<std::string>& args, TOptions& o) {
  struct Valued {
    std::string* value;
    bool* given;
  };
  const std::map<std::string, Valued> valued = {
      {"--catalogue", {&o.catalogue, nullptr}},
      {"--profile", {&o.profile, &o.hasProfile}},
      {"--server", {&o.server, &o.hasServer}},
      {"--format", {&o.format, &o.hasFormat}},
      {"--output", {&o.output, &o.hasOutput}},
      {"--values", {&o.values, &o.hasValues}},
      {"--sort", {&o.sort, &o.hasSort}},
      {"--columns", {&o.columns, &o.hasColumns}},
      {"--view", {&o.view, &o.hasView}},
      {"--referrals", {&o.referrals, &o.hasReferrals}},
      {"--trust-certificate", {&o.trustFingerprint, &o.hasTrust}},
      {"--password-file", {&o.passwordFile, &o.hasPasswordFile}},
  };
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg == "--list") {
      o.list = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      o.help = true;
      continue;
    }
    if (arg == "--version") {
      o.version = true;
      continue;
    }
    if (arg == "--show-certificate") {
      o.showCertificate = true;
      continue;
    }
    if (arg == "--changes") {
      o.changes = true;
      continue;
    }
    if (arg == "--move-passwords-to-keyring") {
      o.movePasswords = true;
      continue;
    }
    if (arg == "--schema" || arg == "--check") {
      (arg == "--schema" ? o.schema : o.check) = true;
      continue;
    }
    std::string value;
    bool inlineValue = false;
    if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      inlineValue = true;
    }
    auto it = valued.find(arg);
    if (it == valued.end()) return "unknown argument '" + args[i] + "'";
    if (!inlineValue) {
      if (i + 1 >= args.size()) return "option " + arg + " needs a value";
      value = args[++i];
    }
    *it->second.value = value;
    if (it->second.given) *it->second.given = true;
  }
  return std::nullopt;
}

// What is wrong with the options of --schema and --check, if anything.
std::optional<std::string> SchemaUsageError(const TOptions& o) {
  if (!o.schema && !o.check) return std::nullopt;
  if (o.schema && o.check) return "choose one of --schema and --check";
  const bool other = o.list || o.hasFormat || o.hasOutput || o.hasValues || o.showCertificate ||
                     o.hasTrust || o.changes;
  if (o.schema) {
    if (!o.hasServer) return "say which server with --server NAME";
    if (other || o.hasProfile)
      return "--schema takes only --server, --catalogue and --password-file";
    return std::nullopt;
  }
  if (!o.hasProfile) return "say which profile to check with --profile NAME";
  if (other) return "--check takes only --profile, --server, --catalogue and --password-file";
  return std::nullopt;
}

std::optional<TkxExportType> FormatByName(const std::string& name) {
  const TkxFormatInfo* f = ExportFormatByCommand(name);
  if (f == nullptr) return std::nullopt;
  return f->Type;
}

// A private working store: an empty database file in a folder of our own,
// removed when the run ends, so a running windowed program is never disturbed.
// The folder and every file the engine keeps in it are registered for
// removal should a signal stop the program (report/stopsignals.h).
class TPrivateWorkingStore {
 public:
  TPrivateWorkingStore() {
    THoldStopSignals hold;
    std::string pattern = TemporaryFolder() + "/quorvel-report.XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) return;
    dir_ = buf.data();
    std::string file = dir_ + "/dump.db";
    stop_.push_back(std::make_unique<TRemoveOnStop>(dir_, TRemoveOnStop::kWithFiles));
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
      stop_.push_back(std::make_unique<TRemoveOnStop>(file + suffix));
    int fd = ::open(file.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) return;
    ::close(fd);
    file_ = file;
  }
  ~TPrivateWorkingStore() {
    if (dir_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TPrivateWorkingStore(const TPrivateWorkingStore&) = delete;
  TPrivateWorkingStore& operator=(const TPrivateWorkingStore&) = delete;
  const std::string& File() const { return file_; }

 private:
  std::string dir_, file_;
  std::vector<std::unique_ptr<TRemoveOnStop>> stop_;
};

// One line on standard error per place the search was referred to and did
// not search (with the reason when following), then the Global Catalog
// hint once when they were only reported.
void ReportReferrals(const TSearchOutcome& outcome) {
  for (const TReferralMiss& miss : outcome.NotSearched)
    std::fprintf(stderr, "%s: referral not followed: %s%s\n", kProgram, miss.Url.c_str(),
                 miss.Why.empty() ? "" : (" (" + miss.Why + ")").c_str());
  if (!outcome.NotSearched.empty() && !outcome.Incomplete()) LogInfo(kGlobalCatalogHint);
}

int ListProfiles(Tdata& d) {
  for (const TCatalogueServer& s : ReadCatalogue(d)) {
    const TServerNodeData& server = *s.server.server;
    const char* security = server.ssl == "Y" ? "SSL/TLS" : server.ssl == "T" ? "StartTLS" : "None";
    const char* signIn = server.auth == "kerberos" ? "Kerberos" : "Bind DN and password";
    for (const TNodeData& p : s.profiles)
      std::printf("%s\t%s\t%s\t%s\n", s.server.name.c_str(), p.name.c_str(), security, signIn);
  }
  return std::fflush(stdout) == 0 ? reOk : reWrite;
}

// The rows of the report as the profile's saved view and the options shape
// them; an error naming an unknown column.
std::optional<std::string> ShapeReport(const TOptions& o, const TProfileNodeData& profile,
                                       TRowQuery& shown) {
  const std::vector<std::string> table = RunColumns(profile.att);
  if (!o.hasView) ApplyView(ParseView(profile.view), table, shown);
  std::vector<TSortKey> keys;
  if (o.hasSort) {
    if (auto e = ParseColumnList(o.sort, table, shown.Key, true, keys)) return *e + " in --sort";
    shown.Order = keys;
  }
  if (o.hasColumns) {
    if (auto e = ParseColumnList(o.columns, table, shown.Key, false, keys))
      return *e + " in --columns";
    shown.Columns.clear();
    for (const TSortKey& k : keys) shown.Columns.push_back(k.Column);
    if (shown.Columns == table) shown.Columns.clear();
  }
  return std::nullopt;
}

// The history of a run: every run that ends well (status 0) becomes the
// profile's snapshot in the history file beside the catalogue; with
// --changes its rows are first compared with the snapshot before, the change
// rows in the private store's table "changes".
//
// The run's values are copied into the history file while the search stores
// them (store/snapshotcopy.h), each step of the copy on the copier's thread
// holding the stop signals, so that a stop never comes in the middle of a
// write to the history file. Only once the report is written and the run has
// ended well does the copy become the snapshot (Finish), after its last step,
// in one short transaction. A report that is not written, or a stop, leaves
// the snapshot before as it was.
class TReportHistory {
 public:
  TReportHistory(Tdata& d, int profileId, const std::string& catalogue)
      : d_(d), history_(d.temp), profile_(profileId), file_(HistoryFile(catalogue)) {}
  ~TReportHistory() {
    // An unfinished copy is dropped from the history file.
    THoldStopSignals hold;
    copier_.reset();
  }
  TReportHistory(const TReportHistory&) = delete;
  TReportHistory& operator=(const TReportHistory&) = delete;

  // Before the search: copies what `rows` stores while it runs, into a
  // history file that exists already. The first run of a catalogue makes it
  // only once it keeps a snapshot, so that a failed run leaves nothing
  // beside the catalogue; its copy is then made whole by Finish.
  void CopyWhileSearching(const TExportRowStream& rows) {
    if (!FileExists(file_)) return;
    THoldStopSignals hold;
    copier_ = std::make_unique<TSnapshotCopier>(d_.temp, file_, profile_, rows, [] {
      return std::shared_ptr<void>(std::make_shared<THoldStopSignals>());
    });
  }
  // After the search: the copier's thread ends; the rest is copied by Finish.
  void SearchEnded() {
    if (copier_) copier_->Stop();
  }
  // The run in `rowsTable`; `complete` when nothing of the directory is
  // missing from it (no error, no referral left unsearched).
  void Set(const TServerNodeData& server, const TProfileNodeData& profile,
           const std::string& rowsTable, bool complete) {
    columns_ = RequestedColumns(profile.att, profile.readable);
    facts_ = {server.server + ":" + std::to_string(server.port),
              profile.basedn,
              profile.scope,
              profile.filter,
              profile.att,
              SnapshotTime()};
    rowsTable_ = rowsTable;
    outcome_.keep = complete;
  }
  // Compares the run and points `shown` at the change rows; the status to
  // end with when that failed.
  std::optional<int> Compare(TRowQuery& shown) {
    std::string error;
    if (!Open(error) || !CompareRun(history_, profile_, facts_, outcome_.keep, rowsTable_, columns_,
                                    "changes", outcome_, error)) {
      LogError(error);
      return reWrite;
    }
    LogInfo(outcome_.line);
    shown = TRowQuery("changes", "dn");
    return std::nullopt;
  }
  // After the report was written and the run ended well: keeps the run as
  // the snapshot; the status to end with. A plain report stays written with
  // status 0 when the run cannot be kept, and a line says why.
  int Finish(bool changes) {
    std::string error;
    bool kept = !outcome_.keep;
    if (!kept) {
      THoldStopSignals hold;
      kept = Open(error) && (copier_ ? copier_->Keep(history_, facts_, rowsTable_, error)
                                     : history_.Keep(profile_, facts_, rowsTable_, error));
    }
    if (!changes) {
      if (!kept) LogInfo("This run could not be kept for change reports (--changes): " + error);
      return reOk;
    }
    if (!kept) {
      LogError(error);
      return reWrite;
    }
    return outcome_.counts.Any() ? reChanges : reOk;
  }

 private:
  bool Open(std::string& error) {
    if (!opened_) opened_ = history_.Open(file_, error);
    return opened_;
  }

  Tdata& d_;
  THistory history_;
  bool opened_ = false;
  int profile_;
  std::string file_;
  std::vector<TRequestedColumn> columns_;
  TSnapshotFacts facts_;
  std::string rowsTable_;
  TChangeOutcome outcome_;
  std::unique_ptr<TSnapshotCopier> copier_;  // goes before history_
};

// The profile --profile (and --server) names: its server and the profile,
// or the usage error's status when none or several match.
struct TFoundProfile {
  const TCatalogueServer* server = nullptr;
  const TNodeData* profile = nullptr;
};

std::optional<int> FindProfile(const std::vector<TCatalogueServer>& catalogue, const TOptions& o,
                               TFoundProfile& out) {
  std::vector<TFoundProfile> found;
  for (const TCatalogueServer& s : catalogue) {
    if (o.hasServer && s.server.name != o.server) continue;
    for (const TNodeData& p : s.profiles)
      if (p.name == o.profile) found.push_back({&s, &p});
  }
  if (found.empty()) {
    std::string text = "no profile named '" + o.profile + "'";
    if (o.hasServer) text += " on a server named '" + o.server + "'";
    return UsageError(text + " (see quorvel-report --list)");
  }
  if (found.size() > 1) {
    std::string text = "the profile name '" + o.profile +
                       "' is used on several servers; choose one with --server:";
    for (const TFoundProfile& f : found)
      text += "\n  " + f.server->server.name + "\t" + f.profile->name;
    return UsageError(text);
  }
  out = found[0];
  return std::nullopt;
}

// What the search left for the report and its exit status.
struct TSearchEnd {
  int code = 0;      // the search's result code
  int entries = 0;   // entries received
  std::string text;  // the server's message
  TSearchOutcome outcome;
};

// Searches the profile and stores its rows while the entries arrive; the
// status to end with when that failed (the message written).
std::optional<int> SearchAndStore(Tdata& d, TLDAPSend& ldap, const TServerNodeData& server,
                                  const TProfileNodeData& profile, TRefusingTrustPrompt& refusing,
                                  TExportRowStream& rows, TProgressLine& progress,
                                  TSearchEnd& end) {
  // No entry is kept once its row is: what the run says of the whole result
  // is counted.
  TSearchCounter entries;
  TSearchTee tee(&entries, rows.Sink().get());
  progress.Show("Searching " + server.server + "...");
  ldap.OnSearchEntry = [&progress](int received) {
    if (received % 1000 == 0) progress.Show("Entries received: " + std::to_string(received));
  };
  const TReferralFollowing follow{server, {&d, &refusing}};
  const bool delivered = SearchProfileInto(&ldap, profile, tee, &end.outcome, &follow);
  progress.Done();
  ReportReferrals(end.outcome);
  if (!delivered) return reSearch;
  // How the search ended is the driver's outcome, as the counter was told.
  end.code = entries.Outcome().Code;
  end.entries = entries.Count();
  end.text = entries.Outcome().Text;
  int lastShown = -1;
  const int n = end.entries, step = n > 100 ? n / 100 : 1;
  const bool stored = rows.Finish([&](int i, int total) {
    if (i - lastShown < step && i != total) return;
    lastShown = i;
    progress.Show("Storing entries: " + std::to_string(i) + " of " + std::to_string(total));
  });
  progress.Done();
  if (stored) return std::nullopt;
  LogError(rows.Error() + "; the report was not written (the working store is a temporary " +
           "file in " + TemporaryFolder() + "; TMPDIR chooses another folder).");
  return reWrite;
}

// The engine set up for the report, whatever its rows come from.
void ConfigureReport(TkxDBGridExport& engine, TkxExportType type, const TServerNodeData& server,
                     const TProfileNodeData& profile) {
  ConfigureReportExport(engine, AppPath);
  engine.ExportType = type;
  engine.ResultFacts = {server.server, profile.basedn, ScopeToText(profile.scope), profile.filter,
                        profile.readable};
}

// Says how writing the report went; false (after the message) when it failed.
bool ReportWritten(bool ok, const TkxRunResult& run, const std::string& output) {
  if (!ok || run.Result != TkxRunResult::roDone) {
    const std::string where = run.Destination.empty() ? output : run.Destination;
    LogError("The report could not be written to " + (where == "-" ? "standard output" : where) +
             (run.Message.empty() ? std::string() : ": " + run.Message));
    return false;
  }
  if (run.Replaced > 0)
    LogInfo(std::to_string(run.Replaced) +
            " characters could not be stored in the Excel report and were written as \"?\"; "
            "CSV or HTML keep every character.");
  if (run.LineBreakCells > 0) LogInfo(ReplacedCharactersNotice(run));
  return true;
}

// Writes the rows d.run shows as the report; false after the message.
bool WriteReport(Tdata& d, const TOptions& o, TkxExportType type, const TServerNodeData& server,
                 const TProfileNodeData& profile, TProgressLine& progress) {
  TkxDatasetRowSource source(&d.run);
  TkxDBGridExport engine;
  ConfigureReport(engine, type, server, profile);
  TReportDesktop desktop(progress);
  engine.SetDesktop(&desktop);
  engine.DBGrid = &source;
  const bool ok = o.output == "-" ? engine.ExportToStream(stdout) : engine.ExportToPath(o.output);
  progress.Done();
  return ReportWritten(ok, engine.LastRun(), o.output);
}

// A CSV report to a file, of the run's rows as they are stored, is written
// while the search runs (report/streamedreport.h); any other waits for the
// stored rows. Standard output cannot take back what it was given, so a
// report there always waits.
std::unique_ptr<TStreamedReport> StreamedReport(const TOptions& o, TkxExportType type,
                                                const TRowQuery& shown,
                                                const TServerNodeData& server,
                                                const TProfileNodeData& profile,
                                                const TExportRowStream& rows) {
  if (type != xtCSV || o.output == "-" || o.changes || !shown.Plain()) return nullptr;
  return std::make_unique<TStreamedReport>(
      rows.StoredColumns(), o.output,
      [&](TkxDBGridExport& engine) { ConfigureReport(engine, type, server, profile); });
}

// The exit status of a written report whose search did not end well.
std::optional<int> SearchStatus(const TSearchEnd& end) {
  if (end.code == 4) {
    LogError("The search was cut short by the server's size limit; the report holds the " +
             std::to_string(end.entries) + " entries received. Server message: " + end.text);
    return rePartial;
  }
  if (end.code != 0) {
    LogError("Search complete but an error was encountered: ErrorCode: " +
             std::to_string(end.code) + " ErrorDesc: " + end.text);
    return reSearch;
  }
  if (end.outcome.Incomplete()) {
    LogError(
        "Some of the places the directory referred to could not be searched; the report "
        "holds the " +
        std::to_string(end.entries) + " entries found.");
    return rePartial;
  }
  return std::nullopt;
}

int RunProfile(Tdata& d, const TOptions& o, TkxExportType type, const std::string& catalogueFile) {
  const std::vector<TCatalogueServer> catalogue = ReadCatalogue(d);
  TFoundProfile found;
  if (auto status = FindProfile(catalogue, o, found)) return *status;
  TServerNodeData server = *found.server->server.server;
  TProfileNodeData profile = *found.profile->profile;
  if (o.hasValues) profile.readable = o.values == "readable";
  // The report's columns and order are known before anything is asked of
  // the server: a column the profile does not have is a usage error.
  TRowQuery shown("export");
  if (auto unknown = ShapeReport(o, profile, shown)) {
    std::string names;
    for (const std::string& c : RunColumns(profile.att))
      names += (names.empty() ? "" : ", ") + (c == shown.Key ? std::string("dn") : c);
    return UsageError(*unknown + " (the profile's columns: " + names + ")");
  }
  if (o.hasReferrals) server.referrals = o.referrals;
  if (const int rc = ResolvePassword(server, found.server->server.name, o.passwordFile); rc != reOk)
    return rc;
  // The password serves the bind and the referrals followed with the same
  // sign-in; it is wiped when the run ends, however it ends.
  struct TWipe {
    std::string& pwd;
    ~TWipe() { keyring::Wipe(pwd); }
  } wipe{server.pwd};

  TProgressLine progress;
  progress.Show("Connecting to " + server.server + "...");
  // Nobody is asked about a certificate here: one that is not trusted ends
  // the run, and the message says how to trust it.
  TRefusingTrustPrompt refusing;
  std::unique_ptr<TLDAPSend> ldap = ConnectServer(server, {&d, &refusing});
  progress.Done();
  if (!ldap) {
    if (refusing.last)
      LogError(UntrustedCertificateMessage(*refusing.last, found.server->server.name, o.catalogue));
    return reConnect;
  }
  TExportRowStream rows(d, profile.att, profile.readable);
  // The private store is this run's alone: nobody waits on its write lock.
  rows.SetBatchRows(kPrivateBatchRows);
  std::unique_ptr<TStreamedReport> streamed = StreamedReport(o, type, shown, server, profile, rows);
  if (streamed) rows.SetRowTap(streamed.get());
  TReportHistory history(d, found.profile->id, catalogueFile);
  history.CopyWhileSearching(rows);
  TSearchEnd end;
  const std::optional<int> failed =
      SearchAndStore(d, *ldap, server, profile, refusing, rows, progress, end);
  history.SearchEnded();
  if (failed) return *failed;
  // The session goes before the rows are read back.
  ldap.reset();
  history.Set(server, profile, rows.RowsTable(), end.code == 0 && end.outcome.NotSearched.empty());
  if (o.changes)
    if (auto status = history.Compare(shown)) return *status;
  if (streamed && streamed->Finish()) {
    if (!ReportWritten(true, streamed->Result(), o.output)) return reWrite;
  } else {
    std::string error;
    if (!OpenShownRows(d, shown, &error)) {
      LogError("The rows could not be read back from the working store: " + error);
      return reWrite;
    }
    if (!WriteReport(d, o, type, server, profile, progress)) return reWrite;
  }
  if (auto status = SearchStatus(end)) return *status;
  return history.Finish(o.changes);
}

}  // namespace

// What is wrong with the options of a profile's run, if anything; `type`
// is the format asked for.
std::optional<std::string> RunUsageError(const TOptions& o, std::optional<TkxExportType>& type) {
  if (!o.hasProfile) return "say which profile to run with --profile NAME";
  if (!o.hasFormat) return "say which report format to write with --format FORMAT";
  if (!o.hasOutput) return "say where the report goes with --output FILE";
  type = FormatByName(o.format);
  if (!type)
    return "unknown format '" + o.format +
           "' (use ldif, ldif2849, jsonl, html, xls, xlsx, doc, txt, csv, tab, rtf, "
           "dif or slk)";
  if (o.output.empty()) return "--output needs a file name (or - for standard output)";
  if (o.hasValues && o.values != "readable" && o.values != "raw")
    return "unknown --values '" + o.values + "' (use readable or raw)";
  if (o.hasView && o.view != "none") return "unknown --view '" + o.view + "' (use none)";
  if (o.hasReferrals && o.referrals != kReferralsReport && o.referrals != kReferralsFollow)
    return "unknown --referrals '" + o.referrals + "' (use report or follow)";
  if (o.output == "-" && (*type == xtExcel || *type == xtXLSX))
    return "an Excel report cannot go to standard output; give a file name";
  if (o.changes && (o.hasSort || o.hasColumns))
    return "--changes writes the change report's own columns in their own order; "
           "leave out --sort and --columns";
  if (o.changes && (*type == xtLDIF2849 || *type == xtJSONL))
    return "a change report is rows of changes, not entries: LDIF (RFC 2849) and "
           "JSON Lines cannot hold it; choose another format";
  return std::nullopt;
}

// What is wrong with the options, if anything; `type` is the format of a
// profile's run.
std::optional<std::string> OptionsError(const TOptions& o, std::optional<TkxExportType>& type) {
  const bool certificate = o.showCertificate || o.hasTrust;
  if (o.hasPasswordFile && (certificate || o.list || o.movePasswords))
    return "--password-file goes with --profile, --schema and --check only";
  if (o.hasPasswordFile && o.passwordFile.empty()) return "--password-file needs a file name";
  if (o.movePasswords) {
    if (certificate || o.list || o.hasProfile || o.hasFormat || o.hasOutput || o.hasServer ||
        o.hasValues || o.hasSort || o.hasColumns || o.hasView || o.schema || o.check || o.changes)
      return "--move-passwords-to-keyring takes no other option than --catalogue";
  } else if (auto error = SchemaUsageError(o)) {
    return *error;
  } else if (o.schema || o.check) {
    // their options were checked by SchemaUsageError
  } else if (certificate) {
    if (o.showCertificate && o.hasTrust)
      return "choose one of --show-certificate and --trust-certificate";
    if (!o.hasServer) return "say which server with --server NAME";
    if (o.list || o.hasProfile || o.hasFormat || o.hasOutput || o.hasValues || o.hasSort ||
        o.hasColumns || o.hasView || o.hasReferrals || o.changes)
      return "--show-certificate and --trust-certificate take only --server and "
             "--catalogue";
  } else if (o.list) {
    if (o.hasProfile || o.hasFormat || o.hasOutput || o.hasServer || o.hasValues || o.hasSort ||
        o.hasColumns || o.hasView || o.hasReferrals || o.changes)
      return "--list takes no other option than --catalogue";
  } else {
    return RunUsageError(o, type);
  }
  return std::nullopt;
}

int RunReportCommand(const std::vector<std::string>& args) {
  TOptions o;
  if (auto error = Parse(args, o)) return UsageError(*error);
  if (o.help) {
    std::fputs(kUsage, stdout);
    return reOk;
  }
  if (o.version) {
    std::printf("quorvel-report %s\n", GetVersionText().c_str());
    return reOk;
  }
  std::optional<TkxExportType> type;
  if (auto error = OptionsError(o, type)) return UsageError(*error);

  TStderrSink sink;
  TMessageSink* previous = SetMessageSink(&sink);
  struct Restore {
    TMessageSink* previous;
    ~Restore() { SetMessageSink(previous); }
  } restore{previous};

  AppPath = ExecutableFolder();
  if (o.catalogue.empty()) {
    // The same rule as the windowed program: beside the program, or the
    // user's data folder for an installed one.
    Files = LocateFiles(AppPath);
    if (!Files.error.empty()) {
      LogError(Files.error);
      return reUsage;
    }
  }
  const std::string catalogue = o.catalogue.empty() ? Files.catalogue : o.catalogue;
  if (::access(catalogue.c_str(), R_OK) != 0)
    return UsageError("cannot read the catalogue " + catalogue + ": " + std::strerror(errno));

  // Every connection of this program is used by one thread at a time: the
  // thread that copies the run into the history file has a connection of its
  // own.
  UseEachConnectionOnOneThreadAtATime();
  // From here on files are made: a stop signal removes them.
  TStopSignals stop;
  TPrivateWorkingStore working;
  if (working.File().empty()) {
    LogError(std::string("Cannot create a private working store in the temporary folder: ") +
             std::strerror(errno));
    return reWrite;
  }
  Tdata d;
  if (!InitDatabases(d, catalogue, working.File())) {
    return UsageError("cannot open the catalogue " + catalogue + ": " + d.LastError());
  }
  // No other program reads this store and it goes at the end of the run, so
  // it needs no write-ahead log: the rows are written once instead of into
  // the log and again into the file. A transaction still rolls back (a full
  // disk), from a journal kept in memory. The report reads the rows in order
  // once the search has ended and left the processor free: the engine may
  // sort them with a second thread. Should any setting fail, the run is
  // only slower.
  try {
    d.temp.ExecDirect("PRAGMA journal_mode=MEMORY");
    d.temp.ExecDirect("PRAGMA threads=1");
    // Pages of 16 KiB: a quarter of the reads and writes for the same rows,
    // and fewer pages for the engine to find its way through. The store is
    // still empty, so making it anew with them costs nothing.
    d.temp.ExecDirect("PRAGMA page_size=16384; VACUUM");
  } catch (const std::exception&) {
  }
  if (o.movePasswords) return MovePasswordsCommand(d, catalogue);
  if (o.schema) return SchemaCommand(d, o.server, {o.catalogue, o.passwordFile});
  if (o.check)
    return CheckCommand(d, o.profile, o.hasServer ? &o.server : nullptr,
                        {o.catalogue, o.passwordFile});
  if (o.showCertificate) return ShowCertificateCommand(d, o.server);
  if (o.hasTrust) return TrustCertificateCommand(d, o.server, o.trustFingerprint);
  return o.list ? ListProfiles(d) : RunProfile(d, o, *type, catalogue);
}

}  // namespace quorvel
