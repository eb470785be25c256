// One Create (conversion, compile, match, offsets) of the program's patterns over its pages.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "regex/Regex.h"
#include "search/DirectoryPages.h"
#include "tests/regex/SamplePages.h"
#include "text/CodePage.h"
#include "tools/SiteContent.h"

namespace velmora {
namespace {

void RunCreate(benchmark::State& state, const Text& pattern, const std::string& page,
               bool expectSuccess, int expectedMatches) {
    Text pageText = Utf8ToSystem(page);
    Regex regex;
    for (auto _ : state) {
        bool created = regex.Create(pattern, pageText);
        if (created != expectSuccess || regex.MatchCount() != expectedMatches) {
            state.SkipWithError("unexpected outcome");
            break;
        }
        benchmark::DoNotOptimize(created);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(pageText.size()));
}

void CompanyPattern30KBPage(benchmark::State& state) {
    RunCreate(state, CompanyDetailPattern(), sample::CompanyPage(sample::Company{}), true, 1);
}
BENCHMARK(CompanyPattern30KBPage)->Unit(benchmark::kMillisecond);

// A company page of the sample site, as a search fetches it: the cost of one company's row.
void CompanyPatternSiteCompanyPage(benchmark::State& state) {
    site::CompanyPageParams params;
    params.seed = site::KeywordSeed("机械");
    params.number = 7;
    RunCreate(state, CompanyDetailPattern(), site::RenderCompanyPage(params), true, 1);
}
BENCHMARK(CompanyPatternSiteCompanyPage)->Unit(benchmark::kMicrosecond);

// 2,000 block openers and no address row: the bound, not the page, decides the cost.
void CompanyPattern1MBHostilePage(benchmark::State& state) {
    RunCreate(state, CompanyDetailPattern(), sample::HostileCompanyPage(2000, 1 << 20), false, 0);
}
BENCHMARK(CompanyPattern1MBHostilePage)->Unit(benchmark::kMillisecond);

// Block openers to the end of one 1 MB line: each scans the rest of the line for its name.
void CompanyPattern1MBOfOpeners(benchmark::State& state) {
    std::string page;
    while (page.size() < (1 << 20)) page += "<div class=\"mp4\"><b>";
    RunCreate(state, CompanyDetailPattern(), page, false, 0);
}
BENCHMARK(CompanyPattern1MBOfOpeners)->Unit(benchmark::kMillisecond);

// Every start position costs hundreds of steps and none matches: the budget, not a per-start
// limit, ends it.
void CheapStartPositions1MB(benchmark::State& state) {
    std::string page;
    while (page.size() < (1 << 20)) page += std::string(100, 'a') + "\n";
    RunCreate(state, "a*a*a*(?:b|c)", page, false, 0);
}
BENCHMARK(CheapStartPositions1MB)->Unit(benchmark::kMillisecond);

void LinkPattern100KBResultPage(benchmark::State& state) {
    std::vector<std::string> links;
    for (int i = 0; i < 30; ++i) {
        links.push_back("http://www.example.cn/company/" + std::to_string(1000 + i) + ".html");
    }
    RunCreate(state, CompanyLinkPattern(), sample::ResultPage(links, 100 * 1024), true, 30);
}
BENCHMARK(LinkPattern100KBResultPage)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmora

BENCHMARK_MAIN();
