// The filter checker: a recursive descent over the filter grammar that stops
// at the first problem and says where it is, for the profile dialog and
// quorvel-report --check. It accepts a little more than the grammar, exactly
// where the translation (filter.cpp) reads the text the same way.
#include <algorithm>
#include <cstdint>

#include "ldap/filter.h"

namespace quorvel {
namespace {

// The translation gives up on deeper nesting; the checker says so.
constexpr int kMaxDepth = 200;

bool IsAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsHex(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::string Quoted(char c) {
  return std::string("\"") + c + "\"";
}

class TChecker {
 public:
  TChecker(std::string_view text, std::vector<std::string>* attributes)
      : t_(text), attributes_(attributes) {}

  std::optional<TFilterProblem> Run() {
    SkipBlanks();
    if (p_ >= t_.size()) return Problem(0, "the filter is empty");
    if (t_[p_] == '(') {
      if (!Filter(0)) return problem_;
    } else if (!Item(true)) {
      return problem_;
    }
    SkipBlanks();
    if (p_ < t_.size())
      return Problem(p_,
                     "text after the end of the filter; a filter is one group in parentheses "
                     "(put several in (&...) or (|...))");
    return std::nullopt;
  }

 private:
  bool Fail(std::size_t at, std::string reason) {
    problem_ = Problem(at, std::move(reason));
    return false;
  }
  TFilterProblem Problem(std::size_t at, std::string reason) const {
    TFilterProblem out;
    // Characters, not octets: UTF-8 continuation octets do not count.
    out.position = 1;
    for (std::size_t i = 0; i < at && i < t_.size(); ++i)
      if ((static_cast<uint8_t>(t_[i]) & 0xC0) != 0x80) ++out.position;
    out.reason = std::move(reason);
    return out;
  }
  void SkipBlanks() {
    while (p_ < t_.size() && IsBlank(t_[p_])) ++p_;
  }
  bool AtEnd() const { return p_ >= t_.size(); }

  // "(" filtercomp ")" with p_ on the "(".
  bool Filter(int depth) {
    if (depth > kMaxDepth) return Fail(p_, "the filter is nested too deeply");
    const std::size_t open = p_++;
    if (AtEnd()) return Fail(p_, "missing \")\" for the \"(\" at position " + Position(open));
    const char c = t_[p_];
    bool ok;
    if (c == '&' || c == '|') {
      ok = Composite(depth);
    } else if (c == '!') {
      ok = Not(depth);
    } else if (c == '(') {
      return Fail(p_, "\"(\" where an attribute name or \"&\", \"|\" or \"!\" belongs");
    } else if (c == ')') {
      return Fail(p_, "empty parentheses");
    } else {
      ok = Item(false);
    }
    if (!ok) return false;
    if (AtEnd()) return Fail(p_, "missing \")\" for the \"(\" at position " + Position(open));
    ++p_;  // the ")" (Composite, Not and Item stop on it)
    return true;
  }

  std::string Position(std::size_t at) const { return std::to_string(Problem(at, "").position); }

  bool Composite(int depth) {
    const char op = t_[p_++];
    int parts = 0;
    for (;;) {
      SkipBlanks();
      if (AtEnd()) return true;  // Filter reports the missing ")"
      if (t_[p_] == ')') break;
      if (t_[p_] != '(')
        return Fail(p_, "the parts of \"" + std::string(1, op) +
                            "\" are filters in parentheses; unexpected " + Quoted(t_[p_]));
      if (!Filter(depth + 1)) return false;
      ++parts;
    }
    if (parts == 0)
      return Fail(p_, "\"" + std::string(1, op) + "\" needs at least one filter in parentheses");
    return true;
  }

  bool Not(int depth) {
    ++p_;
    SkipBlanks();
    if (AtEnd() || t_[p_] != '(') return Fail(p_, "\"!\" needs one filter in parentheses");
    if (!Filter(depth + 1)) return false;
    SkipBlanks();
    if (!AtEnd() && t_[p_] != ')') return Fail(p_, "\"!\" takes only one filter");
    return true;
  }

  // attr, an operator, a value; bare: the whole text, no parentheses around.
  bool Item(bool bare) {
    const std::size_t start = p_;
    while (!AtEnd() && t_[p_] != '=' && t_[p_] != '~' && t_[p_] != '<' && t_[p_] != '>' &&
           t_[p_] != ':' && t_[p_] != '(' && t_[p_] != ')')
      ++p_;
    if (AtEnd() || t_[p_] == '(' || t_[p_] == ')') {
      if (!AtEnd() && t_[p_] == '(')
        return Fail(p_, "\"(\" inside an attribute name; a part of \"&\" or \"|\" goes after it");
      return Fail(p_, "no \"=\" after the attribute name");
    }
    const std::size_t opAt = p_;
    const char op = t_[p_];
    if (op == ':') return Extensible(start, bare);
    if (!Attribute(start, opAt, true)) return false;
    bool stars = op == '=';
    if (op != '=') {
      if (p_ + 1 >= t_.size() || t_[p_ + 1] != '=')
        return Fail(p_, Quoted(op) + " must be followed by \"=\"");
      ++p_;
    }
    ++p_;
    return Value(stars, bare);
  }

  // attr [":dn"] [":" rule] ":=" value, or [":dn"] ":" rule ":=" value.
  bool Extensible(std::size_t start, bool bare) {
    const std::size_t colon = p_;
    std::size_t rest = colon;
    while (rest < t_.size() && t_[rest] != '=' && t_[rest] != '(' && t_[rest] != ')') ++rest;
    if (rest >= t_.size() || t_[rest] != '=' || t_[rest - 1] != ':')
      return Fail(rest,
                  "an extensible match is written attr:=value, attr:dn:=value or "
                  "attr:rule:=value");
    const bool hasType = TrimmedEmpty(start, colon) == false;
    if (hasType && !Attribute(start, colon, true)) return false;
    // The parts between the colons: "dn" and at most one matching rule.
    bool rule = false;
    std::size_t a = colon + 1;
    while (a < rest - 1) {
      std::size_t b = a;
      while (b < rest - 1 && t_[b] != ':') ++b;
      if (b == a) return Fail(a, "empty part between \":\"");
      if (t_.substr(a, b - a) != "dn") {
        if (rule) return Fail(a, "more than one matching rule");
        if (!Attribute(a, b, false)) return false;
        rule = true;
      }
      a = b + 1;
    }
    if (!hasType && !rule)
      return Fail(start, "an extensible match needs an attribute name or a matching rule");
    p_ = rest + 1;
    return Value(false, bare);
  }

  bool TrimmedEmpty(std::size_t b, std::size_t e) const {
    while (b < e && IsBlank(t_[b])) ++b;
    return b == e;
  }

  // An attribute description (blanks around it allowed), or a matching rule
  // (no options) in [b, e).
  bool Attribute(std::size_t b, std::size_t e, bool options) {
    while (b < e && IsBlank(t_[b])) ++b;
    while (e > b && IsBlank(t_[e - 1])) --e;
    if (b == e) return Fail(b, options ? "no attribute name before the operator" : "empty name");
    std::size_t i = b;
    if (IsDigit(t_[i])) {
      // A numeric OID: numbers separated by single dots.
      while (i < e && (IsDigit(t_[i]) || (t_[i] == '.' && IsDigit(t_[i - 1]) && i + 1 < e))) ++i;
    } else if (IsAlpha(t_[i])) {
      while (i < e && (IsAlpha(t_[i]) || IsDigit(t_[i]) || t_[i] == '-')) ++i;
    } else {
      return Fail(i,
                  "an attribute name starts with a letter or a digit; unexpected " + Quoted(t_[i]));
    }
    const std::size_t nameEnd = i;
    while (options && i < e && t_[i] == ';') {
      const std::size_t o = ++i;
      while (i < e && (IsAlpha(t_[i]) || IsDigit(t_[i]) || t_[i] == '-')) ++i;
      if (i == o) return Fail(o, "empty attribute option after \";\"");
    }
    if (i < e) return Fail(i, "unexpected " + Quoted(t_[i]) + " in the attribute name");
    if (options) Keep(std::string(t_.substr(b, nameEnd - b)));
    return true;
  }

  void Keep(std::string name) {
    if (!attributes_) return;
    if (std::find(attributes_->begin(), attributes_->end(), name) == attributes_->end())
      attributes_->push_back(std::move(name));
  }

  // The value up to the item's ")" (or the end for a bare item).
  bool Value(bool stars, bool bare) {
    while (!AtEnd()) {
      const char c = t_[p_];
      if (c == ')') {
        if (bare) return Fail(p_, "unescaped \")\" in a value; write \\29 for it");
        return true;
      }
      if (c == '(') return Fail(p_, "unescaped \"(\" in a value; write \\28 for it");
      if (c == '*' && !stars)
        return Fail(p_,
                    "\"*\" is only for substrings and presence after \"=\"; write \\2a "
                    "for an asterisk");
      if (c == '\\') {
        if (p_ + 2 >= t_.size() || !IsHex(t_[p_ + 1]) || !IsHex(t_[p_ + 2]))
          return Fail(p_,
                      "\"\\\" must be followed by two hexadecimal digits; write \\5c for a "
                      "backslash");
        p_ += 2;
      }
      ++p_;
    }
    return true;  // Filter reports the missing ")"
  }

  std::string_view t_;
  std::vector<std::string>* attributes_;
  std::size_t p_ = 0;
  std::optional<TFilterProblem> problem_;
};

}  // namespace

std::optional<TFilterProblem> CheckFilter(std::string_view text,
                                          std::vector<std::string>* attributes) {
  std::vector<std::string> names;
  TChecker checker(text, &names);
  if (auto problem = checker.Run()) return problem;
  if (EncodeFilter(text).empty()) return TFilterProblem{1, "the filter cannot be translated"};
  if (attributes) *attributes = std::move(names);
  return std::nullopt;
}

std::string FilterProblemText(const TFilterProblem& problem) {
  return "Position " + std::to_string(problem.position) + ": " + problem.reason;
}

}  // namespace quorvel
