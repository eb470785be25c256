#include "cli/JournalCommands.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "cli/CliWindow.h"
#include "platform/LocalTime.h"
#include "search/SearchRecord.h"
#include "text/CodePage.h"

namespace velmora::cli {

namespace {

constexpr std::int64_t kMsPerSecond = 1000;
constexpr int kMinutesPerHour = 60;

// Whatever failed is the journal's fault, when it has one.
bool TellFault(const Journal& journal, std::ostream& messages) {
    if (journal.fault() == JournalFault::kNone) return false;
    messages << "velmora-cli: journal " << journal.path() << ": "
             << JournalFaultText(journal.fault()) << '\n';
    return true;
}

std::optional<StoredSearch> FindOrTell(Journal& journal, std::int64_t id, std::ostream& messages) {
    std::optional<StoredSearch> search = journal.FindSearch(id);
    if (!search && !TellFault(journal, messages)) {
        messages << "velmora-cli: the journal has no search " << id << '\n';
    }
    return search;
}

}  // namespace

std::string LocalIsoTime(std::int64_t unixMs) {
    const std::optional<LocalTime> local = LocalTimeAt(unixMs / kMsPerSecond);
    if (!local) return {};
    // ISO 8601's extended form, the offset as +hh:mm.
    const int offset = std::abs(local->utcOffsetMinutes);
    char stamp[sizeof "-2147483648-12-07T20:48:19+99:59"];
    const int length =
        std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", local->year,
                      local->month, local->day, local->hour, local->minute, local->second,
                      local->utcOffsetMinutes < 0 ? '-' : '+', offset / kMinutesPerHour,
                      offset % kMinutesPerHour);
    return std::string(stamp, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::string HistoryLine(const StoredSearch& search, std::int64_t newRows) {
    return std::to_string(search.id) + '\t' + LocalIsoTime(search.startedMs) + '\t' +
           SearchStateName(search.state) + '\t' + std::to_string(search.rowCount) + '\t' +
           EscapeField(SystemToUtf8(search.keyword)) + '\t' + std::to_string(newRows);
}

bool PrintHistory(Journal& journal, std::ostream& out, std::ostream& messages) {
    const std::vector<StoredSearch> history = journal.History();
    const std::optional<std::map<SearchId, std::int64_t>> known = journal.KnownRowCounts();
    if (TellFault(journal, messages) || !known) return false;
    for (const StoredSearch& search : history) {
        const auto knownRows = known->find(search.id);
        out << HistoryLine(search,
                           search.rowCount - (knownRows == known->end() ? 0 : knownRows->second))
            << '\n';
    }
    return true;
}

std::optional<StoredSearch> ShowSearchRows(Journal& journal, std::int64_t id, ResultSink& frontend,
                                           std::ostream& messages) {
    std::optional<StoredSearch> search = FindOrTell(journal, id, messages);
    if (!search) return std::nullopt;
    const std::vector<StoredRow> rows = journal.Rows(id);
    if (TellFault(journal, messages)) return std::nullopt;
    ShowStoredRows(frontend, rows, id);
    return search;
}

std::optional<StoredSearch> TakeOverSearch(Journal& journal, std::int64_t id,
                                           std::ostream& messages) {
    std::optional<StoredSearch> search = FindOrTell(journal, id, messages);
    if (!search) return std::nullopt;
    switch (journal.ResumeSearch(id)) {
        case ResumeOutcome::kResumed:
            return search;
        case ResumeOutcome::kNoSuchSearch:
            messages << "velmora-cli: the journal has no search " << id << '\n';
            break;
        case ResumeOutcome::kNotResumable:
            messages << "velmora-cli: search " << id << " has ended ("
                     << SearchStateName(journal.FindSearch(id).value_or(*search).state)
                     << "); there is nothing to resume\n";
            break;
        case ResumeOutcome::kRunning:
            messages << "velmora-cli: search " << id << " is running in another program\n";
            break;
        case ResumeOutcome::kFault:
            TellFault(journal, messages);
            break;
    }
    return std::nullopt;
}

bool ForgetSearches(Journal& journal, std::int64_t id, std::ostream& messages) {
    if (TellFault(journal, messages)) return false;
    if (id != 0 && !FindOrTell(journal, id, messages)) return false;
    const ForgetResult result = id == 0 ? journal.ForgetAll() : journal.Forget(id);
    if (TellFault(journal, messages)) return false;
    if (result.keptRunning == 0) return true;
    if (id != 0) {
        messages << "velmora-cli: search " << id << " is running; it is kept\n";
        return false;
    }
    messages << "velmora-cli: " << result.keptRunning << " running searches are kept\n";
    return true;
}

}  // namespace velmora::cli
