#pragma once
// Writing a whole file so that readers see either the old contents or the new, never a mix, and
// so that a link planted under the target's name is replaced rather than followed: the new
// contents go to a fresh file beside the target, which is then renamed over it.

#include <sys/types.h>

#include <string>
#include <string_view>

namespace velmora {

// A fresh, empty file in the target's folder that nobody else uses, opened for writing.
struct TemporaryFile {
    int fd = -1;       // -1 when it could not be created
    std::string path;  // short and fixed in shape, so a target name at the length limit works
};
// Created with `mode` less the umask; O_EXCL, so an existing name (a link included) is never
// opened.
[[nodiscard]] TemporaryFile CreateTemporaryBeside(const std::string& target, mode_t mode);

// Writes `bytes` to a fresh file beside `path` and renames it over `path`. A running program
// that has the old file mapped keeps its copy. False when any step failed; nothing is left
// behind then.
[[nodiscard]] bool ReplaceFile(const std::string& path, std::string_view bytes, mode_t mode);

}  // namespace velmora
