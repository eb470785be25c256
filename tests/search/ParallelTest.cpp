// The parallel search against the sample site: no more than N requests at once, the serial
// search's rows and request profile, the site's Retry-After, the step back to one request at a
// time on signs of a block, and pause and stop at any moment.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "SearchFixture.h"
#include "journal/Journal.h"
#include "search/SearchTexts.h"
#include "tests/ScratchFolder.h"
#include "text/CodePage.h"
#include "tools/SiteContent.h"
#include "tools/SiteFaults.h"

namespace velmora::testing {
namespace {

using namespace std::chrono_literals;
using Kind = WindowEvent::Kind;

class ParallelTest : public SearchFixture {
protected:
    // A session of `workers`.
    void OpenParallel(site::SiteOptions options, int workers, JournalSettings journal = {}) {
        Open(std::move(options), std::move(journal));
        session_->pacing.workers = workers;
        session_->pacing.blockPause = kBlockPause;
    }

    // A site of 2 pages of 4 companies with `fault`, whose company `held` WaitForHeld waits for.
    void OpenHolding(const char* fault, int held) {
        site::SiteOptions options = SmallSite(2, 4);
        options.faults = {*site::ParseFaultRule(fault)};
        heldArrived_ = std::make_shared<std::promise<void>>();
        options.onRequest = [arrived = heldArrived_, told = std::make_shared<std::atomic<bool>>(),
                             target = CompanyTarget(held)](const site::RecordedRequest& request) {
            if (request.target == target && !told->exchange(true)) arrived->set_value();
        };
        OpenParallel(options, 3);
    }
    bool WaitForHeld() {
        return heldArrived_->get_future().wait_for(60s) == std::future_status::ready;
    }

    std::vector<site::RecordedRequest> RequestsFor(const std::string& target) const {
        std::vector<site::RecordedRequest> found;
        for (const site::RecordedRequest& request : site_->Requests()) {
            if (request.target == target) found.push_back(request);
        }
        return found;
    }

