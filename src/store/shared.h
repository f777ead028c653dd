// Conversions between the stored and displayed forms of the scope and the
// SSL flag, and the program's version text.
#pragma once

#include <string>

// 0 "Base Object", 1 "Single Container", 2 "Sub Containers"; any other
// number leaves out unchanged.
void ScopeToText(int scope, std::string& out);
std::string ScopeToText(int scope);
// 0, 1 or 2 for the three names (exact, case-sensitive), otherwise -1.
int TextToScope(const std::string& text);
std::string BoolToYN(bool value);
// true only for exactly "Y".
bool YNToBool(const std::string& text);
// major + "." + minor + " Build " + build of the running executable.
std::string GetVersionText();
