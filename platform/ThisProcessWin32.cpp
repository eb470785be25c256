#include <windows.h>
// After windows.h, which they need.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <initializer_list>

#include "platform/ThisProcess.h"
#include "platform/Utf8Path.h"

namespace velmora {

namespace {

// Longer than the lines the program writes, so that a flush writes a line at once.
constexpr std::size_t kStreamBufferBytes = std::size_t{64} << 10;

}  // namespace

std::int64_t ProcessId() {
    return static_cast<std::int64_t>(GetCurrentProcessId());
}

std::filesystem::path ThisProgram() {
    std::wstring path(MAX_PATH, L'\0');
    while (true) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::string EnvironmentVariable(const char* name) {
    const std::wstring wideName = PathFromUtf8(name).native();
    std::wstring value;
    // The size asked for includes the terminating zero; a value that grows meanwhile asks again.
    for (DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0); size > 0;) {
        value.resize(size);
        const DWORD got = GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
        if (got < size) {
            value.resize(got);
            return Utf8FromPath(std::filesystem::path(std::move(value)));
        }
        size = got;
    }
    return {};
}

void SetEnvironmentValue(const std::string& name, const char* value) {
    // _wputenv_s keeps the C runtime's copies, which getenv reads, and the process's own alike;
    // an empty value removes the variable.
    _wputenv_s(PathFromUtf8(name).c_str(), value != nullptr ? PathFromUtf8(value).c_str() : L"");
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(Utf8FromPath(std::filesystem::path(wide[i])));
    LocalFree(wide);
    return arguments;
}

void UseUtf8StandardStreams() {
    _setmode(_fileno(stdin), _O_BINARY);
    for (std::FILE* stream : {stdout, stderr}) {
        _setmode(_fileno(stream), _O_BINARY);
        // Buffered, so that each flush reaches the console in one write: a console given a
        // character's bytes in separate writes shows each as a broken character. The program
        // flushes after every line (std::cerr after every output).
        std::setvbuf(stream, nullptr, _IOFBF, kStreamBufferBytes);
    }
    SetConsoleOutputCP(CP_UTF8);
}

}  // namespace velmora
