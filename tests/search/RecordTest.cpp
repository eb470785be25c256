// A search's record in the journal: its complete rows in their order, not a row a stop cut
// short, and how it ended.

#include <filesystem>

#include "SearchFixture.h"
#include "platform/Utf8Path.h"
#include "search/SearchControl.h"
#include "search/SearchTexts.h"
#include "tests/ScratchFolder.h"
#include "text/CodePage.h"
#include "tools/SiteFaults.h"

namespace velmora::testing {
namespace {

class RecordTest : public SearchFixture {
protected:
    JournalSettings Settings() const {
        return {Utf8FromPath(folder_.path() / "j.sqlite3"), SearchOrigin::kCli};
    }

    // The last search's record and its rows in UTF-8.
    std::pair<StoredSearch, std::vector<Cells>> LastSearch() const {
        Journal journal(Settings().path);
        const std::vector<StoredSearch> history = journal.History();
        if (history.empty()) return {};
        std::vector<Cells> rows;
        for (const StoredRow& stored : journal.Rows(history.back().id)) {
            Cells cells;
            int column = 0;
            for (const Text* cell : stored.row.Columns()) cells[column++] = SystemToUtf8(*cell);
            rows.push_back(cells);
        }
        return {history.back(), rows};
    }

    test::ScratchFolder folder_{"record-test"};
};

TEST_F(RecordTest, StoresTheRowsShownAndHowEachSearchEnded) {
    site::SiteOptions options = SmallSite(2, 3);
    options.noHitsKeywords = {"无"};
    Open(options, Settings());
    StartTyped();
    WaitForSearchEnd(*session_);
    auto [finished, rows] = LastSearch();
    EXPECT_EQ(finished.state, SearchState::kFinished);
    EXPECT_EQ(SystemToUtf8(finished.keyword), kKeyword);
    EXPECT_EQ(finished.site, site_->BaseUrl());
    EXPECT_EQ(rows, ExpectedRows(1, 6)) << "in listing order, whatever order they came in";
    EXPECT_EQ(Sorted(rows), Sorted(window_.RowsUtf8())) << "the rows the list shows";

    window_.SetKeyword("无");
    StartTyped();
    WaitForSearchEnd(*session_);
    EXPECT_EQ(LastSearch().first.state, SearchState::kNoHits);

    // The stop comes as the second row of the next search has four of its cells: its page was
    // answered, so the row is finished and kept, and no further row begins.
    window_.SetKeyword(kKeyword);
    const int firstRow = window_.RowCount();
    window_.afterSetCell = [&](int row, int column) {
        if (row == firstRow + 1 && column == 3) RequestStop(*session_);
    };
    StartTyped();
    WaitForSearchEnd(*session_);
    const auto [stopped, kept] = LastSearch();
    EXPECT_EQ(stopped.state, SearchState::kStopped);
    EXPECT_EQ(window_.RowCount(), firstRow + 2);
    EXPECT_EQ(window_.CompleteRows(), firstRow + 2);
    const std::vector<Cells> shown = window_.RowsUtf8();
    EXPECT_EQ(Sorted(kept), Sorted({shown.begin() + firstRow, shown.end()}));

    // A site that cannot be reached leaves the search to be gone on with later.
    window_.afterSetCell = {};
    site_->Stop();
    StartTyped();
    WaitForSearchEnd(*session_);
    ASSERT_TRUE(session_->siteUnreachable);
    EXPECT_EQ(LastSearch().first.state, SearchState::kStopped);
}

TEST_F(RecordTest, AFirstPageThatFailsLeavesTheSearchIncompleteAndTheResumeAsksAgain) {
    // The first request of the search URL fails, the second is answered: the page count is
    // not known, so no result page is walked.
    site::SiteOptions options = SmallSite(2, 2);
    options.faults = {*site::ParseFaultRule("500:page=0:once")};
    Open(options, Settings());
    StartTyped();
    WaitForSearchEnd(*session_);
    EXPECT_EQ(LastSearch().first.state, SearchState::kIncomplete);
    EXPECT_EQ(window_.Texts(WindowEvent::Kind::Status, kNoticeStatusField).back(),
              "注意：1 个结果页、0 个公司页未能获取，可续抓补齐");
    EXPECT_EQ(window_.Texts(WindowEvent::Kind::Message),
              std::vector<std::string>{search_text::kSearchFinished});

    // Resumed in the session that showed it: its rows are not shown a second time.
    std::optional<TakenOverSearch> taken = TakeOverLatestSearch(*session_);
    ASSERT_TRUE(taken);
    EXPECT_EQ(SystemToUtf8(taken->search.keyword), kKeyword);
    site_->ClearRequests();
    StartSearch(*session_, {taken->search.keyword, taken->search.id, std::move(taken->journal)});
    WaitForSearchEnd(*session_);
    EXPECT_EQ(Targets().size(), 2u + 2u + 4u) << "the first page twice, two pages, four companies";
    const auto [resumed, rows] = LastSearch();
    EXPECT_EQ(resumed.state, SearchState::kFinished);
    EXPECT_EQ(rows, ExpectedRows(1, 4));
    EXPECT_EQ(Sorted(window_.RowsUtf8()), Sorted(rows));
    EXPECT_FALSE(TakeOverLatestSearch(*session_)) << "nothing is left to resume";
}

}  // namespace
}  // namespace velmora::testing
