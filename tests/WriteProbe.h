#pragma once
// Whether a read-only file or folder binds a test's child: tests of them ask first. Root binds
// permissions only as another user (ChildLimits::unprivileged), which Wine's processes cannot
// become: Wine run by root writes everywhere unless its override of permissions is given up, as
// scripts/test-windows does.

#include <filesystem>

#include "platform/ChildProcess.h"

namespace velmora::test {

// Whether a child started with `limits` writes to `path` all the same: it opens the file for
// writing without changing a byte, or makes a new file in the folder and removes it again.
[[nodiscard]] bool ChildCanWrite(const std::filesystem::path& path, const ChildLimits& limits);

// What a test that ChildCanWrite showed it cannot rely on says as it skips.
inline constexpr const char* kReadOnlyBindsNothing =
    "a read-only file or folder takes writes here: permissions bind no process of this user "
    "(Wine run by root, unless it gives up its override as scripts/test-windows does)";

}  // namespace velmora::test
