// The text collation and case folding of sorted and filtered results.
#include "sqlstore/collation.h"

#include <locale.h>
#include <wchar.h>
#include <wctype.h>

#include <string>

#include "sqlstore/engine.h"

namespace quorvel {
namespace {

// The locale of the environment, read once. Its collation orders the texts;
// its case mapping folds them, unless it maps no letter beyond ASCII (the C
// locale), in which case the C.UTF-8 mapping folds them.
locale_t TextLocale() {
  static const locale_t loc = [] {
    locale_t l = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
    if (!l) l = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    if (l && towlower_l(0xC4, l) != 0xE4) {
      if (locale_t u = newlocale(LC_CTYPE_MASK, "C.UTF-8", l)) l = u;
    }
    return l;
  }();
  return loc;
}

// Appends the code point that starts at s[i] and moves i past it; a byte
// that does not start a valid sequence stands for itself.
void DecodeOne(std::string_view s, size_t& i, std::wstring& out) {
  const auto b = static_cast<unsigned char>(s[i]);
  int extra = b >= 0xF0 && b < 0xF5 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 && b < 0xE0 ? 1 : 0;
  if (b < 0x80 || b >= 0xF5) extra = 0;
  char32_t cp = extra == 3 ? b & 0x07 : extra == 2 ? b & 0x0F : extra == 1 ? b & 0x1F : b;
  if (extra > 0 && i + extra < s.size()) {
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (ok && cp <= 0x10FFFF && !(cp >= 0xD800 && cp < 0xE000)) {
      out.push_back(static_cast<wchar_t>(cp));
      i += extra + 1;
      return;
    }
  }
  out.push_back(static_cast<wchar_t>(b));
  ++i;
}

void FoldInto(std::string_view s, std::wstring& out) {
  out.clear();
  const locale_t loc = TextLocale();
  for (size_t i = 0; i < s.size();) DecodeOne(s, i, out);
  if (loc)
    for (wchar_t& c : out) c = static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), loc));
}

void EncodeOne(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

int Collate(void*, int na, const void* a, int nb, const void* b) {
  return CompareText(std::string_view(static_cast<const char*>(a), static_cast<size_t>(na)),
                     std::string_view(static_cast<const char*>(b), static_cast<size_t>(nb)));
}

// The entry points the fold function answers through, copied at each
// registration. Every connection loads the same library file, which stays
// loaded (at the same addresses) while any connection is open, and only an
// open connection calls the function.
struct FoldEntries {
  const unsigned char* (*value_text)(void*);
  int (*value_bytes)(void*);
  void (*result_text)(void*, const char*, int, EngineDestructor);
  void (*result_null)(void*);
};
FoldEntries foldEntries{};

void Fold(void* context, int argc, void** argv) {
  const FoldEntries api = foldEntries;
  if (argc != 1) return api.result_null(context);
  const unsigned char* p = api.value_text(argv[0]);
  if (!p) return api.result_null(context);
  const int n = api.value_bytes(argv[0]);
  const std::string folded =
      FoldText(std::string_view(reinterpret_cast<const char*>(p), static_cast<size_t>(n)));
  api.result_text(context, folded.data(), static_cast<int>(folded.size()), EngineTransient());
}

}  // namespace

int CompareText(std::string_view a, std::string_view b) {
  thread_local std::wstring wa, wb;
  FoldInto(a, wa);
  FoldInto(b, wb);
  const locale_t loc = TextLocale();
  const int r = loc ? wcscoll_l(wa.c_str(), wb.c_str(), loc) : wcscmp(wa.c_str(), wb.c_str());
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

std::string FoldText(std::string_view text) {
  std::wstring w;
  FoldInto(text, w);
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : w) EncodeOne(static_cast<char32_t>(c), out);
  return out;
}

bool RegisterTextFunctions(const EngineApi& api, void* handle) {
  foldEntries = {api.value_text, api.value_bytes, api.result_text, api.result_null};
  const bool collation = api.create_collation_v2(handle, kTextCollation, kEngineUtf8, nullptr,
                                                 Collate, nullptr) == kEngineOk;
  const bool fold =
      api.create_function_v2(handle, kFoldFunction, 1, kEngineUtf8 | kEngineDeterministic, nullptr,
                             Fold, nullptr, nullptr, nullptr) == kEngineOk;
  return collation && fold;
}

}  // namespace quorvel
