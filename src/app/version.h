// The version texts the windows show, read from the program's version block.
#pragma once

#include <string>

namespace quorvel {

// "Version " + major + "." + minor + "." + release + " Build " + build
std::string SplashVersionText();
// "Quorvel by Ferrowin (Version " + GetVersionText() + ")"
std::string MainCaption();

}  // namespace quorvel
