#include "search/SearchRecord.h"

#include "results/Frontend.h"
#include "search/SearchTexts.h"
#include "text/CodePage.h"

namespace velmora {

void ShowStoredRows(Frontend& frontend, const std::vector<StoredRow>& rows) {
    for (const StoredRow& stored : rows) {
        const int row = frontend.AppendRow();
        int column = 0;
        for (const Text* cell : stored.row.Columns()) frontend.SetCell(row, column++, *cell);
    }
}

SearchRecord::SearchRecord(Frontend& frontend) : frontend_(frontend) {}

SearchRecord::SearchRecord(Frontend& frontend, const std::string& path, const Text& keyword,
                           const Text& site, SearchOrigin origin)
    : frontend_(frontend), journal_(std::make_unique<Journal>(path)) {
    const std::optional<SearchId> id = journal_->BeginSearch(keyword, site, origin);
    if (!id) {
        TellFault();
        return;
    }
    id_ = *id;
}

SearchRecord::SearchRecord(Frontend& frontend, std::unique_ptr<Journal> journal, SearchId id)
    : frontend_(frontend), journal_(std::move(journal)), id_(id) {
    const std::vector<StoredRow> rows = journal_->Rows(id_);
    if (journal_->fault() != JournalFault::kNone) {
        TellFault();
        return;
    }
    storedLinks_ = CountLinks(rows);
    ShowStoredRows(frontend_, rows);
}

bool SearchRecord::TakeStoredLink(const Text& link) {
    const auto stored = storedLinks_.find(link);
    if (stored == storedLinks_.end()) return false;
    if (--stored->second == 0) storedLinks_.erase(stored);
    return true;
}

void SearchRecord::StoreRow(const Text& link, const ResultRow& row) {
    if (!journal_ || faultTold_) return;
    if (!journal_->AddRow(id_, link, row)) TellFault();
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
