// Pause, resume, stop, a start during a search, and the end of the program during a search.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <string>
#include <system_error>
#include <vector>

#include "SearchFixture.h"
#include "search/CrawlSteps.h"
#include "search/SearchControl.h"
#include "search/SearchTexts.h"
#include "tools/SiteContent.h"

namespace velmora::testing {
namespace {

using Kind = WindowEvent::Kind;

class ControlTest : public SearchFixture {
protected:
    // A site on which company page `held` gets no answer until released; `arrived` is ready once
    // its request is in.
    void OpenHolding(int pages, int links, int held) {
        site::SiteOptions options = SmallSite(pages, links);
        options.faults = {{site::FaultKind::Hold, site::FaultScope::Company, {held}}};
        const std::string target = CompanyTarget(held);
        options.onRequest = [this, target](const site::RecordedRequest& request) {
            if (request.target == target && !heldArrived_.exchange(true)) {
                arrived_.set_value();
            }
        };
        Open(options);
    }
    bool WaitForHeldRequest() {
        return arrived_.get_future().wait_for(std::chrono::seconds(60)) ==
               std::future_status::ready;
    }
    std::size_t IndexOf(const std::vector<std::string>& targets, const std::string& target) {
        return static_cast<std::size_t>(std::find(targets.begin(), targets.end(), target) -
                                        targets.begin());
    }

