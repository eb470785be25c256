#pragma once
// Zero-based wrappers over the text searches for the header and cookie code, which works in
// offsets. Private to http/.

#include <cstddef>
#include <string_view>

#include "text/TextOps.h"

namespace velmora {

inline constexpr std::size_t kNotFound = std::string_view::npos;

// First occurrence of `searched` at or after offset `from`, stepping over double-byte
// characters; kNotFound when none.
inline std::size_t FindAt(std::string_view text, std::string_view searched, std::size_t from,
                          bool ignoreCase = false) {
    if (from >= text.size()) return kNotFound;
    int position = FindText(text, searched, static_cast<int>(from) + 1, ignoreCase);
    return position < 0 ? kNotFound : static_cast<std::size_t>(position - 1);
}

}  // namespace velmora
