#include "store/fileinfo.h"

#include <elf.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <vector>

namespace {

const char* const kNotAvailable = "<info not available>";

bool ReadAt(std::ifstream& in, uint64_t offset, void* buf, size_t size) {
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
  if (!in) return false;
  in.read(static_cast<char*>(buf), static_cast<std::streamsize>(size));
  return static_cast<size_t>(in.gcount()) == size;
}

// The content of the named section of a little-endian ELF file, if present.
template <class Ehdr, class Shdr>
std::optional<std::string> FindSection(std::ifstream& in, const std::string& name) {
  Ehdr eh;
  if (!ReadAt(in, 0, &eh, sizeof eh)) return std::nullopt;
  if (eh.e_shoff == 0 || eh.e_shentsize < sizeof(Shdr) || eh.e_shnum == 0) return std::nullopt;
  std::vector<Shdr> sections(eh.e_shnum);
  for (size_t i = 0; i < sections.size(); ++i)
    if (!ReadAt(in, eh.e_shoff + i * eh.e_shentsize, &sections[i], sizeof(Shdr)))
      return std::nullopt;
  size_t strndx = eh.e_shstrndx;
  if (strndx == SHN_XINDEX) strndx = sections[0].sh_link;
  if (strndx >= sections.size()) return std::nullopt;
  const Shdr& strtab = sections[strndx];
  constexpr uint64_t kLimit = uint64_t{16} << 20;
  if (strtab.sh_size > kLimit) return std::nullopt;
  std::string names(strtab.sh_size, '\0');
  if (!ReadAt(in, strtab.sh_offset, names.data(), names.size())) return std::nullopt;
  for (const Shdr& s : sections) {
    if (s.sh_name >= names.size() || s.sh_type == SHT_NOBITS) continue;
    if (std::strcmp(names.c_str() + s.sh_name, name.c_str()) != 0) continue;
    if (s.sh_size > kLimit) return std::nullopt;
    std::string content(s.sh_size, '\0');
    if (!ReadAt(in, s.sh_offset, content.data(), content.size())) return std::nullopt;
    return content;
  }
  return std::nullopt;
}

std::optional<std::string> ReadVersionSection(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  unsigned char ident[EI_NIDENT];
  if (!ReadAt(in, 0, ident, sizeof ident) || std::memcmp(ident, ELFMAG, SELFMAG) != 0 ||
      ident[EI_DATA] != ELFDATA2LSB)
    return std::nullopt;
  if (ident[EI_CLASS] == ELFCLASS64)
    return FindSection<Elf64_Ehdr, Elf64_Shdr>(in, kVersionSectionName);
  if (ident[EI_CLASS] == ELFCLASS32)
    return FindSection<Elf32_Ehdr, Elf32_Shdr>(in, kVersionSectionName);
  return std::nullopt;
}

// A path of the block with every run of backslashes as one separator and
// letters in lower case.
std::string NormalizePath(const std::string& path) {
  std::string r;
  for (char c : path) {
    if (c == '\\' && !r.empty() && r.back() == '\\') continue;
    r += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return r;
}

// The block is a run of zero-terminated texts: path, value, path, value, ...
class VersionBlock {
 public:
  explicit VersionBlock(const std::string& content) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < content.size()) {
      size_t end = content.find('\0', start);
      if (end == std::string::npos) end = content.size();
      parts.push_back(content.substr(start, end - start));
      start = end + 1;
    }
    for (size_t i = 0; i + 1 < parts.size(); i += 2)
      values_[NormalizePath(parts[i])] = parts[i + 1];
  }
  std::string Query(const std::string& path) const {
    auto it = values_.find(NormalizePath(path));
    return it == values_.end() ? std::string() : it->second;
  }

 private:
  std::map<std::string, std::string> values_;
};

}  // namespace

TFileInfo::TFileInfo() {
  GetInfo("/proc/self/exe");
}

void TFileInfo::GetInfo(const std::string& file) {
  std::string* const texts[] = {&CompanyName,    &FileDescription, &FileVersion,      &Internalname,
                                &LegalCopyright, &LegalTradeMarks, &OriginalFilename, &ProductName,
                                &ProductVersion, &Comments};
  static const char* const keys[] = {
      "CompanyName",     "FileDescription",  "FileVersion", "InternalName",   "LegalCopyright",
      "LegalTradeMarks", "OriginalFilename", "ProductName", "ProductVersion", "Comments"};
  std::string* const parts[] = {&MajorVersion, &MinorVersion, &Release, &Build};

  const std::optional<std::string> content = ReadVersionSection(file);
  if (!content || content->empty()) {
    for (std::string* t : texts) *t = kNotAvailable;
    for (std::string* p : parts) *p = kNotAvailable;
    return;
  }
  const VersionBlock block(*content);
  // The translation entry: language id and code page, four hex digits each.
  const std::string translation = block.Query("\\\\VarFileInfo\\\\Translation");
  unsigned lang = 0, codepage = 0;
  if (translation.size() == 8) std::sscanf(translation.c_str(), "%4x%4x", &lang, &codepage);
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "\\\\StringFileInfo\\\\%.4x%.4x\\\\", lang & 0xffffu,
                codepage & 0xffffu);
  for (size_t i = 0; i < std::size(keys); ++i)
    *texts[i] = block.Query(prefix + std::string(keys[i]));

  quorvel::SplitFileVersion(FileVersion, MajorVersion, MinorVersion, Release, Build);
}

namespace quorvel {

void SplitFileVersion(const std::string& v, std::string& major, std::string& minor,
                      std::string& release, std::string& build) {
  const char sep = v.find('.') != std::string::npos   ? '.'
                   : v.find(',') != std::string::npos ? ','
                                                      : '\0';
  if (v.empty() || !sep) {
    major = minor = release = build = kNotAvailable;
    return;
  }
  size_t p = v.find(sep);
  major = v.substr(0, p);
  std::string rest = v.substr(p + 1);
  p = rest.find(sep);
  if (p == std::string::npos) {
    minor.clear();
  } else {
    minor = rest.substr(0, p);
    rest = rest.substr(p + 1);
  }
  p = rest.find(sep);
  if (p == std::string::npos) {
    release.clear();
    build = rest;
  } else {
    release = rest.substr(0, p);
    build = rest.substr(p + 1);
  }
}

}  // namespace quorvel
