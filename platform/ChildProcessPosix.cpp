#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/ChildProcess.h"

extern char** environ;

namespace velmora {
namespace {

// The user and group of "nobody", whom a child of root's becomes.
constexpr uid_t kNobody = 65534;

// What the child reports through the exec pipe when a step before the program fails.
struct ChildFailure {
    int step;
    int error;
};
enum Step { kRedirect, kLimit, kUser, kExec };
constexpr const char* kStepNames[] = {"cannot redirect a stream", "cannot set a limit",
                                      "cannot become an unprivileged user", "cannot run"};

std::vector<std::string> Environment(const std::vector<std::string>& entries) {
    auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string inherited(*entry);
        bool replaced = false;
        for (const std::string& given : entries) replaced |= nameOf(given) == nameOf(inherited);
        if (!replaced) environment.push_back(inherited);
    }
    for (const std::string& given : entries) {
        if (given.find('=') != std::string::npos) environment.push_back(given);
    }
    return environment;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& string : strings) pointers.push_back(string.data());
    pointers.push_back(nullptr);
    return pointers;
}

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// Runs in the child between fork and exec: async-signal-safe calls only.
[[noreturn]] void BecomeProgram(const char* program, char* const* argv, char* const* envp,
                                const int (&streams)[3], const ChildLimits& limits, int report) {
    const auto fail = [report](Step step) {
        const ChildFailure failure{step, errno};
        [[maybe_unused]] const ssize_t written = write(report, &failure, sizeof failure);
        _exit(127);
    };
    for (int stream = 0; stream < 3; ++stream) {
        if (streams[stream] >= 0 && dup2(streams[stream], stream) < 0) fail(kRedirect);
    }
    // A file size limit sends SIGXFSZ, which would end the program; ignored, the write fails
    // with EFBIG as on a full disk. Ignoring survives exec.
    if (limits.fileBytes) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{*limits.fileBytes, *limits.fileBytes};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) fail(kLimit);
    }
    if (limits.memoryBytes) {
        const rlimit limit{*limits.memoryBytes, *limits.memoryBytes};
        if (setrlimit(RLIMIT_AS, &limit) != 0) fail(kLimit);
    }
    if (limits.unprivileged && geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
        fail(kUser);
    }
    execve(program, argv, envp);
    fail(kExec);
    _exit(127);  // not reached: for the compiler, which cannot see that fail ends the process
}

}  // namespace

struct ChildProcess::Impl {
    pid_t pid = -1;
    int input = -1;
    int pipes[2] = {-1, -1};  // standard output and error, when piped
    std::optional<ChildExit> ended;
    ChildStartError startError = ChildStartError::kNone;
    std::string error;

    ~Impl() {
        CloseFd(input);
        CloseFd(pipes[0]);
        CloseFd(pipes[1]);
    }
};

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess() {
    if (impl_->pid > 0 && !impl_->ended) {
        Kill();
        Wait();
    }
}

