// Whole searches against the sample site: the requests in order, what the window shows, the rows.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "SearchFixture.h"
#include "platform/NamedMutex.h"
#include "search/CompanyDetail.h"
#include "search/CrawlSteps.h"
#include "search/DirectoryPages.h"
#include "search/ListingCrawl.h"
#include "search/SearchTexts.h"
#include "tools/SiteContent.h"

namespace velmora::testing {
namespace {

using Kind = WindowEvent::Kind;

// One request, or a batch of company pages whose order is the workers' and not fixed.
struct Expected {
    std::vector<std::string> targets;
    bool anyOrder = false;
};

void ExpectRequests(const std::vector<std::string>& actual, const std::vector<Expected>& expected) {
    std::size_t at = 0;
    for (const Expected& step : expected) {
        ASSERT_LE(at + step.targets.size(), actual.size()) << "missing requests";
        std::vector<std::string> got(
            actual.begin() + static_cast<std::ptrdiff_t>(at),
            actual.begin() + static_cast<std::ptrdiff_t>(at + step.targets.size()));
        std::vector<std::string> want = step.targets;
        if (step.anyOrder) {
            std::sort(got.begin(), got.end());
            std::sort(want.begin(), want.end());
        }
        ASSERT_EQ(got, want) << "requests from number " << at + 1;
        at += step.targets.size();
    }
    EXPECT_EQ(at, actual.size()) << "requests after the expected ones";
}

// After every AppendRow come that row's seven cells in column order, and nothing between.
void ExpectRowsFilledOneAtATime(const std::vector<WindowEvent>& events) {
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i].kind != Kind::AppendRow) continue;
        ASSERT_LE(i + kResultColumnCount, events.size() - 1);
        for (int column = 0; column < kResultColumnCount; ++column) {
            const WindowEvent& cell = events[i + 1 + static_cast<std::size_t>(column)];
            ASSERT_EQ(cell.kind, Kind::SetCell) << "event " << i + 1 + column;
            EXPECT_EQ(cell.first, events[i].first);
            EXPECT_EQ(cell.second, column);
        }
    }
}

struct Plan {
    std::vector<Expected> requests;
    std::vector<std::string> notices;
    std::vector<std::string> dispatched;
};

// What a search of `pages` pages with `links` links each must do, as the crawl's rules say.
Plan PlanFor(int pages, int links) {
    Plan plan;
    const std::string search = site::SearchTarget(kKeyword);
    plan.requests = {{{search}}, {{search}}};
    Expected batch{{}, true};
    int handedOut = 0;
    for (int page = 1; page <= pages; ++page) {
        plan.requests.push_back({{site::SearchTarget(kKeyword, page)}});
        plan.notices.push_back(page % 4 == 0 ? search_text::kNoticeNetwork
                                             : search_text::kNoticeMenu);
        for (int i = 1; i <= links; ++i) {
            batch.targets.push_back(
                site::CompanyTarget(site::KeywordSeed(kKeyword), (page - 1) * links + i));
        }
        if (page % 2 == 0 || page == pages || pages == 3) {
            handedOut += static_cast<int>(batch.targets.size());
            plan.dispatched.push_back(std::string(search_text::kDispatchedBefore) +
                                      std::to_string(handedOut) + search_text::kCountAfter);
            plan.requests.push_back(batch);
            batch.targets.clear();
        }
    }
    return plan;
}

class CrawlTest : public SearchFixture {};

