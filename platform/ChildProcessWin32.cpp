#include <windows.h>

#include "platform/ChildProcess.h"
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace velmora {
namespace {

// The exit code Kill gives the child; with Kill called, it tells a kill from an exit.
constexpr UINT kKilledExitCode = 0xDEADu;
// What a failed probe allocation beyond a memory limit asks for past the limit.
constexpr std::uint64_t kProbeMargin = 1 << 20;

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        length);
    return wide;
}

std::string Utf8(const wchar_t* wide) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return {};
    std::string utf8(static_cast<std::size_t>(bytes - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

std::string LastErrorText(const std::string& what) {
    const DWORD code = GetLastError();
    wchar_t* text = nullptr;
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = what + ": " + (text ? Utf8(text) : "error " + std::to_string(code));
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.pop_back();
    }
    return message;
}

// One argument as the C runtime's parser reads it back: quoted when it holds a space, a tab
// or a quote, or is empty; backslashes doubled only before a quote.
void AppendQuoted(std::wstring& line, const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// This process's environment with `entries` put over it, as CreateProcessW takes it.
std::wstring EnvironmentBlock(const std::vector<std::string>& entries) {
    std::vector<std::wstring> given;
    for (const std::string& entry : entries) given.push_back(Wide(entry));
    // "=C:=C:\..." entries, the drives' current folders, have their name after the first "=".
    auto nameOf = [](const std::wstring& entry) { return entry.substr(0, entry.find(L'=', 1)); };
    std::wstring block;
    if (wchar_t* inherited = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = inherited; *entry != L'\0'; entry += wcslen(entry) + 1) {
            const std::wstring current(entry);
            bool replaced = false;
            for (const std::wstring& mine : given)
                replaced |= SameName(nameOf(mine), nameOf(current));
            if (!replaced) block.append(current).push_back(L'\0');
        }
        FreeEnvironmentStringsW(inherited);
    }
    for (const std::wstring& mine : given) {
        if (mine.find(L'=') != std::wstring::npos) block.append(mine).push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

void CloseIfOpen(HANDLE& handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = nullptr;
}

// GenerateConsoleCtrlEvent reaches only processes on the caller's console, and under Wine a
// program whose streams are pipes has a console that refuses the events: such a process gets
// a console of its own before its first child, which then shares it. Its own standard handles
// stay as they were.
void ShareAConsoleWithChildren() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (GetConsoleWindow() != nullptr) return;
        const DWORD kinds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
        HANDLE saved[3];
        for (int i = 0; i < 3; ++i) saved[i] = GetStdHandle(kinds[i]);
        FreeConsole();
        AllocConsole();
        for (int i = 0; i < 3; ++i) SetStdHandle(kinds[i], saved[i]);
    });
}

// Handles made inheritable for one child must not reach a child another thread starts at the
// same time; the handle list below says so too, where the system honours it.
std::mutex& StartMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

struct ChildProcess::Impl {
    HANDLE process = nullptr;
    HANDLE job = nullptr;
    DWORD id = 0;
    HANDLE input = nullptr;
    bool killed = false;
    std::optional<ChildExit> ended;
    ChildStartError startError = ChildStartError::kNone;
    std::string error;

    // Windows cannot wait on anonymous pipes together: a thread reads each piped stream.
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<ChildOutput> outputs;
    int readersRunning = 0;
    std::vector<std::thread> readers;

    void StartReader(HANDLE pipe, bool fromError) {
        ++readersRunning;
        readers.emplace_back([this, pipe, fromError] {
            char buffer[4096];
            DWORD got = 0;
            bool open = true;
            while (open) {
                open = ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0;
                {
                    std::lock_guard lock(mutex);
                    outputs.push_back({fromError, std::string(buffer, open ? got : 0)});
                    if (!open) --readersRunning;
                }
                arrived.notify_all();
            }
            CloseHandle(pipe);
        });
    }

