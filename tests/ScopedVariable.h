#pragma once
// An environment variable set for a test, or unset given nullptr, and put back as it was.

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/ThisProcess.h"

namespace velmora::testing {

class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        // getenv only tells whether it is set: on Windows it gives the value in the ANSI code
        // page.
        if (std::getenv(name)) saved_ = EnvironmentVariable(name);
        SetEnvironmentValue(name, value);
    }
    ~ScopedVariable() { SetEnvironmentValue(name_, saved_ ? saved_->c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> saved_;
};

}  // namespace velmora::testing
