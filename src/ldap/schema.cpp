// Parsing of attribute type and object class descriptions, and the schema's
// look-ups (names, inherited syntaxes, class attributes, near names).
#include "ldap/schema.h"

#include <algorithm>
#include <set>

namespace quorvel {

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool LessNoCase(std::string_view a, std::string_view b) {
  const std::string la = LowerAscii(a), lb = LowerAscii(b);
  if (la != lb) return la < lb;
  return a < b;
}

namespace {

enum class TTok { End, Open, Close, Dollar, Quoted, Word };

struct TToken {
  TTok kind = TTok::End;
  std::string text;
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Splits a description into tokens; a quoted string keeps its decoded text.
class TLexer {
 public:
  explicit TLexer(std::string_view text) : text_(text) {}

  // False at an unterminated quoted string.
  bool Next(TToken& tok) {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
    tok.text.clear();
    if (pos_ >= text_.size()) {
      tok.kind = TTok::End;
      return true;
    }
    const char c = text_[pos_];
    if (c == '(' || c == ')' || c == '$') {
      tok.kind = c == '(' ? TTok::Open : c == ')' ? TTok::Close : TTok::Dollar;
      ++pos_;
      return true;
    }
    if (c == '\'') return Quoted(tok);
    tok.kind = TTok::Word;
    while (pos_ < text_.size() && !IsBlank(text_[pos_]) && text_[pos_] != '(' &&
           text_[pos_] != ')' && text_[pos_] != '$' && text_[pos_] != '\'')
      tok.text.push_back(text_[pos_++]);
    return true;
  }

