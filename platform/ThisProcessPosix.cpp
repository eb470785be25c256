#include <unistd.h>

#include <cstdlib>

#include "platform/ThisProcess.h"

namespace velmora {

std::int64_t ProcessId() {
    return getpid();
}

std::filesystem::path ThisProgram() {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error);
}

std::string EnvironmentVariable(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

void SetEnvironmentValue(const std::string& name, const char* value) {
    value != nullptr ? setenv(name.c_str(), value, 1) : unsetenv(name.c_str());
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void UseUtf8StandardStreams() {
    // Bytes pass through unchanged already, and the terminal's locale decides how they show.
}

}  // namespace velmora
