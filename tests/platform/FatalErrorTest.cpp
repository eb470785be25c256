// The fatal error report: its exact text on standard error and exit code -1 (255).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/ChildProcess.h"
#include "platform/FatalError.h"
#include "tests/ChildMode.h"
#include "text/CodePage.h"
#include "text/TextOps.h"

namespace velmora {
namespace {

using ::testing::StrEq;

// Exit code -1 as a death test sees it: 255 in a wait status on POSIX, whose exit statuses have
// 8 bits; the exit code -1 on Windows.
bool ExitedWithMinusOne(int status) {
    return ::testing::ExitedWithCode(255)(status) || ::testing::ExitedWithCode(-1)(status);
}

// The report as standard error shows it, in UTF-8.
std::string ReportFor(const std::string& messageUtf8) {
    return "运行时出错!\n\n错误信息：" + messageUtf8 + "\n";
}

TEST(FatalErrorDeathTest, ReportNamesTheMessageAndExitsWithMinusOne) {
    EXPECT_EXIT(ReportFatalError(Utf8ToSystem("载入启动窗口失败")), ExitedWithMinusOne,
                StrEq(ReportFor("载入启动窗口失败")));
}

TEST(FatalErrorDeathTest, ErrorCodeComesBeforeTheMessage) {
    EXPECT_EXIT(ReportFatalError("x", 5), ExitedWithMinusOne,
                StrEq("运行时出错!\n\n错误代码：5\n\n错误信息：x\n"));
}

TEST(FatalErrorDeathTest, RemainderByZeroEndsTheProgram) {
    InstallAsTextFatalHandler();
    const std::string report = ReportFor("不能求余数于零");
    EXPECT_EXIT(Remainder(5, 0), ExitedWithMinusOne, StrEq(report));
    EXPECT_EXIT(Remainder(5, 3, 0.0), ExitedWithMinusOne, StrEq(report))
        << "a zero among the further divisors";
    EXPECT_EXIT(Remainder(0, -0.0), ExitedWithMinusOne, StrEq(report));
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
        ExitedWithMinusOne, StrEq("shown: " + ReportFor("boom")));
}

TEST(FatalErrorDeathTest, PresenterThatFailsStillEndsTheProgramWithTheHeading) {
    EXPECT_EXIT(
        {
            SetFatalErrorPresenter(
                [](const Text&) { throw std::runtime_error("no window to show it in"); });
            ReportFatalError("boom");
        },
        ExitedWithMinusOne, StrEq("运行时出错!\n"));
}

constexpr int kOneGiB = 1 << 30;

// Asks for a gibibyte, as zeroed bytes or, given "text", as a text of spaces.
int AllocateAGibibyte(const std::vector<std::string>& arguments) {
    InstallAsTextFatalHandler();
    if (!arguments.empty() && arguments[0] == "text") {
        SpaceText(kOneGiB);
    } else {
        ZeroBytes(kOneGiB);
    }
    return 0;
}
const testing::ChildMode kAllocateAGibibyte("allocate-a-gibibyte", AllocateAGibibyte);

TEST(FatalErrorDeathTest, AllocationFailureNamesTheByteCount) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer ends the process itself when memory runs out";
#else
    // The child runs out of memory long before the machine does: it fits, 1 GiB more does not.
    ChildOptions options;
    options.limits.memoryBytes = 512ull << 20;
    options.error = ChildStream::kPipe;
    const struct {
        const char* as;
        std::string report;
    } cases[] = {
        {"bytes", ReportFor("分配 1073741824 字节内存失败!")},
        // A text's count includes its terminating zero.
        {"text", ReportFor("分配 1073741825 字节内存失败!")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.as);
        ChildProcess child;
        if (!kAllocateAGibibyte.Start(child, {c.as}, options)) {
            if (child.startError() == ChildStartError::kLimitNotEnforced) {
                GTEST_SKIP() << child.error();
            }
            FAIL() << child.error();
        }
        std::string report;
        while (const std::optional<ChildOutput> output = child.ReadOutput()) {
            report += output->bytes;
        }
        const ChildExit exit = child.Wait();
        EXPECT_TRUE(exit.exited && (exit.code == 255 || exit.code == -1)) << exit.code;
        EXPECT_EQ(report, c.report);
    }
#endif
}

}  // namespace
}  // namespace velmora
