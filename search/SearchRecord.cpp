#include "search/SearchRecord.h"

#include "results/ResultSink.h"
#include "search/SearchSession.h"
#include "search/SearchTexts.h"
#include "text/CodePage.h"

namespace velmora {

void ShowStoredRows(ResultSink& frontend, const std::vector<StoredRow>& rows, SearchId id) {
    for (const StoredRow& stored : rows) {
        const int row = frontend.AppendRow();
        frontend.SetRowOrigin(row, {stored.link, id});
        int column = 0;
        for (const Text* cell : stored.row.Columns()) frontend.SetCell(row, column++, *cell);
    }
}

SearchRecord::SearchRecord(ResultSink& frontend) : frontend_(frontend) {}

SearchRecord::SearchRecord(ResultSink& frontend, const std::string& path, const Text& keyword,
                           const Text& site, SearchOrigin origin)
    : frontend_(frontend), journal_(std::make_unique<Journal>(path)) {
    const std::optional<SearchId> id = journal_->BeginSearch(keyword, site, origin);
    if (!id) {
        TellFault();
        return;
    }
    id_ = *id;
}

SearchRecord::SearchRecord(ResultSink& frontend, std::unique_ptr<Journal> journal, SearchId id,
                           bool showStoredRows)
    : frontend_(frontend), journal_(std::move(journal)), id_(id) {
    const std::vector<StoredRow> rows = journal_->Rows(id_);
    listing_ = journal_->Listing(id_);
    if (journal_->fault() != JournalFault::kNone) {
        listing_ = {};
        TellFault();
        return;
    }
    for (const StoredRow& stored : rows) {
        if (stored.place == ListingPlace{}) {
            ++unplacedLinks_[stored.link];
        } else {
            storedPlaces_.insert(stored.place);
        }
    }
    if (showStoredRows) ShowStoredRows(frontend_, rows, id_);
}

bool SearchRecord::TakeStoredLink(const ListedLink& listed) {
    if (storedPlaces_.count(listed.place) != 0) return true;
    const auto stored = unplacedLinks_.find(listed.link);
    if (stored == unplacedLinks_.end()) return false;
    if (--stored->second == 0) unplacedLinks_.erase(stored);
    return true;
}

void SearchRecord::StoreRow(const ListedLink& listed, const ResultRow& row) {
    if (!journal_ || faultTold_) return;
    if (!journal_->AddRow(id_, listed.link, row, listed.place)) TellFault();
}

void SearchRecord::StoreRows(const std::vector<StoredRow>& rows) {
    if (!journal_ || faultTold_) return;
    if (!journal_->AddRows(id_, rows)) TellFault();
}

void SearchRecord::StoreProbe(int pageCount, const Text& total) {
    if (!journal_ || faultTold_) return;
    if (!journal_->RecordProbe(id_, pageCount, total)) TellFault();
}

void SearchRecord::StoreWalkedPage(int page, const std::vector<Text>& links) {
    if (!journal_ || faultTold_) return;
    if (!journal_->RecordWalkedPage(id_, page, links)) TellFault();
}

void SearchRecord::StoreFailedPage(const FailedPage& failed) {
    if (!journal_ || faultTold_) return;
    if (!journal_->RecordFailedPage(id_, failed)) TellFault();
}

void SearchRecord::End(SearchState state) {
    if (!journal_) return;
    if (!journal_->EndSearch(id_, state)) TellFault();
    journal_.reset();
}

void SearchRecord::TellFault() {
    if (faultTold_.exchange(true)) return;
    frontend_.SetStatusText(kJournalField, Utf8ToSystem(search_text::kRowsNotKept));
}

}  // namespace velmora
