// Reads the version block that the build embeds in every executable (an ELF
// section of our own) and exposes its text entries and the four parts of the
// file version. A file without the block, or not ELF, gives
// "<info not available>" in every property.
#pragma once

#include <string>

class TFileInfo {
 public:
  // Reads the block of the running executable.
  TFileInfo();
  // Reads the block of any file and overwrites all fourteen properties.
  void GetInfo(const std::string& file);

  std::string CompanyName;
  std::string FileDescription;
  std::string FileVersion;
  std::string Internalname;
  std::string LegalCopyright;
  std::string LegalTradeMarks;
  std::string OriginalFilename;
  std::string ProductName;
  std::string ProductVersion;
  std::string Comments;
  std::string MajorVersion;
  std::string MinorVersion;
  std::string Release;
  std::string Build;
};

namespace quorvel {
// Splits a file version at "." (or "," when there is no ".") into its four
// parts, blanks kept; "<info not available>" in all four when it has neither.
void SplitFileVersion(const std::string& version, std::string& major, std::string& minor,
                      std::string& release, std::string& build);
}  // namespace quorvel

// The name of the ELF section holding the version block.
inline constexpr const char* kVersionSectionName = ".quorvel_version";
