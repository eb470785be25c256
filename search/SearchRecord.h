#pragma once
// A search's record in the journal, kept by its own threads: begun (or taken over, for a resumed
// search) when the crawl starts, a row stored as it completes, the end recorded as the crawl
// ends. A journal fault never stops the search: the journal's status field says once that rows
// are not being kept, and the search goes on without it.

#include <atomic>
#include <map>
#include <memory>
#include <vector>

#include "journal/Journal.h"
#include "results/ResultRow.h"
#include "text/Text.h"

namespace velmora {

class Frontend;

// Appends stored rows to the front end's list in their order, each filled at once.
void ShowStoredRows(Frontend& frontend, const std::vector<StoredRow>& rows);

class SearchRecord {
public:
    // Keeps nothing (no journal was asked for).
    explicit SearchRecord(Frontend& frontend);
    // Opens the journal at `path` and begins a search there.
    SearchRecord(Frontend& frontend, const std::string& path, const Text& keyword, const Text& site,
                 SearchOrigin origin);
    // Goes on with search `id`, which `journal` has taken over: its stored rows are shown now,
    // and their links are the ones TakeStoredLink counts off.
    SearchRecord(Frontend& frontend, std::unique_ptr<Journal> journal, SearchId id);
    SearchRecord(const SearchRecord&) = delete;
    SearchRecord& operator=(const SearchRecord&) = delete;

    // True when a row of this link is stored from before and not yet counted off; it is then.
    // So a link listed k times and stored j times is let through k - j times. Crawl thread only.
    [[nodiscard]] bool TakeStoredLink(const Text& link);
    // Stores a completed row. Called by one thread at a time (the worker holding its turn).
    void StoreRow(const Text& link, const ResultRow& row);
    // Records how the search ended (kFinished, kNoHits or kStopped) and lets it go.
    void End(SearchState state);

private:
    // Says once that rows are not being kept; from then on nothing is written.
    void TellFault();

    Frontend& frontend_;
    std::unique_ptr<Journal> journal_;  // nothing when none is kept
    SearchId id_ = 0;
    std::map<Text, int> storedLinks_;
    std::atomic<bool> faultTold_{false};
};

}  // namespace velmora