// Pages and links per page.
class PagesTest : public SearchFixture,
                  public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(PagesTest, RequestsStatusTextsAndRowsFollowThePageCount) {
    const auto [pages, links] = GetParam();
    Open(SmallSite(pages, links));
    StartTyped();
    WaitForSearchEnd(*session_);

    const Plan plan = PlanFor(pages, links);
    ExpectRequests(Targets(), plan.requests);
    EXPECT_EQ(window_.Texts(Kind::Status, 0),
              std::vector<std::string>{search_text::kStatusRunning});
    EXPECT_EQ(window_.Texts(Kind::Status, 1),
              std::vector<std::string>{std::string(search_text::kResultsBefore) +
                                       std::to_string(pages * links) + search_text::kCountAfter});
    EXPECT_EQ(window_.Texts(Kind::Status, 2), plan.dispatched);
    EXPECT_EQ(window_.Texts(Kind::Status, 3), plan.notices);
    EXPECT_EQ(window_.TimerPeriods(), (std::vector<int>{1000, 0}));
    EXPECT_EQ(window_.Texts(Kind::Message), std::vector<std::string>{search_text::kSearchFinished});
    EXPECT_TRUE(window_.Texts(Kind::Clipboard).empty());

    // Every company once, each field whole (e-mail addresses of every form included).
    EXPECT_EQ(Sorted(window_.RowsUtf8()), Sorted(ExpectedRows(1, pages * links)));
    ExpectRowsFilledOneAtATime(window_.Events());
    EXPECT_EQ(session_->serial.activeWorkers.load(), 0);
}

// The last batch has more links than worker threads may live at once.
INSTANTIATE_TEST_SUITE_P(PageCounts, PagesTest,
                         ::testing::Values(std::pair{1, 3}, std::pair{2, 3}, std::pair{3, 3},
                                           std::pair{4, 3}, std::pair{5, 3}, std::pair{8, 1},
                                           std::pair{2, kMaxWorkerThreads}));

TEST_F(CrawlTest, SiteDataHoldsAddressesThatBeginWithTheTroublesomeLetters) {
    // The e-mail checks above only bite if such addresses are among the rows compared.
    int troublesome = 0;
    for (const Cells& row : ExpectedRows(1, 15)) {
        troublesome +=
            !row[5].empty() && std::string("abklnzABKLNZ").find(row[5][0]) != std::string::npos;
    }
    EXPECT_GE(troublesome, 2);
}

TEST_F(CrawlTest, SecondSearchAppendsBelowTheFirstAndCountsAfresh) {
    Open(SmallSite(2, 2));
    StartTyped();
    WaitForSearchEnd(*session_);
    StartTyped();
    WaitForSearchEnd(*session_);

    const std::string running = search_text::kStatusRunning;
    EXPECT_EQ(window_.Texts(Kind::Status, 0), (std::vector<std::string>{running, running}));
    const std::string four =
        std::string(search_text::kDispatchedBefore) + "4" + search_text::kCountAfter;
    EXPECT_EQ(window_.Texts(Kind::Status, 2), (std::vector<std::string>{four, four}));
    EXPECT_EQ(window_.TimerPeriods(), (std::vector<int>{1000, 0, 1000, 0}));
    const std::vector<Cells> rows = window_.RowsUtf8();
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(Sorted({rows.begin(), rows.begin() + 4}), Sorted(ExpectedRows(1, 4)));
    EXPECT_EQ(Sorted({rows.begin() + 4, rows.end()}), Sorted(ExpectedRows(1, 4)));
}

TEST_F(CrawlTest, NoHitsShowsTheMessageAndLeavesTheTimerRunning) {
    const std::string keyword = "无此产品";
    site::SiteOptions options = SmallSite(3, 2);
    options.noHitsKeywords = {keyword};
    Open(options);
    window_.SetKeyword(keyword);
    StartTyped();
    WaitForSearchEnd(*session_);

    EXPECT_EQ(Targets(), (std::vector<std::string>(2, site::SearchTarget(keyword))));
    EXPECT_EQ(window_.Texts(Kind::Message),
              std::vector<std::string>{std::string(search_text::kNoHitsBefore) + keyword +
                                       search_text::kNoHitsAfter});
    EXPECT_EQ(window_.Texts(Kind::Status, 0),
              (std::vector<std::string>{search_text::kStatusRunning, search_text::kStatusNoHits}));
    EXPECT_EQ(window_.Texts(Kind::Status, 1),
              std::vector<std::string>{std::string(search_text::kResultsBefore) +
                                       search_text::kCountAfter});
    EXPECT_EQ(window_.TimerPeriods(), std::vector<int>{1000});
    EXPECT_EQ(window_.RowCount(), 0);
}

