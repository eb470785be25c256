// The searches over page-sized texts: FindText across 1 MB of mixed Chinese and ASCII, and
// TextBetween from byte 10000 of a 100 KB result page; the conversions of a 30 KB company page
// of the sample site between UTF-8 and the system code page, both ways, and its check as the
// search reads it.

#include <benchmark/benchmark.h>

#include <string>

#include "text/CodePage.h"
#include "text/TextOps.h"
#include "tools/SiteContent.h"

namespace velmora {
namespace {

// Repeats a line of company-page text (CR LF, Chinese labels, full-width punctuation) up to
// `size` bytes.
Text MixedText(std::size_t size) {
    const Text line = Utf8ToSystem(
        "<tr><td>公司名称：</td><td>深圳市华强电子科技有限公司</td></tr>"
        "<tr><td>联系电话：</td><td>0755-83216688　手机：13800138000</td></tr>\r\n");
    Text text;
    while (text.size() + line.size() <= size) text += line;
    return text;
}

void BM_FindTextOverOneMegabyte(benchmark::State& state) {
    constexpr std::size_t kSize = 1 << 20;
    const Text needle = Utf8ToSystem("地址：北京");  // once, at the very end
    const Text text = MixedText(kSize - needle.size()) + needle;
    const int expected = static_cast<int>(text.size() - needle.size()) + 1;
    for (auto _ : state) {
        const int found = FindText(text, needle);
        if (found != expected) state.SkipWithError("needle not found where it was put");
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_FindTextOverOneMegabyte);

void BM_TextBetweenOnAResultPage(benchmark::State& state) {
    constexpr std::size_t kPageSize = 100 * 1024;
    constexpr int kFromByte = 10000;
    // The count and total sit near the end of the page, past a decoy in its head.
    const Text start = Utf8ToSystem("共找到<em>");
    const Text end = "</em>";
    const Text tail = ConcatText(start, "1234", end, Utf8ToSystem("条结果"), "</div>\r\n");
    const Text head = ConcatText(start, "0", end);
    const Text page = ConcatText(head, MixedText(kPageSize - head.size() - tail.size() - 2000),
                                 tail, MixedText(2000));
    for (auto _ : state) {
        const Text total = TextBetween(page, start, end, kFromByte);
        if (total != "1234") state.SkipWithError("wrong cut");
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(page.size() - kFromByte));
}
BENCHMARK(BM_TextBetweenOnAResultPage);

// The sample site's company page: ASCII markup with Chinese text, as a search fetches it.
std::string SiteCompanyPage() {
    site::CompanyPageParams params;
    params.seed = site::KeywordSeed("机械");
    return site::RenderCompanyPage(params);
}

void BM_Utf8ToSystemOnACompanyPage(benchmark::State& state) {
    const std::string page = SiteCompanyPage();
    for (auto _ : state) benchmark::DoNotOptimize(Utf8ToSystem(page));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(page.size()));
}
BENCHMARK(BM_Utf8ToSystemOnACompanyPage);

void BM_SystemToUtf8OnACompanyPage(benchmark::State& state) {
    const Text page = Utf8ToSystem(SiteCompanyPage());
    for (auto _ : state) benchmark::DoNotOptimize(SystemToUtf8(page));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(page.size()));
}
BENCHMARK(BM_SystemToUtf8OnACompanyPage);

// The page as the search matches it: checked to come back whole through the system code page.
void BM_PageCheckOnACompanyPage(benchmark::State& state) {
    const std::string page = SiteCompanyPage();
    for (auto _ : state) benchmark::DoNotOptimize(SystemUtf8::FromUtf8(page));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(page.size()));
}
BENCHMARK(BM_PageCheckOnACompanyPage);

}  // namespace
}  // namespace velmora

BENCHMARK_MAIN();
