// Regex objects used on many threads at once, each thread with its own.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "regex/Regex.h"
#include "search/DirectoryPages.h"
#include "tests/regex/SamplePages.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

TEST(RegexConcurrency, ThreadsWithTheirOwnRegexSeeOnlyTheirOwnResults) {
    constexpr int kThreads = 8;
    constexpr int kPagesPerThread = 20;
    const Text& pattern = CompanyDetailPattern();
    Text hostile = Utf8ToSystem(sample::HostileCompanyPage(200, 100 * 1024));
    std::vector<std::vector<Text>> names(kThreads);
    std::vector<int> boundHits(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Regex regex;
            for (int p = 0; p < kPagesPerThread; ++p) {
                sample::Company company;
                company.name = "公司" + std::to_string(t) + "-" + std::to_string(p);
                if (regex.Create(pattern, Utf8ToSystem(sample::CompanyPage(company, 8000)))) {
                    names[t].push_back(regex.GetSubMatch(1, 1));
                }
                // Copies made on this thread stay valid while the original moves on.
                Regex copy = regex.Copy();
                if (!regex.Create(pattern, hostile) && copy.MatchCount() == 1) ++boundHits[t];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(names[t].size(), static_cast<size_t>(kPagesPerThread)) << t;
        for (int p = 0; p < kPagesPerThread; ++p) {
            EXPECT_EQ(SystemToUtf8(names[t][p]),
                      "公司" + std::to_string(t) + "-" + std::to_string(p));
        }
        EXPECT_EQ(boundHits[t], kPagesPerThread) << t;
    }
}

}  // namespace
}  // namespace velmora
