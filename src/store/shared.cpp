#include "store/shared.h"

#include "store/fileinfo.h"

namespace {
const char* const kScopeNames[] = {"Base Object", "Single Container", "Sub Containers"};
}

void ScopeToText(int scope, std::string& out) {
  if (scope >= 0 && scope <= 2) out = kScopeNames[scope];
}

std::string ScopeToText(int scope) {
  std::string out;
  ScopeToText(scope, out);
  return out;
}

int TextToScope(const std::string& text) {
  for (int i = 0; i <= 2; ++i)
    if (text == kScopeNames[i]) return i;
  return -1;
}

std::string BoolToYN(bool value) {
  return value ? "Y" : "N";
}

bool YNToBool(const std::string& text) {
  return text == "Y";
}

std::string GetVersionText() {
  TFileInfo info;
  return info.MajorVersion + "." + info.MinorVersion + " Build " + info.Build;
}
