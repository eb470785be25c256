// Conversions from several threads at once, all reading the same tables.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "text/CodePage.h"

namespace velmora {
namespace {

TEST(CodePageThreadsTest, ConcurrentConversionsDoNotDisturbEachOther) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 500;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            // Each thread converts a different text, with a malformed byte in it.
            const std::string utf8 = std::string(static_cast<std::size_t>(t + 1), 'x') +
                                     "联系人😀\xFF" + std::to_string(t);
            const std::string expected = std::string(static_cast<std::size_t>(t + 1), 'x') +
                                         "联系人😀\xEF\xBF\xBD" + std::to_string(t);
            for (int i = 0; i < kRounds; ++i) {
                if (SystemToUtf8(Utf8ToSystem(utf8)) != expected) ++failures[t];
                if (Utf16ToUtf8(Utf8ToUtf16(utf8)) != expected) ++failures[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace velmora