TEST_F(CrawlTest, UnreadableCompanyPagesGoToTheClipboardAndLeaveEmptyRows) {
    site::SiteOptions options = SmallSite(1, 4);
    options.faults = {{site::FaultKind::NoMatch, site::FaultScope::Company, {2}},
                      {site::FaultKind::ServerError, site::FaultScope::Company, {3}},
                      {site::FaultKind::Reset, site::FaultScope::Company, {4}}};
    Open(options);
    StartTyped();
    WaitForSearchEnd(*session_);

    site::CompanyPageParams changed;
    changed.seed = site::KeywordSeed(kKeyword);
    changed.number = 2;
    changed.minimumBytes = 3000;
    changed.markup = site::Markup::Changed;
    std::vector<std::string> clipboard = window_.Texts(Kind::Clipboard);
    std::sort(clipboard.begin(), clipboard.end());
    std::vector<std::string> expected{site::RenderCompanyPage(changed),
                                      site::RenderServerErrorPage(500, "Internal Server Error"),
                                      ""};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(clipboard, expected);

    const std::vector<Cells> rows = window_.RowsUtf8();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), Cells{}), 3);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), ExpectedRows(1, 1)[0]), 1);
    EXPECT_EQ(window_.CompleteRows(), 4);
    EXPECT_EQ(window_.Texts(Kind::Message), std::vector<std::string>{search_text::kSearchFinished});
}

TEST_F(CrawlTest, KeywordIsEncodedAndTakenOnceAtTheStart) {
    const std::string noHits = "无此产品";
    site::SiteOptions options = SmallSite(1, 1);
    options.noHitsKeywords = {noHits};
    // The box changes as soon as the site is asked: the search goes on with the keyword it
    // started with, in every request and in the no-hits message.
    options.onRequest = [this](const site::RecordedRequest&) { window_.SetKeyword("b~c"); };
    Open(options);
    window_.SetKeyword("中 a_b");
    StartTyped();
    WaitForSearchEnd(*session_);

    const std::string search =
        "/search/index.php?_d=company&_a=company_s_search&f=search&terms=%E4%B8%AD%20a%5Fb";
    EXPECT_EQ(Targets(), (std::vector<std::string>{search, search, search + "&p=1",
                                                   CompanyTarget(1, "中 a_b")}));

    site_->ClearRequests();
    window_.SetKeyword(noHits);
    StartTyped();
    WaitForSearchEnd(*session_);
    EXPECT_EQ(Targets(), std::vector<std::string>(2, site::SearchTarget(noHits)));
    EXPECT_EQ(window_.Texts(Kind::Message).back(),
              std::string(search_text::kNoHitsBefore) + noHits + search_text::kNoHitsAfter);
}

TEST_F(CrawlTest, UnreachableSiteIsToldAsSuchAndAnsweringOnesAreNot) {
    // Nothing listens where the site was.
    Open(SmallSite(1, 1));
    const std::string base = site_->BaseUrl();
    site_->Stop();
    StartTyped();
    WaitForSearchEnd(*session_);
    EXPECT_EQ(window_.Texts(Kind::Message),
              std::vector<std::string>{std::string(search_text::kUnreachableBefore) + base +
                                       "（对方拒绝连接）"});
    EXPECT_EQ(
        window_.Texts(Kind::Status, 0),
        (std::vector<std::string>{search_text::kStatusRunning, search_text::kStatusUnreachable}));
    EXPECT_EQ(window_.TimerPeriods(), (std::vector<int>{1000, 0}));
    EXPECT_TRUE(window_.Texts(Kind::Status, 1).empty()) << "no total was read";
    EXPECT_TRUE(session_->siteUnreachable);

    // A site that resets the connection answered nothing readable, but it was reached: no hits.
    site::SiteOptions resetting = SmallSite(1, 1);
    resetting.faults = {{site::FaultKind::Reset, site::FaultScope::ResultPage, {0}}};
    site::SampleSite reached(resetting);
    ASSERT_TRUE(reached.Start()) << reached.Error();
    RecordingWindow window(kKeyword);
    HttpClient client;
    client.Open(Text(kDefaultUserAgent));
    SearchSession session(window, client, reached.BaseUrl());
    StartSearch(session, {window.Keyword()});
    WaitForSearchEnd(session);
    EXPECT_EQ(reached.RequestCount(), 2u);
    EXPECT_EQ(window.Texts(Kind::Status, 0),
              (std::vector<std::string>{search_text::kStatusRunning, search_text::kStatusNoHits}));
    EXPECT_FALSE(session.siteUnreachable);
}

