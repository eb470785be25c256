// The fatal error report: its exact text on standard error and exit code -1 (255).

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <stdexcept>
#include <string>

#include "platform/FatalError.h"
#include "text/CodePage.h"
#include "text/TextOps.h"

namespace velmora {
namespace {

using ::testing::ExitedWithCode;
using ::testing::StrEq;

constexpr int kFatalExitCode = 255;

// The report as standard error shows it, in UTF-8.
std::string ReportFor(const std::string& messageUtf8) {
    return "运行时出错!\n\n错误信息：" + messageUtf8 + "\n";
}

TEST(FatalErrorDeathTest, ReportNamesTheMessageAndExitsWithMinusOne) {
    EXPECT_EXIT(ReportFatalError(Utf8ToSystem("载入启动窗口失败")), ExitedWithCode(kFatalExitCode),
                StrEq(ReportFor("载入启动窗口失败")));
}

TEST(FatalErrorDeathTest, ErrorCodeComesBeforeTheMessage) {
    EXPECT_EXIT(ReportFatalError("x", 5), ExitedWithCode(kFatalExitCode),
                StrEq("运行时出错!\n\n错误代码：5\n\n错误信息：x\n"));
}

TEST(FatalErrorDeathTest, RemainderByZeroEndsTheProgram) {
    InstallAsTextFatalHandler();
    const std::string report = ReportFor("不能求余数于零");
    EXPECT_EXIT(Remainder(5, 0), ExitedWithCode(kFatalExitCode), StrEq(report));
    EXPECT_EXIT(Remainder(5, 3, 0.0), ExitedWithCode(kFatalExitCode), StrEq(report))
        << "a zero among the further divisors";
    EXPECT_EXIT(Remainder(0, -0.0), ExitedWithCode(kFatalExitCode), StrEq(report));
}

TEST(FatalErrorDeathTest, InstalledPresenterShowsTheReport) {
    EXPECT_EXIT(
        {
            SetFatalErrorPresenter([](const Text& report) {
                const std::string shown = "shown: " + SystemToUtf8(report);
                std::fputs(shown.c_str(), stderr);
            });
            ReportFatalError("boom");
        },
        ExitedWithCode(kFatalExitCode), StrEq("shown: " + ReportFor("boom")));
}

TEST(FatalErrorDeathTest, PresenterThatFailsStillEndsTheProgramWithTheHeading) {
    EXPECT_EXIT(
        {
            SetFatalErrorPresenter(
                [](const Text&) { throw std::runtime_error("no window to show it in"); });
            ReportFatalError("boom");
        },
        ExitedWithCode(kFatalExitCode), StrEq("运行时出错!\n"));
}

TEST(FatalErrorDeathTest, AllocationFailureNamesTheByteCount) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer ends the process itself when memory runs out";
#else
    // Lets the death test's child run out of address space long before the machine does.
    const auto LimitAddressSpace = [] {
        constexpr rlim_t kAddressSpaceLimit = 512ull << 20;  // the binary fits, 1 GiB does not
        const rlimit limit{kAddressSpaceLimit, kAddressSpaceLimit};
        setrlimit(RLIMIT_AS, &limit);
    };
    constexpr int kOneGiB = 1 << 30;
    InstallAsTextFatalHandler();
    EXPECT_EXIT(
        {
            LimitAddressSpace();
            ZeroBytes(kOneGiB);
        },
        ExitedWithCode(kFatalExitCode), StrEq(ReportFor("分配 1073741824 字节内存失败!")));
    EXPECT_EXIT(
        {
            LimitAddressSpace();
            SpaceText(kOneGiB);
        },
        ExitedWithCode(kFatalExitCode), StrEq(ReportFor("分配 1073741825 字节内存失败!")))
        << "a text's count includes its terminating zero";
#endif
}

}  // namespace
}  // namespace velmora
