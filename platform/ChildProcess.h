#pragma once
// Programs run as child processes, for tests and their tools: arguments and environment given,
// standard streams piped, inherited or discarded, limits set before the program runs, the exit
// waited for, a hard kill, and the interrupt a user's Ctrl-C sends. A test that needs its own
// code in another process starts its own program again (ThisProgram) instead of forking, which
// Windows cannot.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

enum class ChildStream { kInherit, kPipe, kDiscard };

// Limits a child starts under. Where the system cannot enforce one, Start refuses with
// ChildStartError::kLimitNotEnforced, so that a test relying on it skips rather than passes.
struct ChildLimits {
    // Writes that would make any file longer fail, as on a full disk. POSIX only.
    std::optional<std::uint64_t> fileBytes;
    // Allocations beyond this much memory fail. Windows enforces it through a job, which Wine
    // accepts and ignores.
    std::optional<std::uint64_t> memoryBytes;
    // A child of root's runs as the unprivileged user "nobody", so that file permissions bind
    // it. Nothing to do for other users, nor on Windows, whose read-only attribute and access
    // lists bind every user (Wine maps them to Unix permissions, which bind root only once it
    // has given up its override of them, as scripts/test-windows does).
    bool unprivileged = false;
};

struct ChildOptions {
    // NAME=value entries put over this process's environment; NAME alone (no "=") removes it.
    std::vector<std::string> environment;
    ChildStream input = ChildStream::kInherit;
    ChildStream output = ChildStream::kInherit;
    ChildStream error = ChildStream::kInherit;
    ChildLimits limits;
};

enum class ChildStartError { kNone, kFailed, kLimitNotEnforced };

struct ChildExit {
    bool exited = false;  // false: ended by Kill or, on POSIX, by any signal
    int code = -1;        // the exit code when it exited
};

// What ReadOutput got: bytes from one piped stream, or its end (no bytes).
struct ChildOutput {
    bool fromError = false;  // standard error; else standard output
    std::string bytes;
};

class ChildProcess {
public:
    ChildProcess();
    // A child still running is killed and waited for.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` with `arguments` (UTF-8, the program's name not among them); false, with
    // startError() and error() telling why, when it cannot. Once per object.
    [[nodiscard]] bool Start(const std::filesystem::path& program,
                             const std::vector<std::string>& arguments,
                             const ChildOptions& options = {});
    [[nodiscard]] ChildStartError startError() const;
    [[nodiscard]] const std::string& error() const;
    // The system's id of the started child (as ProcessId() names this process); 0 before.
    [[nodiscard]] std::int64_t Id() const;

    // Waits until a piped output stream has bytes or ends; nothing once every piped one has
    // ended. Called from one thread at a time.
    [[nodiscard]] std::optional<ChildOutput> ReadOutput();
    // Writes to a piped standard input, waiting for room as needed; false when the child no
    // longer reads it.
    bool WriteInput(std::string_view bytes);
    // Ends a piped standard input: the child reads the end of the stream from then on.
    void CloseInput();

    // Waits for the child to end. A child that has not ended may block on a full pipe: read
    // its piped output to the end first. Under Wine a Unix program can be started too, but
    // without a process to wait for: Wait says it did not exit, and the end of its output is
    // the only sign of its end.
    ChildExit Wait();
    // Ends the child at once, as SIGKILL or TerminateProcess do; it runs no code of its own.
    void Kill();
    // Sends what Ctrl-C in a terminal sends: SIGINT on POSIX; on Windows a console control
    // event to the child's process group (every child has one of its own). The child there
    // starts with Ctrl-C ignored, as in every new process group, until it calls
    // SetConsoleCtrlHandler(nullptr, FALSE); and it must treat CTRL_BREAK_EVENT as Ctrl-C, since
    // Windows delivers only that one to a group (Wine, the other way round, only CTRL_C_EVENT).
    // False when it could not be sent.
    bool Interrupt();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Whether a child's raw status, as the system reports its end (a wait status on POSIX, the exit
// code on Windows; what GoogleTest's death tests hand their predicates), is that of std::abort:
// SIGABRT, or Windows' exit code 3.
bool EndedByAbort(int status);

}  // namespace velmora