TEST_F(CrawlTest, PaddedCompanyLinkIsFetchedWithoutItsBlanks) {
    Open(SmallSite(1, 3));
    session_->serial.workerMutex = std::make_unique<NamedMutex>(kWorkerMutexName);
    const std::vector<ListedLink> links{{" " + site_->CompanyUrl(kKeyword, 1), {1, 1}},
                                        {site_->CompanyUrl(kKeyword, 2) + "\t ", {1, 2}},
                                        {"  " + site_->CompanyUrl(kKeyword, 3) + " ", {1, 3}}};
    session_->serial.companyLinks = links;
    for (int linkIndex = 1; linkIndex <= 3; ++linkIndex) ExtractCompany(*session_, linkIndex);

    EXPECT_EQ(Targets(),
              (std::vector<std::string>{CompanyTarget(1), CompanyTarget(2), CompanyTarget(3)}));
    EXPECT_EQ(window_.RowsUtf8(), ExpectedRows(1, 3));
    EXPECT_EQ(session_->serial.companyLinks, links) << "the list keeps the links as found";
}

TEST_F(CrawlTest, APageCountMissingWhileCompaniesAreListedLeavesTheFirstPageUnread) {
    site::SiteOptions options = SmallSite(3, 2);
    options.faults = {{site::FaultKind::NoPageCount, site::FaultScope::ResultPage, {0}}};
    Open(options);
    StartTyped();
    WaitForSearchEnd(*session_);

    EXPECT_EQ(Targets().size(), 2u);
    EXPECT_EQ(window_.Texts(Kind::Status, 1),
              std::vector<std::string>{std::string(search_text::kResultsBefore) + "6" +
                                       search_text::kCountAfter});
    EXPECT_EQ(window_.Texts(Kind::Message), std::vector<std::string>{search_text::kSearchFinished});
    EXPECT_EQ(window_.TimerPeriods(), (std::vector<int>{1000, 0}));
    EXPECT_EQ(window_.RowCount(), 0);
    EXPECT_EQ(session_->lastEnd, SearchState::kIncomplete) << "no walk of nothing called finished";
    EXPECT_EQ(window_.Texts(Kind::Status, 3).back(),
              std::string(search_text::kFailedPagesBefore) + "1" +
                  search_text::kFailedResultPagesAfter + "0" +
                  search_text::kFailedCompanyPagesAfter);
}

TEST_F(CrawlTest, MarkersBeforeTheSearchStartReadAsNoHits) {
    site::SiteOptions options = SmallSite(3, 2);
    options.faults = {{site::FaultKind::ShortPage, site::FaultScope::ResultPage, {0}}};
    Open(options);
    StartTyped();
    WaitForSearchEnd(*session_);

    EXPECT_EQ(Targets().size(), 2u);
    EXPECT_EQ(window_.Texts(Kind::Status, 1),
              std::vector<std::string>{std::string(search_text::kResultsBefore) +
                                       search_text::kCountAfter});
    EXPECT_EQ(window_.Texts(Kind::Status, 0),
              (std::vector<std::string>{search_text::kStatusRunning, search_text::kStatusNoHits}));
}

TEST_F(CrawlTest, PageWithTwoContactBlocksGivesTheFirstCompanysRow) {
    site::SiteOptions options = SmallSite(1, 2);
    options.faults = {{site::FaultKind::TwoBlocks, site::FaultScope::Company, {1}}};
    Open(options);
    StartTyped();
    WaitForSearchEnd(*session_);
    EXPECT_EQ(Sorted(window_.RowsUtf8()), Sorted(ExpectedRows(1, 2)));
}