    ~Impl() {
        for (std::thread& reader : readers) reader.join();
        CloseIfOpen(input);
        CloseIfOpen(process);
        CloseIfOpen(job);
    }
};

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess() {
    if (impl_->process != nullptr && !impl_->ended) {
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
    if (impl.process != nullptr) return fail("started before");
    if (options.limits.fileBytes) {
        return fail("Windows has no limit on the size of a process's files",
                    ChildStartError::kLimitNotEnforced);
    }
    ShareAConsoleWithChildren();

    std::wstring line;
    AppendQuoted(line, program.wstring());
    for (const std::string& argument : arguments) {
        line += L' ';
        AppendQuoted(line, Wide(argument));
    }
    std::wstring environment = EnvironmentBlock(options.environment);

    std::unique_lock starting(StartMutex());
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE childEnds[3] = {nullptr, nullptr, nullptr};
    HANDLE parentEnds[3] = {nullptr, nullptr, nullptr};
    auto closeAll = [&] {
        for (HANDLE& handle : childEnds) CloseIfOpen(handle);
        for (HANDLE& handle : parentEnds) CloseIfOpen(handle);
    };
    const ChildStream uses[3] = {options.input, options.output, options.error};
    const DWORD kinds[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int stream = 0; stream < 3; ++stream) {
        HANDLE own = GetStdHandle(kinds[stream]);
        if (uses[stream] == ChildStream::kPipe) {
            HANDLE read = nullptr;
            HANDLE write = nullptr;
            if (!CreatePipe(&read, &write, &inheritable, 0)) {
                closeAll();
                return fail(LastErrorText("cannot make a pipe"));
            }
            childEnds[stream] = stream == 0 ? read : write;
            parentEnds[stream] = stream == 0 ? write : read;
            SetHandleInformation(parentEnds[stream], HANDLE_FLAG_INHERIT, 0);
        } else if (uses[stream] == ChildStream::kInherit && own != nullptr &&
                   own != INVALID_HANDLE_VALUE) {
            DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &childEnds[stream], 0,
                            TRUE, DUPLICATE_SAME_ACCESS);
        }
        // Discarded, or a stream this process does not have itself.
        if (childEnds[stream] == nullptr) {
            childEnds[stream] = CreateFileW(L"NUL", stream == 0 ? GENERIC_READ : GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                            OPEN_EXISTING, 0, nullptr);
        }
    }

    SIZE_T attributesSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &attributesSize);
    std::vector<char> attributesBuffer(attributesSize);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributesBuffer.data());
    InitializeProcThreadAttributeList(attributes, 1, 0, &attributesSize);
    UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, childEnds,
                              sizeof childEnds, nullptr, nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = childEnds[0];
    startup.StartupInfo.hStdOutput = childEnds[1];
    startup.StartupInfo.hStdError = childEnds[2];
    startup.lpAttributeList = attributes;
    // Suspended until it is in its job, so that no allocation escapes the limit.
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP |
                        EXTENDED_STARTUPINFO_PRESENT | CREATE_SUSPENDED;
    PROCESS_INFORMATION created{};
    const BOOL started =
        CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, flags,
                       environment.data(), nullptr, &startup.StartupInfo, &created);
    const std::string startFailure = started ? "" : LastErrorText("cannot run " + program.string());
    DeleteProcThreadAttributeList(attributes);
    for (HANDLE& handle : childEnds) CloseIfOpen(handle);
    starting.unlock();
    if (!started) {
        closeAll();
        return fail(startFailure);
    }
    impl.process = created.hProcess;
    impl.id = created.dwProcessId;

    if (options.limits.memoryBytes) {
        impl.job = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limit{};
        limit.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_PROCESS_MEMORY;
        limit.ProcessMemoryLimit = static_cast<SIZE_T>(*options.limits.memoryBytes);
        if (impl.job == nullptr ||
            !SetInformationJobObject(impl.job, JobObjectExtendedLimitInformation, &limit,
                                     sizeof limit) ||
            !AssignProcessToJobObject(impl.job, impl.process)) {
            TerminateProcess(impl.process, kKilledExitCode);
            CloseHandle(created.hThread);
            closeAll();
            CloseIfOpen(impl.process);
            return fail(LastErrorText("cannot limit the memory of " + program.string()));
        }
        // Committing more than the limit in the child must fail; where it does not (Wine), the
        // limit is not there.
        void* probe = VirtualAllocEx(
            impl.process, nullptr, static_cast<SIZE_T>(*options.limits.memoryBytes + kProbeMargin),
            MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        if (probe != nullptr) {
            TerminateProcess(impl.process, kKilledExitCode);
            CloseHandle(created.hThread);
            closeAll();
            CloseIfOpen(impl.process);
            return fail("this system does not enforce a job's memory limit",
                        ChildStartError::kLimitNotEnforced);
        }
    }
    ResumeThread(created.hThread);
    CloseHandle(created.hThread);

    impl.input = parentEnds[0];
    if (parentEnds[1] != nullptr) impl.StartReader(parentEnds[1], false);
    if (parentEnds[2] != nullptr) impl.StartReader(parentEnds[2], true);
    return true;
}

ChildStartError ChildProcess::startError() const {
    return impl_->startError;
}

const std::string& ChildProcess::error() const {
    return impl_->error;
}

std::int64_t ChildProcess::Id() const {
    return impl_->id;
}

std::optional<ChildOutput> ChildProcess::ReadOutput() {
    Impl& impl = *impl_;
    std::unique_lock lock(impl.mutex);
    impl.arrived.wait(lock, [&] { return !impl.outputs.empty() || impl.readersRunning == 0; });
    if (impl.outputs.empty()) return std::nullopt;
    ChildOutput output = std::move(impl.outputs.front());
    impl.outputs.pop_front();
    return output;
}

bool ChildProcess::WriteInput(std::string_view bytes) {
    while (impl_->input != nullptr && !bytes.empty()) {
        DWORD sent = 0;
        const DWORD most = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 20));
        if (!WriteFile(impl_->input, bytes.data(), most, &sent, nullptr)) return false;
        bytes.remove_prefix(sent);
    }
    return impl_->input != nullptr;
}

void ChildProcess::CloseInput() {
    CloseIfOpen(impl_->input);
}

ChildExit ChildProcess::Wait() {
    Impl& impl = *impl_;
    if (impl.ended || impl.process == nullptr) return impl.ended.value_or(ChildExit{});
    WaitForSingleObject(impl.process, INFINITE);
    DWORD code = 0;
    ChildExit exit;
    if (GetExitCodeProcess(impl.process, &code) && !(impl.killed && code == kKilledExitCode)) {
        exit = {true, static_cast<int>(code)};
    }
    impl.ended = exit;
    return exit;
}

void ChildProcess::Kill() {
    Impl& impl = *impl_;
    if (impl.process != nullptr && !impl.ended) {
        impl.killed = TerminateProcess(impl.process, kKilledExitCode) || impl.killed;
    }
}

bool ChildProcess::Interrupt() {
    Impl& impl = *impl_;
    if (impl.process == nullptr || impl.ended) return false;
    return GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, impl.id) ||
           GenerateConsoleCtrlEvent(CTRL_C_EVENT, impl.id);
}

bool EndedByAbort(int status) {
    // The C runtime's abort exits with 3 once it has reported.
    return status == 3;
}

}  // namespace velmora
