#pragma once
// The fatal error report: "运行时出错!" with the message, shown by the installed presenter
// (standard error until a window installs a message box), then the process exits with -1.

#include <cstddef>
#include <functional>
#include <optional>

#include "text/Text.h"

namespace velmora {

// The report's full text as the user sees it.
Text FatalErrorText(const Text& message, std::optional<int> errorCode = std::nullopt);

// Shows a fatal report; installed once at start-up, before any thread exists.
using FatalErrorPresenter = std::function<void(const Text& reportText)>;
void SetFatalErrorPresenter(FatalErrorPresenter presenter);

// Shows the report and exits with -1. Safe from any thread: the first report wins and every
// later one waits for the exit.
[[noreturn]] void ReportFatalError(const Text& message,
                                   std::optional<int> errorCode = std::nullopt);

// The report for memory that cannot be allocated, naming the bytes asked for.
[[noreturn]] void ReportAllocationFailure(std::size_t byteCount);

}  // namespace velmora
