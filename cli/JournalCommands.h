#pragma once
// velmora-cli's commands over the journal. Each says on the messages stream what went wrong
// and returns false then.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "journal/Journal.h"
#include "results/ResultSink.h"

namespace velmora::cli {

// Unix time in milliseconds as local time in ISO 8601, to the second, with the offset from UTC:
// "2026-12-07T20:48:19+08:00".
std::string LocalIsoTime(std::int64_t unixMs);

// One --history line, without its end: ID, start time, state, row count, the keyword (escaped
// as a row's field is) and how many of the rows were new, tab-separated.
std::string HistoryLine(const StoredSearch& search, std::int64_t newRows);

// --history: every search, oldest first.
bool PrintHistory(Journal& journal, std::ostream& out, std::ostream& messages);

// --rows: the search's stored rows into the front end's list, in order; the search's record
// when there is one.
std::optional<StoredSearch> ShowSearchRows(Journal& journal, std::int64_t id, ResultSink& frontend,
                                           std::ostream& messages);

// --resume: takes the search over in the journal, when it is stopped or interrupted.
std::optional<StoredSearch> TakeOverSearch(Journal& journal, std::int64_t id,
                                           std::ostream& messages);

// --forget: search `id`, or every search when id is 0; running searches stay.
bool ForgetSearches(Journal& journal, std::int64_t id, std::ostream& messages);

}  // namespace velmora::cli