    static constexpr auto kBlockPause = 500ms;
    std::shared_ptr<std::promise<void>> heldArrived_;
};

TEST_F(ParallelTest, AtMostNAtOnceOneCookieJarAndTheSerialSearchsRowsAndHeaders) {
    constexpr int kWorkers = 3;
    site::SiteOptions options = SmallSite(3, 6);
    options.latencyMs = 50;
    options.sessionCookie = true;
    test::ScratchFolder folder("parallel-rows");
    const std::string journalPath = (folder.path() / "j.sqlite3").string();
    OpenParallel(options, kWorkers, {journalPath, SearchOrigin::kCli});
    StartTyped();
    WaitForSearchEnd(*session_);
    {
        // The journal gives the serial search's rows in its order: the listing's.
        Journal journal(journalPath);
        std::vector<Cells> stored;
        for (const StoredRow& row : journal.Rows(journal.History().back().id)) {
            Cells cells;
            for (std::size_t column = 0; column < cells.size(); ++column) {
                cells[column] = SystemToUtf8(*row.row.Columns()[column]);
            }
            stored.push_back(cells);
        }
        EXPECT_EQ(stored, ExpectedRows(1, 18));
    }

    EXPECT_LE(site_->MaxOpenConnections(), kWorkers);
    EXPECT_LE(site_->MaxRequestsInFlight(), kWorkers);
    EXPECT_GE(site_->MaxRequestsInFlight(), 2) << "it did go parallel";
    EXPECT_EQ(Sorted(window_.RowsUtf8()), Sorted(ExpectedRows(1, 18)));
    EXPECT_EQ(window_.Texts(Kind::Message), std::vector<std::string>{search_text::kSearchFinished});
    EXPECT_EQ(window_.Texts(Kind::Status, 2).back(), "成功获取：18条");

    std::multiset<std::string> targets;
    const std::vector<site::RecordedRequest> requests = site_->Requests();
    for (const site::RecordedRequest& request : requests) targets.insert(request.target);
    std::multiset<std::string> expected = {"/robots.txt", site::SearchTarget(kKeyword)};
    for (int page = 1; page <= 3; ++page) expected.insert(site::SearchTarget(kKeyword, page));
    for (int company = 1; company <= 18; ++company) expected.insert(CompanyTarget(company));
    EXPECT_EQ(targets, expected) << "robots.txt, the first page once, then as the serial search";

    // The serial search's header lines; the site's first answer set the cookie every worker
    // sends from then on.
    ASSERT_EQ(requests.front().target, "/robots.txt");
    for (const site::RecordedRequest& request : requests) {
        std::vector<std::string> names;
        for (const std::string& line : request.headerLines)
            names.push_back(line.substr(0, line.find(':')));
        std::vector<std::string> profile = {"Host",       "Accept",    "Referer", "Accept-Language",
                                            "User-Agent", "Connection"};
        if (request.number > requests.front().number) {
            profile.push_back("Cookie");
            EXPECT_EQ(request.Header("Cookie"),
                      "VSESSID=s" + std::to_string(requests.front().number));
        }
        EXPECT_EQ(names, profile) << request.target;
    }
}

TEST_F(ParallelTest, TheSitesCrawlDelayAndRetryAfterAreObeyed) {
    constexpr int kWorkers = 3;
    site::SiteOptions options = SmallSite(2, 4);
    options.faults = {*site::ParseFaultRule("429:company=3:once")};
    options.retryAfter = "1";
    options.robotsTxt = "User-agent: *\r\nCrawl-delay: 0.05\r\n";
    OpenParallel(options, kWorkers);
    StartTyped();
    WaitForSearchEnd(*session_);

    // The first page is asked for once robots.txt has been answered, and every request after
    // it starts 50 ms or more after the one before.
    const std::vector<site::RecordedRequest> all = site_->Requests();
    ASSERT_EQ(all.front().target, "/robots.txt");
    EXPECT_GE(all.back().arrived - all.front().answered, static_cast<int>(all.size() - 2) * 50ms);

    const std::vector<site::RecordedRequest> asked = RequestsFor(CompanyTarget(3));
    ASSERT_EQ(asked.size(), 2u);
    const auto holdEnd = asked[0].arrived + 1s;
    EXPECT_GE(asked[1].arrived, holdEnd);
    // What was on its way as the answer came arrives at once; nothing else during the hold.
    EXPECT_EQ(std::count_if(all.begin(), all.end(),
                            [&](const site::RecordedRequest& request) {
                                return request.arrived > asked[0].arrived + 500ms &&
                                       request.arrived < holdEnd;
                            }),
              0);
    const std::vector<std::string> notices = window_.Texts(Kind::Status, kNoticeStatusField);
    EXPECT_EQ(notices,
              (std::vector<std::string>{"温馨提醒：【网站要求稍候，全部请求暂停，1 秒后继续】",
                                        search_text::kPacingGoesOn}));
    EXPECT_EQ(Sorted(window_.RowsUtf8()), Sorted(ExpectedRows(1, 8)));
    EXPECT_EQ(session_->lastEnd.load(), SearchState::kFinished);
}

TEST_F(ParallelTest, FewerInFlightOnASiteThatSlowsWithLoad) {
    // Each request waiting at the site adds 50 ms to the 50 it takes alone: two in flight keep
    // it busy, more only wait.
    site::SiteOptions options = SmallSite(3, 10);
    options.latencyMs = 50;
    options.loadLatencyMs = 50;
    OpenParallel(options, 6);
    StartTyped();
    WaitForSearchEnd(*session_);

    const std::vector<site::RecordedRequest> requests = site_->Requests();
    const auto secondHalf = requests.begin() + static_cast<std::ptrdiff_t>(requests.size() / 2);
    double inFlight = 0;
    for (auto request = secondHalf; request != requests.end(); ++request) {
        inFlight += request->inFlight;
    }
    inFlight /= static_cast<double>(requests.end() - secondHalf);
    EXPECT_LE(inFlight, 2.0);
    EXPECT_GT(inFlight, 1.2) << "the site is kept busy";
    EXPECT_EQ(Sorted(window_.RowsUtf8()), Sorted(ExpectedRows(1, 30)));
}

// The fault on companies 11 to 15, the notice's beginning and the failed pages' reason. Three
// workers may have companies 9 and 10 still to answer as 11 comes: five signs in a row are sure
// to give two in a row whatever the order of the answers.
struct BlockCase {
    const char* name;
    const char* fault;
    const char* notice;
    const char* reason;
};

class BlockTest : public ParallelTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(BlockTest, TwoSignsOfABlockInARowSwitchToOneRequestAtATime) {
    const BlockCase& c = GetParam();
    test::ScratchFolder folder("parallel-block");
    const std::string journalPath = (folder.path() / "j.sqlite3").string();
    site::SiteOptions options = SmallSite(4, 5);
    options.latencyMs = 20;
    options.faults = {*site::ParseFaultRule(c.fault)};
    OpenParallel(options, 3, {journalPath, SearchOrigin::kCli});
    StartTyped();
    WaitForSearchEnd(*session_);

