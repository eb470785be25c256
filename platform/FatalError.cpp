#include "platform/FatalError.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "text/CodePage.h"

namespace velmora {
namespace {

void WriteToStandardError(const Text& reportText) {
    std::string utf8 = SystemToUtf8(reportText);
    std::fwrite(utf8.data(), 1, utf8.size(), stderr);
    std::fflush(stderr);
}

FatalErrorPresenter& Presenter() {
    static FatalErrorPresenter presenter = WriteToStandardError;
    return presenter;
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
    Presenter()(FatalErrorText(message, errorCode));
    std::_Exit(-1);  // exit code -1 (255); nothing else runs, as after the platform's report
}

}  // namespace velmora