 private:
  bool Quoted(TToken& tok) {
    tok.kind = TTok::Quoted;
    ++pos_;
    while (pos_ < text_.size() && text_[pos_] != '\'') {
      if (text_[pos_] == '\\' && text_.size() - pos_ >= 3) {
        const std::string esc = LowerAscii(text_.substr(pos_ + 1, 2));
        if (esc == "27" || esc == "5c") {
          tok.text.push_back(esc == "27" ? '\'' : '\\');
          pos_ += 3;
          continue;
        }
      }
      tok.text.push_back(text_[pos_++]);
    }
    if (pos_ >= text_.size()) return false;
    ++pos_;
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

// A keyword's value: one word or quoted string, or a parenthesised list of
// them (separated by blanks or "$").
struct TValue {
  std::vector<std::string> items;
  bool present = false;
};

bool IsFlag(const std::string& keyword) {
  static const char* const kFlags[] = {
      "OBSOLETE",   "SINGLE-VALUE", "COLLECTIVE",          "ABSTRACT",
      "STRUCTURAL", "AUXILIARY",    "NO-USER-MODIFICATION"};
  for (const char* f : kFlags)
    if (keyword == f) return true;
  return false;
}

// The keywords of one description after its OID: keyword (upper case) to
// value. False when the text is not a description.
bool ReadFields(std::string_view text, std::string& oid, std::map<std::string, TValue>& fields) {
  TLexer lex(text);
  TToken tok;
  if (!lex.Next(tok) || tok.kind != TTok::Open) return false;
  if (!lex.Next(tok) || (tok.kind != TTok::Word && tok.kind != TTok::Quoted) || tok.text.empty())
    return false;
  oid = tok.text;
  if (!lex.Next(tok)) return false;
  while (tok.kind != TTok::Close) {
    if (tok.kind != TTok::Word) return false;
    const std::string keyword = [&] {
      std::string k = tok.text;
      for (char& c : k)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      return k;
    }();
    TValue value;
    value.present = true;
    if (!lex.Next(tok)) return false;
    if (!IsFlag(keyword)) {
      if (tok.kind == TTok::Open) {
        for (;;) {
          if (!lex.Next(tok)) return false;
          if (tok.kind == TTok::Close) break;
          if (tok.kind == TTok::Dollar) continue;
          if (tok.kind != TTok::Word && tok.kind != TTok::Quoted) return false;
          value.items.push_back(tok.text);
        }
        if (!lex.Next(tok)) return false;
      } else if (tok.kind == TTok::Quoted ||
                 (tok.kind == TTok::Word && keyword.rfind("X-", 0) != 0)) {
        value.items.push_back(tok.text);
        if (!lex.Next(tok)) return false;
      } else if (tok.kind == TTok::Word) {
        // An unknown X- keyword without a value: the word is the next keyword.
      } else if (tok.kind != TTok::Close) {
        return false;
      }
    }
    fields.emplace(keyword, std::move(value));
  }
  TToken after;
  return lex.Next(after) && after.kind == TTok::End;
}

std::string First(const std::map<std::string, TValue>& fields, const char* keyword) {
  auto it = fields.find(keyword);
  if (it == fields.end() || it->second.items.empty()) return std::string();
  return it->second.items.front();
}

std::vector<std::string> Items(const std::map<std::string, TValue>& fields, const char* keyword) {
  auto it = fields.find(keyword);
  return it == fields.end() ? std::vector<std::string>() : it->second.items;
}

bool Has(const std::map<std::string, TValue>& fields, const char* keyword) {
  return fields.count(keyword) != 0;
}

// "1.2.3{64}" -> "1.2.3".
std::string WithoutLength(std::string oid) {
  const std::size_t brace = oid.find('{');
  if (brace != std::string::npos) oid.erase(brace);
  return oid;
}

// Restricted Damerau-Levenshtein distance, case-blind.
std::size_t EditDistance(const std::string& a, const std::string& b) {
  const std::size_t n = a.size(), m = b.size();
  std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
  for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= n; ++i)
    for (std::size_t j = 1; j <= m; ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[n][m];
}

void AddOnce(std::vector<std::string>& list, std::set<std::string>& seen, const std::string& name) {
  if (seen.insert(LowerAscii(name)).second) list.push_back(name);
}

}  // namespace

bool ParseAttributeType(std::string_view text, TAttributeType& out) {
  std::map<std::string, TValue> fields;
  out = TAttributeType();
  if (!ReadFields(text, out.oid, fields)) return false;
  out.names = Items(fields, "NAME");
  out.desc = First(fields, "DESC");
  out.sup = First(fields, "SUP");
  out.syntax = WithoutLength(First(fields, "SYNTAX"));
  out.singleValue = Has(fields, "SINGLE-VALUE");
  out.obsolete = Has(fields, "OBSOLETE");
  return true;
}

bool ParseObjectClass(std::string_view text, TObjectClass& out) {
  std::map<std::string, TValue> fields;
  out = TObjectClass();
  if (!ReadFields(text, out.oid, fields)) return false;
  out.names = Items(fields, "NAME");
  out.desc = First(fields, "DESC");
  out.sup = Items(fields, "SUP");
  for (const char* kind : {"ABSTRACT", "STRUCTURAL", "AUXILIARY"})
    if (Has(fields, kind)) out.kind = kind;
  out.must = Items(fields, "MUST");
  out.may = Items(fields, "MAY");
  out.obsolete = Has(fields, "OBSOLETE");
  return true;
}

TSchema TSchema::Parse(const std::vector<std::string>& attributeTypes,
                       const std::vector<std::string>& objectClasses) {
  TSchema s;
  for (const std::string& text : attributeTypes) {
    TAttributeType t;
    if (!ParseAttributeType(text, t)) continue;
    const std::size_t at = s.types_.size();
    s.typeIndex_.emplace(LowerAscii(t.oid), at);
    for (const std::string& n : t.names) s.typeIndex_.emplace(LowerAscii(n), at);
    s.types_.push_back(std::move(t));
  }
  for (const std::string& text : objectClasses) {
    TObjectClass c;
    if (!ParseObjectClass(text, c)) continue;
    const std::size_t at = s.classes_.size();
    s.classIndex_.emplace(LowerAscii(c.oid), at);
    for (const std::string& n : c.names) s.classIndex_.emplace(LowerAscii(n), at);
    s.classes_.push_back(std::move(c));
  }
  return s;
}

const TAttributeType* TSchema::FindAttribute(std::string_view nameOrOid) const {
  auto it = typeIndex_.find(LowerAscii(nameOrOid));
  return it == typeIndex_.end() ? nullptr : &types_[it->second];
}

const TObjectClass* TSchema::FindClass(std::string_view nameOrOid) const {
  auto it = classIndex_.find(LowerAscii(nameOrOid));
  return it == classIndex_.end() ? nullptr : &classes_[it->second];
}

std::string TSchema::Syntax(const TAttributeType& type) const {
  const TAttributeType* t = &type;
  for (int step = 0; t && step <= kMaxSupDepth; ++step) {
    if (!t->syntax.empty()) return t->syntax;
    if (t->sup.empty()) break;
    const TAttributeType* up = FindAttribute(t->sup);
    if (up == t) break;
    t = up;
  }
  return std::string();
}

std::vector<std::string> TSchema::Complete(std::string_view prefix) const {
  const std::string p = LowerAscii(prefix);
  std::vector<std::string> out;
  for (const TAttributeType& t : types_)
    for (const std::string& n : t.names)
      if (LowerAscii(n).compare(0, p.size(), p) == 0) out.push_back(n);
  std::sort(out.begin(), out.end(), LessNoCase);
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

std::string TSchema::Nearest(std::string_view name) const {
  const std::string target = LowerAscii(name);
  // Names are short; a long text is no misspelling of one (and would cost).
  if (target.empty() || target.size() > 128) return std::string();
  // One edit in every three letters, at least one and at most three.
  const std::size_t limit = std::clamp<std::size_t>(target.size() / 3, 1, 3);
  std::string best;
  std::size_t bestDistance = limit + 1;
  for (const TAttributeType& t : types_)
    for (const std::string& n : t.names) {
      const std::string lower = LowerAscii(n);
      const std::size_t gap = lower.size() > target.size() ? lower.size() - target.size()
                                                           : target.size() - lower.size();
      if (gap > limit) continue;
      const std::size_t d = EditDistance(target, lower);
      if (d < bestDistance || (d == bestDistance && LessNoCase(n, best))) {
        bestDistance = d;
        best = n;
      }
    }
  return best;
}

TClassAttributes TSchema::ClassAttributes(std::string_view cls) const {
  TClassAttributes out;
  std::set<std::string> seenMust, seenMay, visited;
  std::vector<std::pair<const TObjectClass*, int>> todo;
  if (const TObjectClass* c = FindClass(cls)) todo.push_back({c, 0});
  auto name = [&](const std::string& n) {
    const TAttributeType* t = FindAttribute(n);
    return t ? t->Name() : n;
  };
  // Breadth first: the class's own attributes, then its superclasses'.
  for (std::size_t i = 0; i < todo.size(); ++i) {
    const auto [c, depth] = todo[i];
    if (!visited.insert(LowerAscii(c->oid)).second) continue;
    for (const std::string& n : c->must) AddOnce(out.must, seenMust, name(n));
    for (const std::string& n : c->may) AddOnce(out.may, seenMay, name(n));
    if (depth >= kMaxSupDepth) continue;
    for (const std::string& s : c->sup)
      if (const TObjectClass* up = FindClass(s)) todo.push_back({up, depth + 1});
  }
  // An attribute both required and allowed is required.
  std::erase_if(out.may, [&](const std::string& n) { return seenMust.count(LowerAscii(n)) != 0; });
  return out;
}

std::vector<std::string> TSchema::ClassNames() const {
  std::vector<std::string> out;
  for (const TObjectClass& c : classes_) out.push_back(c.Name());
  std::sort(out.begin(), out.end(), LessNoCase);
  return out;
}

}  // namespace quorvel
