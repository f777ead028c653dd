#include "app/version.h"

#include "store/fileinfo.h"
#include "store/shared.h"

namespace quorvel {

std::string SplashVersionText() {
  TFileInfo info;
  return "Version " + info.MajorVersion + "." + info.MinorVersion + "." + info.Release + " Build " +
         info.Build;
}

std::string MainCaption() {
  return "Quorvel by Ferrowin (Version " + GetVersionText() + ")";
}

}  // namespace quorvel
