// The text collation and case folding of sorted and filtered results.
#include "sqlstore/collation.h"

#include <locale.h>
#include <wchar.h>
#include <wctype.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "sqlstore/engine.h"

namespace quorvel {
namespace {

// The locale of the environment, read once. Its collation orders the texts;
// its case mapping folds them, unless it maps no letter beyond ASCII (the C
// locale), in which case the C.UTF-8 mapping folds them.
locale_t MakeTextLocale() {
  locale_t l = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
  if (!l) l = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  if (l && towlower_l(0xC4, l) != 0xE4) {
    if (locale_t u = newlocale(LC_CTYPE_MASK, "C.UTF-8", l)) l = u;
  }
  return l;
}

// The collation's name as the environment gives it (LC_ALL, LC_COLLATE,
// LANG, in that order, as the C library resolves ""). The C and POSIX
// locales and C.UTF-8 order texts by code point, as wcscmp does.
bool CodePointCollation() {
  const char* name = nullptr;
  for (const char* var : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) {
      name = v;
      break;
    }
  }
  if (!name) return true;
  const std::string n(name);
  return n == "C" || n == "POSIX" || n.rfind("C.", 0) == 0;
}

// What folding and comparing need of the locale: the locale itself, whether
// its order is that of the code points, and the folded form of each ASCII
// character (a locale may fold one beyond ASCII).
struct TTextLocale {
  locale_t loc = static_cast<locale_t>(0);
  bool codePoints = true;
  wchar_t ascii[128] = {};
  // Every ASCII character folds to one: asciiBytes holds the folded bytes.
  bool asciiClosed = true;
  char asciiBytes[128] = {};
};

const TTextLocale& Text() {
  static const TTextLocale text = [] {
    TTextLocale t;
    t.loc = MakeTextLocale();
    // Without a locale every comparison is wcscmp's, by code point.
    t.codePoints = !t.loc || CodePointCollation();
    for (int c = 0; c < 128; ++c) {
      t.ascii[c] = t.loc ? static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), t.loc))
                         : static_cast<wchar_t>(c);
      if (t.ascii[c] >= 0x80) t.asciiClosed = false;
      t.asciiBytes[c] = static_cast<char>(t.ascii[c] & 0x7F);
    }
    return t;
  }();
  return text;
}

// The code point that starts at s[i]; moves i past it. A byte that does not
// start a valid sequence stands for itself.
wchar_t DecodeOne(std::string_view s, size_t& i) {
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
      i += extra + 1;
      return static_cast<wchar_t>(cp);
    }
  }
  ++i;
  return static_cast<wchar_t>(b);
}

// The folded code point that starts at s[i]; moves i past it.
wchar_t FoldedAt(const TTextLocale& t, std::string_view s, size_t& i) {
  const auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) {
    ++i;
    return t.ascii[b];
  }
  const wchar_t c = DecodeOne(s, i);
  return t.loc ? static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), t.loc)) : c;
}

void FoldInto(std::string_view s, std::wstring& out) {
  out.clear();
  const TTextLocale& t = Text();
  for (size_t i = 0; i < s.size();) out.push_back(FoldedAt(t, s, i));
}

// Folded texts compared by code point, as wcscmp compares them: up to the
// first difference, and a NUL ends a text as it ends a wide string.
int CompareCodePoints(const TTextLocale& t, std::string_view a, std::string_view b) {
  size_t i = 0;
  // The common ASCII start, byte for byte (a NUL is left to the loop below).
  if (t.asciiClosed) {
    const size_t n = std::min(a.size(), b.size());
    for (; i < n; ++i) {
      const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
      if ((x | y) >= 0x80 || x == 0 || y == 0) break;
      const char fx = t.asciiBytes[x], fy = t.asciiBytes[y];
      if (fx != fy) return fx < fy ? -1 : 1;
    }
  }
  size_t j = i;
  for (;;) {
    const wchar_t ca = i < a.size() ? FoldedAt(t, a, i) : L'\0';
    const wchar_t cb = j < b.size() ? FoldedAt(t, b, j) : L'\0';
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == L'\0') return 0;
  }
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
  void (*result_int)(void*, int);
};
FoldEntries foldEntries{};

void Fold(void* context, int argc, void** argv) {
  const FoldEntries api = foldEntries;
  if (argc != 1) return api.result_null(context);
  const unsigned char* p = api.value_text(argv[0]);
  if (!p) return api.result_null(context);
  const int n = api.value_bytes(argv[0]);
  thread_local std::string folded;
  FoldTextInto(std::string_view(reinterpret_cast<const char*>(p), static_cast<size_t>(n)), folded);
  api.result_text(context, folded.data(), static_cast<int>(folded.size()), EngineTransient());
}

void Contains(void* context, int argc, void** argv) {
  const FoldEntries api = foldEntries;
  if (argc != 2) return api.result_null(context);
  const unsigned char* p = api.value_text(argv[0]);
  const unsigned char* q = api.value_text(argv[1]);
  if (!p || !q) return api.result_int(context, 0);
  const std::string_view text(reinterpret_cast<const char*>(p),
                              static_cast<size_t>(api.value_bytes(argv[0])));
  const std::string_view needle(reinterpret_cast<const char*>(q),
                                static_cast<size_t>(api.value_bytes(argv[1])));
  thread_local std::string folded;
  FoldTextInto(text, folded);
  api.result_int(context, std::string_view(folded).find(needle) != std::string_view::npos);
}

}  // namespace

int CompareText(std::string_view a, std::string_view b) {
  const TTextLocale& t = Text();
  if (t.codePoints) return CompareCodePoints(t, a, b);
  thread_local std::wstring wa, wb;
  FoldInto(a, wa);
  FoldInto(b, wb);
  const int r = wcscoll_l(wa.c_str(), wb.c_str(), t.loc);
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

std::string FoldText(std::string_view text) {
  std::string out;
  FoldTextInto(text, out);
  return out;
}

void FoldTextInto(std::string_view text, std::string& out) {
  const TTextLocale& t = Text();
  // The ASCII start of the text (most directory values are ASCII whole)
  // is folded byte for byte; the rest code point by code point.
  size_t i = 0;
  out.resize(text.size());
  if (t.asciiClosed)
    for (; i < text.size() && static_cast<unsigned char>(text[i]) < 0x80; ++i)
      out[i] = t.asciiBytes[static_cast<unsigned char>(text[i])];
  out.resize(i);
  while (i < text.size()) {
    const wchar_t c = FoldedAt(t, text, i);
    if (c < 0x80)
      out += static_cast<char>(c);
    else
      EncodeOne(static_cast<char32_t>(c), out);
  }
}

bool RegisterTextFunctions(const EngineApi& api, void* handle) {
  foldEntries = {api.value_text, api.value_bytes, api.result_text, api.result_null, api.result_int};
  const bool collation = api.create_collation_v2(handle, kTextCollation, kEngineUtf8, nullptr,
                                                 Collate, nullptr) == kEngineOk;
  const bool fold =
      api.create_function_v2(handle, kFoldFunction, 1, kEngineUtf8 | kEngineDeterministic, nullptr,
                             Fold, nullptr, nullptr, nullptr) == kEngineOk;
  const bool contains =
      api.create_function_v2(handle, kContainsFunction, 2, kEngineUtf8 | kEngineDeterministic,
                             nullptr, Contains, nullptr, nullptr, nullptr) == kEngineOk;
  return collation && fold && contains;
}

}  // namespace quorvel
