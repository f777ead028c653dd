// quorvel-report: runs a stored search profile without a desktop and writes its
// rows as a report, through the same connection, search, working table and
// export engine as the windowed program's "Run" and "Export Report".
#pragma once

#include <string>
#include <vector>

namespace quorvel {

// Exit statuses of the runner.
enum TReportExit {
  reOk = 0,       // the report was written
  reUsage = 1,    // bad arguments, unknown or ambiguous profile, unreadable catalogue
  reConnect = 2,  // the server could not be reached or refused the bind
  rePartial = 3,  // the server's size limit cut the search; the rows received were written
  reSearch = 4,   // the search failed
  reWrite = 5,    // the report could not be written
  reChanges = 6,  // --changes: the change report was written and lists changes
};

// Runs the command line (without the program name); messages go to stderr,
// listings, help and "-" reports to stdout.
int RunReportCommand(const std::vector<std::string>& args);

}  // namespace quorvel
