#pragma once
// Rewrites a pattern of the scripting dialect into PCRE2 syntax with the same meaning, given
// the compile options Regex.cpp sets (UTF, ALT_BSUX, newline LF, no UCP, no MULTILINE).

#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// The PCRE2 pattern for a UTF-8 `pattern`; nullopt for a construct the dialect rejects
// (named or look-behind groups, inline options, possessive quantifiers, unbalanced groups).
std::optional<std::string> TranslatePattern(std::string_view pattern, bool multiline);

}  // namespace velmora
