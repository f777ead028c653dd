#include <string>
#include <vector>

#include "report/reportrun.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return quorvel::RunReportCommand(args);
}