TEST_F(CrawlTest, HugeCompanyPageWithItsBlockNearTheTopGivesItsRow) {
    site::SiteOptions options = SmallSite(1, 2);
    options.faults = {{site::FaultKind::Huge, site::FaultScope::Company, {1}}};
    options.hugePageBytes = 12 * 1024 * 1024;
    Open(options);
    StartTyped();
    WaitForSearchEnd(*session_);
    EXPECT_EQ(Sorted(window_.RowsUtf8()), Sorted(ExpectedRows(1, 2)));
    EXPECT_TRUE(window_.Texts(Kind::Clipboard).empty());
}

TEST_F(CrawlTest, EmptyPagesPastTheClaimedCountEndTheListingWithANote) {
    // The first page claims 99999999999 pages; three have companies.
    site::SiteOptions options = SmallSite(3, 2);
    options.faults = {{site::FaultKind::EndlessCount, site::FaultScope::ResultPage, {0}}};
    Open(options);
    StartTyped();
    WaitForSearchEnd(*session_);

    // Pages 1 to 3, then empty ones until the last of kMaxEmptyPagesInARow in a row; the
    // companies of the three.
    const int lastPage = 3 + kMaxEmptyPagesInARow;
    std::vector<std::string> expected(2, site::SearchTarget(kKeyword));
    for (int page = 1; page <= lastPage; ++page) {
        expected.push_back(site::SearchTarget(kKeyword, page));
    }
    for (int number = 1; number <= 6; ++number) expected.push_back(CompanyTarget(number));
    std::vector<std::string> targets = Targets();
    std::sort(targets.begin(), targets.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(targets, expected);
    EXPECT_EQ(Sorted(window_.RowsUtf8()), Sorted(ExpectedRows(1, 6)));
    const std::string note = std::string(search_text::kEmptyPagesBefore) +
                             std::to_string(kMaxEmptyPagesInARow) + search_text::kEmptyPagesAfter;
    EXPECT_EQ(window_.Texts(Kind::Status, 3).back(), note);
    EXPECT_EQ(window_.Texts(Kind::Message), std::vector<std::string>{search_text::kSearchFinished});
    EXPECT_EQ(window_.TimerPeriods(), (std::vector<int>{1000, 0}));
}

// The threads of this process, as the kernel counts them.
int LiveThreads() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("Threads:")) return std::stoi(line.substr(8));
    }
    return -1;
}

TEST_F(CrawlTest, AHundredThousandLinksReachTheCrawlAndRunOnBoundedThreads) {
    site::SiteOptions options = SmallSite(1, 1);
    options.faults = {{site::FaultKind::ManyLinks, site::FaultScope::ResultPage, {1}}};
    options.manyLinks = 100000;
    Open(options);
    std::mutex mutex;
    int running = 0;
    int mostRunning = 0;
    int mostThreads = 0;
    session_->serial.startThread = [&](std::function<void()> routine) {
        return std::thread([&, routine = std::move(routine)] {
            {
                std::lock_guard lock(mutex);
                mostRunning = std::max(mostRunning, ++running);
                mostThreads = std::max(mostThreads, LiveThreads());
            }
            routine();
            std::lock_guard lock(mutex);
            --running;
        });
    };
    StartTyped();
    ASSERT_TRUE(window_.WaitForStatus(
        2, std::string(search_text::kDispatchedBefore) + "100000" + search_text::kCountAfter));
    ASSERT_TRUE(window_.WaitForCompleteRows(3 * kMaxWorkerThreads));
    TerminateSearchThreads(*session_);

    std::lock_guard lock(mutex);
    EXPECT_LE(mostRunning, kMaxWorkerThreads);
    // Besides the workers: this test, the crawl, a control thread, the site's listener and
    // its connections, and workers whose routine has just returned.
    EXPECT_LE(mostThreads, kMaxWorkerThreads + 8);
}

}  // namespace
}  // namespace velmora::testing
