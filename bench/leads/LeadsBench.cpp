// The lead list over 100,000 rows, as a long list holds them: every cell cleaned and duplicates
// merged, as a lead export makes its list (the target: under half a second), and the cleaning
// alone.
// The rows are the sample site's companies of 40 keywords, the e-mail cell as the page marks it
// up; every tenth row lists an earlier company again under its link, every twentieth under
// another link with the name written otherwise and the same mobile, so that merging has work.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "leads/LeadCleaning.h"
#include "leads/LeadList.h"
#include "text/CodePage.h"
#include "tools/SiteContent.h"

namespace velmora {
namespace {

constexpr int kRows = 100000;
constexpr int kCompaniesPerKeyword = 2500;

std::vector<Lead> SampleLeads() {
    std::vector<Lead> leads;
    leads.reserve(kRows);
    for (int i = 0; i < kRows; ++i) {
        const int keyword = i / kCompaniesPerKeyword;
        if (i % 10 == 9 || i % 20 == 19) {
            Lead again = leads[static_cast<std::size_t>(i / 3)];
            if (i % 20 == 19) {
                again.origin.link += "?again";
                again.row.companyName = Utf8ToSystem(" " + SystemToUtf8(again.row.companyName));
                again.row.telephone.clear();
                again.row.email.clear();
            }
            leads.push_back(std::move(again));
            continue;
        }
        const std::uint64_t seed = site::KeywordSeed("关键词" + std::to_string(keyword));
        const int number = i % kCompaniesPerKeyword + 1;
        const site::CompanyRecord company = site::GenerateCompany(seed, number);
        std::string email = company.email;
        if (!email.empty() && site::EmailMarkupOf(seed, number) == site::EmailMarkup::Link) {
            email = "<a href=\"mailto:" + email + "\" target=_blank>" + email + "</a>";
        }
        leads.push_back(
            {{"http://127.0.0.1:8080" + site::CompanyTarget(seed, number), keyword + 1},
             {Utf8ToSystem(company.companyName), Utf8ToSystem(company.contact),
              Utf8ToSystem(company.telephone), Utf8ToSystem(company.mobile),
              Utf8ToSystem(company.fax), Utf8ToSystem(email), Utf8ToSystem(company.address)}});
    }
    return leads;
}

const std::vector<Lead>& Leads() {
    static const std::vector<Lead> leads = SampleLeads();
    return leads;
}

// What the lead export and --dedupe do: a copy of the rows made into a cleaned, merged list.
void BM_CleanAndMerge(benchmark::State& state) {
    std::size_t merged = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<Lead> rows = Leads();
        state.ResumeTiming();
        merged = MakeLeadList(std::move(rows), {.clean = true, .merge = true}, {})->size();
    }
    state.counters["rows"] = kRows;
    state.counters["companies"] = static_cast<double>(merged);
}
BENCHMARK(BM_CleanAndMerge)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Clean(benchmark::State& state) {
    for (auto _ : state) {
        for (const Lead& lead : Leads()) benchmark::DoNotOptimize(CleanRow(lead.row));
    }
}
BENCHMARK(BM_Clean)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace velmora
BENCHMARK_MAIN();