bool ChildProcess::Start(const std::filesystem::path& program,
                         const std::vector<std::string>& arguments, const ChildOptions& options) {
    Impl& impl = *impl_;
    auto fail = [&](std::string what, ChildStartError kind = ChildStartError::kFailed) {
        impl.startError = kind;
        impl.error = std::move(what);
        return false;
    };
    if (impl.pid > 0) return fail("started before");

    // Everything the child needs is made here, since it may only make system calls.
    std::vector<std::string> args{program.string()};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv = Pointers(args);
    std::vector<std::string> environment = Environment(options.environment);
    std::vector<char*> envp = Pointers(environment);

    // The child's end of each stream (-1: inherited) and the parent's end of each pipe.
    int childEnds[3] = {-1, -1, -1};
    int parentEnds[3] = {-1, -1, -1};
    auto closeAll = [&] {
        for (int& fd : childEnds) CloseFd(fd);
        for (int& fd : parentEnds) CloseFd(fd);
    };
    const ChildStream uses[3] = {options.input, options.output, options.error};
    for (int stream = 0; stream < 3; ++stream) {
        if (uses[stream] == ChildStream::kDiscard) {
            childEnds[stream] = open("/dev/null", (stream == 0 ? O_RDONLY : O_WRONLY) | O_CLOEXEC);
        } else if (uses[stream] == ChildStream::kPipe) {
            int ends[2];
            if (pipe2(ends, O_CLOEXEC) != 0) {
                closeAll();
                return fail(std::string("cannot make a pipe: ") + std::strerror(errno));
            }
            childEnds[stream] = stream == 0 ? ends[0] : ends[1];
            parentEnds[stream] = stream == 0 ? ends[1] : ends[0];
        }
    }
    // Closed on exec: the parent reads nothing from it once the program runs.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        closeAll();
        return fail(std::string("cannot make a pipe: ") + std::strerror(errno));
    }
    const pid_t pid = fork();
    if (pid == 0) {
        BecomeProgram(argv[0], argv.data(), envp.data(), childEnds, options.limits, report[1]);
    }
    close(report[1]);
    for (int& fd : childEnds) CloseFd(fd);
    if (pid < 0) {
        close(report[0]);
        closeAll();
        return fail(std::string("cannot fork: ") + std::strerror(errno));
    }
    ChildFailure failure{};
    ssize_t got;
    while ((got = read(report[0], &failure, sizeof failure)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (got == static_cast<ssize_t>(sizeof failure)) {
        waitpid(pid, nullptr, 0);
        closeAll();
        return fail(std::string(kStepNames[failure.step]) + " " + program.string() + ": " +
                    std::strerror(failure.error));
    }
    impl.pid = pid;
    impl.input = parentEnds[0];
    impl.pipes[0] = parentEnds[1];
    impl.pipes[1] = parentEnds[2];
    return true;
}

ChildStartError ChildProcess::startError() const {
    return impl_->startError;
}

const std::string& ChildProcess::error() const {
    return impl_->error;
}

std::int64_t ChildProcess::Id() const {
    return impl_->pid < 0 ? 0 : impl_->pid;
}

std::optional<ChildOutput> ChildProcess::ReadOutput() {
    Impl& impl = *impl_;
    while (impl.pipes[0] >= 0 || impl.pipes[1] >= 0) {
        pollfd fds[2] = {{impl.pipes[0], POLLIN, 0}, {impl.pipes[1], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        for (int stream = 0; stream < 2; ++stream) {
            if (fds[stream].fd < 0 || fds[stream].revents == 0) continue;
            char buffer[4096];
            const ssize_t got = read(fds[stream].fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) break;
            if (got <= 0) CloseFd(impl.pipes[stream]);
            return ChildOutput{stream == 1,
                               std::string(buffer, got > 0 ? static_cast<std::size_t>(got) : 0)};
        }
    }
    return std::nullopt;
}

bool ChildProcess::WriteInput(std::string_view bytes) {
    // A child that stopped reading would raise SIGPIPE, which ends a process by default: it
    // is held for this thread during the write and taken back if it came.
    sigset_t pipeSignal;
    sigset_t previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    bool written = impl_->input >= 0;
    while (written && !bytes.empty()) {
        const ssize_t sent = write(impl_->input, bytes.data(), bytes.size());
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        } else if (errno != EINTR) {
            written = false;
        }
    }
    if (!written && errno == EPIPE) {
        const timespec now{0, 0};
        sigtimedwait(&pipeSignal, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return written;
}

void ChildProcess::CloseInput() {
    CloseFd(impl_->input);
}

ChildExit ChildProcess::Wait() {
    Impl& impl = *impl_;
    if (impl.ended || impl.pid <= 0) return impl.ended.value_or(ChildExit{});
    int status = 0;
    pid_t waited;
    while ((waited = waitpid(impl.pid, &status, 0)) < 0 && errno == EINTR) {
    }
    ChildExit exit;
    if (waited == impl.pid && WIFEXITED(status)) exit = {true, WEXITSTATUS(status)};
    impl.ended = exit;
    return exit;
}

void ChildProcess::Kill() {
    if (impl_->pid > 0 && !impl_->ended) kill(impl_->pid, SIGKILL);
}

bool ChildProcess::Interrupt() {
    return impl_->pid > 0 && !impl_->ended && kill(impl_->pid, SIGINT) == 0;
}

bool EndedByAbort(int status) {
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT;
}

}  // namespace velmora
