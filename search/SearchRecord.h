#pragma once
// A search's record in the journal, kept by its own threads: begun (or taken over, for a resumed
// search) when the crawl starts, a row stored as it completes, the end recorded as the crawl
// ends. A journal fault never stops the search: the journal's status field says once that rows
// are not being kept, and the search goes on without it.

#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "journal/Journal.h"
#include "results/ResultRow.h"
#include "text/Text.h"

namespace velmora {

class ResultSink;
struct ListedLink;

// Appends stored rows of search `id` to the front end's list in their order, each filled at once.
void ShowStoredRows(ResultSink& frontend, const std::vector<StoredRow>& rows, SearchId id);

class SearchRecord {
public:
    // Keeps nothing (no journal was asked for).
    explicit SearchRecord(ResultSink& frontend);
    // Opens the journal at `path` and begins a search there.
    SearchRecord(ResultSink& frontend, const std::string& path, const Text& keyword,
                 const Text& site, SearchOrigin origin);
    // Goes on with search `id`, which `journal` has taken over: its stored rows are shown now
    // (unless showStoredRows is false) and are the ones TakeStoredLink counts off; its stored
    // listing is what Listing() gives.
    SearchRecord(ResultSink& frontend, std::unique_ptr<Journal> journal, SearchId id,
                 bool showStoredRows = true);
    SearchRecord(const SearchRecord&) = delete;
    SearchRecord& operator=(const SearchRecord&) = delete;

    // The search's id in the journal; 0 when nothing is kept.
    SearchId id() const { return id_; }
    // What a resumed search knows of its listing; empty for a new one.
    const StoredListing& Listing() const { return listing_; }

    // True when a row of this listed link is stored from before: one stored at its place, or,
    // for rows stored without a place, one of its link not yet counted off (a link listed k
    // times and stored j times so is let through k - j times). Crawl thread only.
    [[nodiscard]] bool TakeStoredLink(const ListedLink& listed);
    // Stores a completed row. Called by one thread at a time (the worker holding its turn).
    void StoreRow(const ListedLink& listed, const ResultRow& row);
    // Stores completed rows in one go (StoredRow's link, row and place).
    void StoreRows(const std::vector<StoredRow>& rows);
    void StoreProbe(int pageCount, const Text& total);
    void StoreWalkedPage(int page, const std::vector<Text>& links);
    void StoreFailedPage(const FailedPage& failed);
    // Records how the search ended (kFinished, kNoHits, kStopped or kIncomplete) and lets it go.
    void End(SearchState state);

private:
    // Says once that rows are not being kept; from then on nothing is written.
    void TellFault();

    ResultSink& frontend_;
    std::unique_ptr<Journal> journal_;  // nothing when none is kept
    SearchId id_ = 0;
    StoredListing listing_;
    std::set<ListingPlace> storedPlaces_;
    std::map<Text, int> unplacedLinks_;
    std::atomic<bool> faultTold_{false};
};

}  // namespace velmora