    std::promise<void> arrived_;
    std::atomic<bool> heldArrived_{false};
};

TEST_F(ControlTest, PressesDoNothingWithoutTwoWorkersListed) {
    OpenHolding(1, 1, 1);
    EXPECT_FALSE(PauseSearch(*session_)) << "no search yet";
    StartTyped();
    ASSERT_TRUE(WaitForHeldRequest());
    // A batch of a single worker.
    EXPECT_FALSE(PauseSearch(*session_));
    EXPECT_FALSE(ResumeSearch(*session_));
    EXPECT_FALSE(StopSearch(*session_));
    site_->ReleaseHeld();
    WaitForSearchEnd(*session_);
    EXPECT_EQ(window_.Texts(Kind::Status, 0),
              std::vector<std::string>{search_text::kStatusRunning});
    EXPECT_EQ(window_.CompleteRows(), 1);
}

TEST_F(ControlTest, PauseTwiceNeedsTwoResumes) {
    OpenHolding(1, 3, 2);
    StartTyped();
    ASSERT_TRUE(WaitForHeldRequest());
    ASSERT_TRUE(PressUntilAccepted(PauseSearch));
    EXPECT_TRUE(PauseSearch(*session_));
    EXPECT_TRUE(ResumeSearch(*session_));
    ASSERT_TRUE(window_.WaitForStatus(0, search_text::kStatusResumed));
    EXPECT_EQ(window_.Texts(Kind::Status, 0),
              (std::vector<std::string>{search_text::kStatusRunning, search_text::kStatusPaused,
                                        search_text::kStatusPaused, search_text::kStatusResumed}));

    // Still held: one resume lifted one of the two pauses.
    EXPECT_TRUE(session_->control->transfers->IsPaused());
    site_->ReleaseHeld();
    EXPECT_TRUE(ResumeSearch(*session_));
    ASSERT_TRUE(window_.WaitForMessage(search_text::kSearchFinished));
    EXPECT_FALSE(session_->control->transfers->IsPaused());
    EXPECT_EQ(Sorted(window_.RowsUtf8()), Sorted(ExpectedRows(1, 3)));
}

TEST_F(ControlTest, StopInMidBatchEndsEverythingAndTheNextSearchCompletes) {
    OpenHolding(2, 3, 2);
    StartTyped();
    ASSERT_TRUE(WaitForHeldRequest());
    ASSERT_TRUE(PressUntilAccepted(StopSearch));
    ASSERT_TRUE(window_.WaitForStatus(0, search_text::kStatusEnding));
    WaitForSearchEnd(*session_);

    // Nothing was fetched after the held page: waiting workers never got their turn.
    const std::vector<std::string> targets = Targets();
    EXPECT_EQ(IndexOf(targets, CompanyTarget(2)), targets.size() - 1);
    EXPECT_EQ(window_.RowCount(), window_.CompleteRows());
    EXPECT_EQ(window_.RowCount(), static_cast<int>(targets.size()) - 5)
        << "one row for each company page answered before the stop";
    EXPECT_EQ(window_.TimerPeriods(), std::vector<int>{1000}) << "the timer keeps running";
    EXPECT_TRUE(window_.Texts(Kind::Message).empty());
    EXPECT_EQ(session_->serial.activeWorkers.load(), 0);
    {
        std::lock_guard lock(session_->serial.listLock);
        EXPECT_TRUE(session_->serial.workerThreads.empty());
        EXPECT_TRUE(session_->serial.companyLinks.empty());
    }
    EXPECT_FALSE(StopSearch(*session_)) << "nothing listed any more";

    const int rowsOfFirst = window_.RowCount();
    site_->ReleaseHeld();
    StartTyped();
    ASSERT_TRUE(window_.WaitForMessage(search_text::kSearchFinished))
        << "a count left raised by the stop holds the batch";
    WaitForSearchEnd(*session_);
    const std::vector<Cells> rows = window_.RowsUtf8();
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(rowsOfFirst + 6));
    EXPECT_EQ(Sorted({rows.begin() + rowsOfFirst, rows.end()}), Sorted(ExpectedRows(1, 6)));
}

TEST_F(ControlTest, StartDuringASearchEndsItFirst) {
    OpenHolding(1, 3, 2);
    StartTyped();
    ASSERT_TRUE(WaitForHeldRequest());
    const int rowsBefore = window_.CompleteRows();
    const std::size_t requestsBefore = site_->RequestCount();
    StartTyped();
    site_->ReleaseHeld();
    WaitForSearchEnd(*session_);

    const std::vector<std::string> targets = Targets();
    ASSERT_EQ(targets.size(), requestsBefore + 6);
    const std::vector<std::string> second(
        targets.begin() + static_cast<std::ptrdiff_t>(requestsBefore), targets.end());
    EXPECT_EQ(second[0], site::SearchTarget(kKeyword));
    EXPECT_EQ(second[2], site::SearchTarget(kKeyword, 1));
    EXPECT_EQ(window_.Texts(Kind::Message), std::vector<std::string>{search_text::kSearchFinished});
    EXPECT_EQ(window_.RowCount(), rowsBefore + 3) << "the first search's rows stay";
    EXPECT_EQ(window_.CompleteRows(), rowsBefore + 3);
    EXPECT_EQ(window_.TimerPeriods(), (std::vector<int>{1000, 1000, 0}));
}

TEST_F(ControlTest, ClosingDuringABatchEndsEveryThread) {
    OpenHolding(1, 3, 2);
    StartTyped();
    ASSERT_TRUE(WaitForHeldRequest());
    // The window's close: stop when accepted, then end and join everything, then free it all.
    ASSERT_TRUE(PressUntilAccepted(StopSearch));
    EndSearchThreads(*session_);
    const std::size_t requests = site_->RequestCount();
    session_.reset();
    site_->ReleaseHeld();
    EXPECT_EQ(site_->RequestCount(), requests);
}

TEST_F(ControlTest, ClosingWhileTheCrawlFetchesEndsItToo) {
    site::SiteOptions options = SmallSite(2, 3);
    options.faults = {{site::FaultKind::Hold, site::FaultScope::ResultPage, {1}}};
    Open(options);
    StartTyped();
    ASSERT_TRUE(site_->WaitForRequests(3, std::chrono::seconds(60)));
    EXPECT_FALSE(StopSearch(*session_));
    session_.reset();  // the destructor ends and joins the crawl
    EXPECT_EQ(site_->RequestCount(), 3u);
    EXPECT_EQ(window_.RowCount(), 0);
}

TEST_F(ControlTest, ARowWhosePageWasAnsweredIsFinishedDespiteAStop) {
    Open(SmallSite(1, 1));
    const ResultRow row{"公司", "联系人", "电话", "手机", "传真", "邮件", "地址"};
    AppendCompanyRow(*session_, {"link", {1, 1}}, row);
    ASSERT_EQ(window_.CompleteRows(), 1);
    // A stop that lands after the worker's fetch, while it matches the page.
    RequestStop(*session_);
    AppendCompanyRow(*session_, {"link", {1, 1}}, row);
    EXPECT_EQ(window_.CompleteRows(), 2);
}

TEST_F(ControlTest, WorkerThatCannotStartNeitherLosesItsRowNorHoldsTheBatch) {
    Open(SmallSite(1, 3));
    int starts = 0;
    session_->serial.startThread = [&starts](std::function<void()> routine) {
        if (++starts == 2)
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        return std::thread(std::move(routine));
    };
    StartTyped();
    ASSERT_TRUE(window_.WaitForMessage(search_text::kSearchFinished));
    WaitForSearchEnd(*session_);
    EXPECT_EQ(Sorted(window_.RowsUtf8()), Sorted(ExpectedRows(1, 3)));
    EXPECT_EQ(session_->serial.activeWorkers.load(), 0);
}

}  // namespace
}  // namespace velmora::testing
