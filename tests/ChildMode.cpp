#include "ChildMode.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <stdexcept>

#include "platform/ThisProcess.h"

namespace velmora::testing {
namespace {

constexpr std::string_view kModeOption = "--velmora-child=";

std::map<std::string, ChildMode::Main>& Modes() {
    static std::map<std::string, ChildMode::Main> modes;
    return modes;
}

}  // namespace

ChildMode::ChildMode(std::string name, Main main) : name_(std::move(name)) {
    if (!Modes().emplace(name_, main).second) throw std::logic_error("two child modes " + name_);
}

bool ChildMode::Start(ChildProcess& child, const std::vector<std::string>& arguments,
                      const ChildOptions& options) const {
    std::vector<std::string> line{std::string(kModeOption) + name_};
    line.insert(line.end(), arguments.begin(), arguments.end());
    return child.Start(ThisProgram(), line, options);
}

std::optional<int> RunChildMode(const std::vector<std::string>& arguments) {
    if (arguments.size() < 2 || !arguments[1].starts_with(kModeOption)) return std::nullopt;
    const auto mode = Modes().find(arguments[1].substr(kModeOption.size()));
    if (mode == Modes().end()) {
        std::fprintf(stderr, "no child mode %s\n", arguments[1].c_str());
        return kChildAssertionFailed;
    }
    const int code = mode->second({arguments.begin() + 2, arguments.end()});
    std::fflush(stdout);
    // Outside a test, a failed expectation is only printed: it shows in the exit code instead.
    return ::testing::UnitTest::GetInstance()->Failed() ? kChildAssertionFailed : code;
}

}  // namespace velmora::testing
