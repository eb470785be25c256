#pragma once
// Writing a whole file so that readers see either the old contents or the new, never a mix, and
// so that a link planted under the target's name is replaced rather than followed.

#include <sys/types.h>

#include <string>
#include <string_view>

namespace velmora {

// Writes `bytes` to a fresh file beside `path` and renames it over `path`. A running program
// that has the old file mapped keeps its copy. False when any step failed; nothing is left
// behind then.
[[nodiscard]] bool ReplaceFile(const std::string& path, std::string_view bytes, mode_t mode);

}  // namespace velmora
