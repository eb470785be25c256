#include "SearchFixture.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "tools/SiteContent.h"

namespace velmora::testing {

namespace {

constexpr auto kPressPatience = std::chrono::seconds(60);

}  // namespace

site::SiteOptions SearchFixture::SmallSite(int pages, int linksPerPage) {
    site::SiteOptions options;
    options.pages = pages;
    options.linksPerPage = linksPerPage;
    options.companyPageBytes = 3000;
    return options;
}

void SearchFixture::Open(site::SiteOptions options, JournalSettings journal) {
    site_ = std::make_unique<site::SampleSite>(std::move(options));
    ASSERT_TRUE(site_->Start()) << site_->Error();
    client_.Open(Text(kDefaultUserAgent));
    session_ =
        std::make_unique<SearchSession>(window_, client_, site_->BaseUrl(), std::move(journal));
}

void SearchFixture::TearDown() {
    session_.reset();
    if (site_) site_->Stop();
}

std::vector<std::string> SearchFixture::Targets() const {
    std::vector<std::string> targets;
    for (const site::RecordedRequest& request : site_->Requests()) {
        targets.push_back(request.target);
    }
    return targets;
}

std::string SearchFixture::CompanyTarget(int number, const std::string& keyword) const {
    return site::CompanyTarget(site::KeywordSeed(keyword), number);
}

std::vector<Cells> SearchFixture::ExpectedRows(int first, int last,
                                               const std::string& keyword) const {
    std::vector<Cells> rows;
    for (int number = first; number <= last; ++number) {
        const site::CompanyRecord c = site::GenerateCompany(site::KeywordSeed(keyword), number);
        rows.push_back(
            {c.companyName, c.contact, c.telephone, c.mobile, c.fax, c.email, c.address});
    }
    return rows;
}

bool SearchFixture::PressUntilAccepted(bool (*press)(SearchSession&)) {
    const auto deadline = std::chrono::steady_clock::now() + kPressPatience;
    while (!press(*session_)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

std::vector<Cells> Sorted(std::vector<Cells> rows) {
    std::sort(rows.begin(), rows.end());
    return rows;
}

}  // namespace velmora::testing
