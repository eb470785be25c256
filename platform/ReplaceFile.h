#pragma once
// Writing a whole file so that readers see either the old contents or the new, never a mix, and
// so that a link planted under the target's name is replaced rather than followed: the new
// contents go to a fresh file beside the target, reach the disk, and the fresh file then takes
// the target's name (rename(2); MoveFileExW on Windows). A running program that has the old
// file mapped keeps its copy.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace velmora {

// Who may use the new file, whatever the user's umask says, except for kUsual.
enum class FileAccess {
    kUsual,           // as any file the program makes (0666 less the umask)
    kOwnerOnly,       // 0600
    kOwnerWritesAll,  // 0755: everyone reads and runs it, only its owner writes it
};
// On Windows every file takes its folder's access list, whatever the FileAccess.

enum class ReplaceOutcome {
    kReplaced,
    kCannotCreate,   // no fresh file could be made beside the target
    kCannotWrite,    // the contents could not be written or did not reach the disk
    kCannotReplace,  // the fresh file could not take the target's name
};

// Why the target could not be written, in the terms its user is told.
enum class WriteFailure {
    kNone,
    kHeldOpen,           // another program holds the target open and lets nobody replace it
    kReadOnlyFile,       // the target is marked read-only (it is left alone, never replaced)
    kNoFolder,           // the target's folder does not exist
    kFolderNotWritable,  // the target's folder takes no new file from this user
    kFull,               // the disk or the user's quota is full
    kNameTooLong,        // the system takes no name that long
    kOther,
};

// What a system error of writing means when nothing more is known of it: a folder that takes
// no new file, a full disk, or another failure (SystemError.h's kinds).
[[nodiscard]] WriteFailure WriteFailureOfStorageError(int systemError);

// One replacement, for contents written in steps or by a library that opens the file itself.
// The fresh file is removed unless Commit succeeded.
class FileReplacement {
public:
    FileReplacement(const std::filesystem::path& target, FileAccess access);
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // False when the fresh file could not be made, or the target is read-only: Commit then
    // reports kCannotCreate.
    [[nodiscard]] bool created() const;
    // Why the step that failed failed; kNone while none has.
    [[nodiscard]] WriteFailure failure() const { return failure_; }

    [[nodiscard]] bool Write(std::string_view bytes);

    // For a library that writes the fresh file itself, opening it by a char name: the name in a
    // form every such library reads alike (on Windows ASCII only, moving the fresh file to the
    // temporary-files folder when its own folder has no such name). From here on only the
    // library writes it. Empty when there is no such name.
    [[nodiscard]] std::string NameForLibrary();

    // Brings the contents to the disk and gives the fresh file the target's name.
    [[nodiscard]] ReplaceOutcome Commit();

private:
    struct Fresh;
    std::unique_ptr<Fresh> fresh_;
    WriteFailure failure_ = WriteFailure::kNone;
};

// The whole replacement in one call. False when any step failed; nothing is left behind then.
// (Not "ReplaceFile", which windows.h defines as a macro.)
[[nodiscard]] bool ReplaceFileContents(const std::filesystem::path& path, std::string_view bytes,
                                       FileAccess access);

}  // namespace velmora