    const std::vector<std::string> notices = window_.Texts(Kind::Status, kNoticeStatusField);
    ASSERT_FALSE(notices.empty());
    EXPECT_EQ(notices.front().rfind(c.notice, 0), 0u) << notices.front();
    EXPECT_NE(std::find(notices.begin(), notices.end(), search_text::kPacingGoesOnSerial),
              notices.end());
    // One at a time once the pause is over: what was on its way at the switch has long come.
    const std::vector<site::RecordedRequest> requests = site_->Requests();
    std::chrono::steady_clock::time_point lastSign{};
    for (const site::RecordedRequest& request : requests) {
        if (request.fault) lastSign = std::max(lastSign, request.answered);
    }
    for (const site::RecordedRequest& request : requests) {
        if (request.arrived > lastSign + kBlockPause) {
            EXPECT_EQ(request.inFlight, 1) << request.target;
        }
    }
    for (int company = 11; company <= 15; ++company) {
        EXPECT_EQ(RequestsFor(CompanyTarget(company)).size(), 1u) << "never asked again";
    }
    // Failed pages that a resume asks for again, as in the serial search.
    Journal journal(journalPath);
    const StoredSearch search = journal.History().back();
    EXPECT_EQ(search.state, SearchState::kIncomplete);
    EXPECT_EQ(search.rowCount, 15);
    const StoredListing listing = journal.Listing(search.id);
    ASSERT_EQ(listing.failedPages.size(), 5u);
    for (const FailedPage& failed : listing.failedPages) EXPECT_EQ(failed.reason, c.reason);
}

INSTANTIATE_TEST_SUITE_P(
    Signs, BlockTest,
    ::testing::Values(BlockCase{"VerificationPages", "verify:company=11,12,13,14,15",
                                search_text::kPacingVerification, search_text::kVerificationPage},
                      BlockCase{"Refusals", "403:company=11,12,13,14,15",
                                search_text::kPacingRefusals, "网站回应 403"}),
    [](const ::testing::TestParamInfo<BlockCase>& param) { return std::string(param.param.name); });

TEST_F(ParallelTest, PauseEndsTheRequestsInFlightAndStopEndsTheSearchAtAnyMoment) {
    // Company 3 is held the first time it is asked for.
    OpenHolding("hold:company=3:once", 3);
    EXPECT_FALSE(PauseSearch(*session_)) << "no search yet";
    StartTyped();
    ASSERT_TRUE(WaitForHeld());
    EXPECT_TRUE(PauseSearch(*session_)) << "no batch needed";
    ASSERT_TRUE(window_.WaitForStatus(0, search_text::kStatusPaused));
    EXPECT_TRUE(ResumeSearch(*session_));
    // The held request was ended by the pause and is asked again; the site answers it now.
    ASSERT_TRUE(window_.WaitForMessage(search_text::kSearchFinished));
    WaitForSearchEnd(*session_);
    EXPECT_EQ(RequestsFor(CompanyTarget(3)).size(), 2u);
    EXPECT_EQ(Sorted(window_.RowsUtf8()), Sorted(ExpectedRows(1, 8)));
    EXPECT_EQ(window_.CompleteRows(), 8);

    // A stop while a request is held ends the search at once; nothing is asked after it.
    site_->Stop();
    OpenHolding("hold:company=6", 6);
    StartTyped();
    ASSERT_TRUE(WaitForHeld());
    EXPECT_TRUE(StopSearch(*session_));
    ASSERT_TRUE(window_.WaitForStatus(0, search_text::kStatusEnding));
    WaitForSearchEnd(*session_);
    EXPECT_EQ(session_->lastEnd.load(), SearchState::kStopped);
    const std::size_t asked = site_->RequestCount();
    EndSearchThreads(*session_);
    site_->ReleaseHeld();
    // The site counts a request once it has read it: one the loop sent just before the stop, in
    // flight beside the held one, may be counted after `asked` was taken; none is sent after.
    EXPECT_LE(site_->RequestCount(), asked + 2);
    EXPECT_EQ(window_.Texts(Kind::Message), std::vector<std::string>{search_text::kSearchFinished})
        << "only the first search's";
}

TEST_F(ParallelTest, AStopKeepsTheRowOfEveryCompanyPageAnsweredBeforeIt) {
    // Companies from 4 on are held. Once each of the 3 workers waits on one, companies 1 to 3
    // are answered and their rows made, stored with the others of their batch later on.
    site::SiteOptions options = SmallSite(2, 4);
    options.faults = {*site::ParseFaultRule("hold:company=from-4")};
    test::ScratchFolder folder;
    const std::string journal = (folder.path() / "journal.sqlite3").string();
    OpenParallel(options, 3, {journal, SearchOrigin::kWindow});
    StartTyped();
    // robots.txt, the first page, two result pages, three answered companies, three held.
    ASSERT_TRUE(site_->WaitForRequests(10, 60s));
    EXPECT_TRUE(StopSearch(*session_));
    WaitForSearchEnd(*session_);
    // A request that failed on its own before the stop (a stall on a loaded machine) shows an
    // empty row, not kept, for a resume to fill; none of the held ones shows a row.
    std::vector<Cells> answered = window_.RowsUtf8();
    std::erase(answered, Cells{});
    EXPECT_EQ(Sorted(answered), Sorted(ExpectedRows(1, 3)));
    const StoredSearch stopped = Journal(journal).History().back();
    EXPECT_EQ(stopped.state, SearchState::kStopped);
    EXPECT_EQ(stopped.rowCount, 3);
    EndSearchThreads(*session_);
    site_->ReleaseHeld();
}

}  // namespace
}  // namespace velmora::testing
