#pragma once
// Code of a test that must run in a process of its own (to be killed, to hold a lock as it dies,
// to run under a limit), where a POSIX test would fork, which Windows cannot: the test program
// starts itself again, and the tests' main runs the named child mode there instead of the tests.

#include <optional>
#include <string>
#include <vector>

#include "platform/ChildProcess.h"

namespace velmora::testing {

class ChildMode {
public:
    // Gets the arguments Start was given; returns the process's exit code.
    using Main = int (*)(const std::vector<std::string>& arguments);

    // Made at static initialisation, under a name of its own within the test program.
    ChildMode(std::string name, Main main);
    ChildMode(const ChildMode&) = delete;
    ChildMode& operator=(const ChildMode&) = delete;

    // Starts this program again in this mode; false, with child.error() telling why, when it
    // cannot.
    [[nodiscard]] bool Start(ChildProcess& child, const std::vector<std::string>& arguments,
                             const ChildOptions& options = {}) const;

private:
    std::string name_;
};

// The exit code of a child mode in which an assertion failed; its standard output tells which.
inline constexpr int kChildAssertionFailed = 125;

// For the tests' main: when the command line names a child mode, runs it and gives its exit
// code.
std::optional<int> RunChildMode(const std::vector<std::string>& arguments);

}  // namespace velmora::testing
