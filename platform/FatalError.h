#pragma once
// The fatal error report: "运行时出错!" with the message, shown by the installed presenter
// (standard error until a window installs a message box), then the process exits with -1.

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

// Makes the report the text operations' fatal handler (text/FatalHandler.h). Once at start-up,
// before any thread exists.
void InstallAsTextFatalHandler();

}  // namespace velmora
