#pragma once
// The system's error numbers, as the platform's calls and libraries that report the system's
// errors (SQLite's sqlite3_system_errno) give them: errno values, or GetLastError's on Windows.

namespace velmora {

enum class StorageErrorKind {
    kNotWritable,  // no permission, or a read-only file system
    kFull,         // the disk or the user's quota is full, or the file is at its size limit
    kOther,
};

StorageErrorKind KindOfStorageError(int systemError);

// The calling thread's last error, right after a call of the system that failed.
int LastSystemError();

}  // namespace velmora
