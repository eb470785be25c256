#include "cli/JournalCommands.h"

#include <ctime>
#include <vector>

#include "cli/CliWindow.h"
#include "search/SearchRecord.h"
#include "text/CodePage.h"

namespace velmora::cli {

namespace {

constexpr std::int64_t kMsPerSecond = 1000;
constexpr std::size_t kOffsetMinuteDigits = 2;

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
    const std::time_t seconds = static_cast<std::time_t>(unixMs / kMsPerSecond);
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[sizeof "2026-12-07T20:48:19+0800"];
    std::string iso(stamp, std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S%z", &local));
    // strftime gives the offset as +hhmm; ISO 8601's extended form, as the rest, is +hh:mm.
    if (iso.size() >= kOffsetMinuteDigits) iso.insert(iso.size() - kOffsetMinuteDigits, ":");
    return iso;
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

std::optional<StoredSearch> ShowSearchRows(Journal& journal, std::int64_t id, Frontend& frontend,
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
