// How result values compare and match when the results are sorted or
// filtered: one rule for the window's grid and the headless runner alike,
// because both run it inside the engine on every connection of this layer.
//
// What it does:
//  - CompareText orders two UTF-8 texts as the user's locale collates text
//    (LC_COLLATE of the environment, read once), without regard to case:
//    both texts are folded to lower case first (LC_CTYPE, with full Unicode
//    case mapping even when the environment names a locale without it).
//    Texts equal by that rule compare 0; callers break the tie themselves.
//  - FoldText is the same case folding, back in UTF-8: a filter matches when
//    FoldText(cell) contains FoldText(needle).
//  - RegisterTextFunctions makes them known to one engine connection: the
//    collation kTextCollation, the one-argument function kFoldFunction, and
//    kContainsFunction(text, needle), 1 when FoldText(text) holds the
//    needle (already folded) and 0 otherwise, NULL text never holding it:
//    the filter's test without a folded copy handed to the engine.
//    The connection (database.cpp) calls it on every connect.
//
// Limits and failures: bytes that are not valid UTF-8 count as the code
// points of their byte values, so every input has one place in the order;
// nothing raises. A failed registration leaves statements that name the
// collation or the function failing with the engine's "no such" message.
//
//   std::sort(v.begin(), v.end(), [](auto& a, auto& b) { return CompareText(a, b) < 0; });
//   SELECT * FROM t ORDER BY c COLLATE quorvel_text
//   SELECT * FROM t WHERE quorvel_contains(c, ?1)
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

struct EngineApi;

inline constexpr const char* kTextCollation = "quorvel_text";
inline constexpr const char* kFoldFunction = "quorvel_fold";
inline constexpr const char* kContainsFunction = "quorvel_contains";

int CompareText(std::string_view a, std::string_view b);
std::string FoldText(std::string_view text);
// FoldText into `out` (its old content replaced), reusing its room.
void FoldTextInto(std::string_view text, std::string& out);
// True when registering both succeeded.
bool RegisterTextFunctions(const EngineApi& api, void* handle);

}  // namespace quorvel
