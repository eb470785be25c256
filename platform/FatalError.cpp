#include "platform/FatalError.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>

#include "text/CodePage.h"
#include "text/FatalHandler.h"

namespace velmora {
namespace {

void WriteToStandardError(const Text& reportText) {
    const std::string utf8 = SystemToUtf8(reportText);
    std::fwrite(utf8.data(), 1, utf8.size(), stderr);
    std::fflush(stderr);
}

FatalErrorPresenter& Presenter() {
    static FatalErrorPresenter presenter = WriteToStandardError;
    return presenter;
}

// Written when the report itself cannot be built or shown (say, memory ran out while building
// it): the fixed UTF-8 bytes of the report's heading.
constexpr std::string_view kLastResortReport = "运行时出错!\n";

[[noreturn]] void ExitAfterReport() {
    std::_Exit(-1);  // exit code -1 (255); nothing else runs, as after the platform's report
}

}  // namespace

Text FatalErrorText(const Text& message, std::optional<int> errorCode) {
    Text report = Utf8ToSystem("运行时出错!") + "\n\n";
    if (errorCode) report += Utf8ToSystem("错误代码：") + std::to_string(*errorCode) + "\n\n";
    report += Utf8ToSystem("错误信息：") + message + "\n";
    return report;
}

void SetFatalErrorPresenter(FatalErrorPresenter presenter) {
    Presenter() = presenter ? std::move(presenter) : WriteToStandardError;
}

void ReportFatalError(const Text& message, std::optional<int> errorCode) {
    // Held until the exit, so that a second thread's report never interleaves with the first.
    static std::mutex reporting;
    thread_local bool reportingHere = false;
    if (!reportingHere) {
        reportingHere = true;
        reporting.lock();
        try {
            Presenter()(FatalErrorText(message, errorCode));
            ExitAfterReport();
        } catch (...) {
        }
    }
    // Reached when building or showing the report failed, or failed again inside itself.
    std::fwrite(kLastResortReport.data(), 1, kLastResortReport.size(), stderr);
    ExitAfterReport();
}

void InstallAsTextFatalHandler() {
    SetFatalHandler([](const Text& message) { ReportFatalError(message); });
}

}  // namespace velmora
