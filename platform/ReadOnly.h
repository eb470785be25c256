#pragma once
// Taking away the right to write a file or a folder, and giving it back, as a user protects
// them; the journal and the exports must cope with either. Errors are the system's own numbers
// (SystemError.h).

#include <filesystem>

namespace velmora {

// Makes `path` read-only, or writable again. A read-only file's bytes cannot change; a
// read-only folder takes no new entry and loses none, while its files stay as they are.
// POSIX: the write permission bits, everyone's taken away and the owner's given back (root,
// unless it has given up its override of permissions, is bound by none). Windows: a file's
// read-only attribute, which binds administrators too; a folder's read-only attribute binds
// nothing, so a folder gets an entry first in its access list that denies everyone adding and
// removing entries. 0 on success, else the error.
[[nodiscard]] int SetReadOnly(const std::filesystem::path& path, bool readOnly);

}  // namespace velmora
