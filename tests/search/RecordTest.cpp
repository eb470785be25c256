// A search's record in the journal: its complete rows in their order, not a row a stop cut
// short, and how it ended.

#include <filesystem>

#include "SearchFixture.h"
#include "search/SearchControl.h"
#include "search/SearchTexts.h"
#include "tests/ScratchFolder.h"
#include "text/CodePage.h"

namespace velmora::testing {
namespace {

class RecordTest : public SearchFixture {
protected:
    JournalSettings Settings() const {
        return {(folder_.path() / "j.sqlite3").string(), SearchOrigin::kCli};
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
    StartSearch(*session_);
    WaitForSearchEnd(*session_);
    auto [finished, rows] = LastSearch();
    EXPECT_EQ(finished.state, SearchState::kFinished);
    EXPECT_EQ(SystemToUtf8(finished.keyword), kKeyword);
    EXPECT_EQ(finished.site, site_->BaseUrl());
    EXPECT_EQ(rows, window_.RowsUtf8()) << "the rows as the list shows them, in its order";

    window_.SetKeyword("无");
    StartSearch(*session_);
    WaitForSearchEnd(*session_);
    EXPECT_EQ(LastSearch().first.state, SearchState::kNoHits);

    // The stop comes as the second row of the next search has four of its cells.
    window_.SetKeyword(kKeyword);
    const int firstRow = window_.RowCount();
    window_.afterSetCell = [&](int row, int column) {
        if (row == firstRow + 1 && column == 3) RequestStop(*session_);
    };
    StartSearch(*session_);
    WaitForSearchEnd(*session_);
    const auto [stopped, kept] = LastSearch();
    EXPECT_EQ(stopped.state, SearchState::kStopped);
    EXPECT_EQ(window_.RowCount(), firstRow + 2);
    ASSERT_EQ(kept.size(), 1u) << "the row cut short is not kept";
    EXPECT_EQ(kept[0], window_.RowsUtf8()[firstRow]);

    // A site that cannot be reached leaves the search to be gone on with later.
    window_.afterSetCell = {};
    site_->Stop();
    StartSearch(*session_);
    WaitForSearchEnd(*session_);
    ASSERT_TRUE(session_->siteUnreachable);
    EXPECT_EQ(LastSearch().first.state, SearchState::kStopped);
}

}  // namespace
}  // namespace velmora::testing
