#include "search/CompanyDetail.h"

#include "platform/NamedMutex.h"
#include "regex/Regex.h"
#include "results/Frontend.h"
#include "search/ListingCrawl.h"
#include "search/SearchControl.h"
#include "search/SearchRecord.h"
#include "search/SearchTexts.h"
#include "text/CodePage.h"
#include "text/TextOps.h"

namespace velmora {

namespace {

// The pattern's groups are the row's columns, 1-based.
constexpr int kEmailGroup = kEmailColumn + 1;

// A cell written as a link: the address is the anchor's text.
Text CleanEmail(const Text& cell) {
    if (FindText(cell, "href") == -1) return cell;
    return TextBetween(cell, "target=_blank>", "</a>");
}

// Lowers the count of active workers when the worker ends, however it ends; declared after the
// worker's turn on workerMutex so that the count goes down before the turn is given up. Only
// the batch's wait cares, and only for a count down to 0 (it checks the count when it begins,
// after every raise); the end of a worker's thread wakes the crawl on its own.
class ActiveWorkerRelease {
public:
    explicit ActiveWorkerRelease(SearchSession& session) : session_(session) {}
    ~ActiveWorkerRelease() {
        if (--session_.activeWorkers > 0) return;
        { std::lock_guard lock(session_.control->mutex); }
        session_.control->changed.notify_all();
    }
    ActiveWorkerRelease(const ActiveWorkerRelease&) = delete;
    ActiveWorkerRelease& operator=(const ActiveWorkerRelease&) = delete;

private:
    SearchSession& session_;
};

}  // namespace

Text RequestedLink(const Text& link) {
    constexpr std::string_view kAsciiBlanks = " \t";
    const std::size_t first = link.find_first_not_of(kAsciiBlanks);
    if (first == Text::npos) return {};
    return link.substr(first, link.find_last_not_of(kAsciiBlanks) - first + 1);
}

const Text& CompanyDetailPattern() {
    // Between the e-mail label and group 6 the page form allowed one optional character of the
    // set [blank>|z]; greedy before a lazy group, it took the first letter of any address
    // beginning with one of them, so it is left out. The rest is the page's markup as is.
    static const Text pattern = Utf8ToSystem(
        R"(<div class="mp4"><b>(.*?)</b><br><br><span class="mtext">(.*?)</span><br><br></div>)"
        R"([\s]*?<div class="mp5">[\s]*?)"
        R"(<ul><li class="mp6">电话：</li><li class="mp7">(.*?)</li></ul>[\s]*?)"
        R"(<ul><li class="mp6">手机：</li><li class="mp7">(.*?)</li></ul>[\s]*?)"
        R"(<ul><li class="mp6">传真：</li><li class="mp7">(.*?)</li></ul>[\s]*?)"
        R"(<ul><li class="mp6">邮件：</li><li class="mp7">[\s|\S]*?(.*?)</li></ul>[\s]*?)"
        R"(<ul><li class="mp6">地址：</li><li class="mp7">(.*?)</li></ul>)");
    return pattern;
}

CompanyPageMatch MatchCompanyPage(const Text& page) {
    return MatchCompanyPage(SystemUtf8::FromSystem(page));
}

CompanyPageMatch MatchCompanyPage(const SystemUtf8& page) {
    Regex regex;
    const bool searchedToTheEnd = regex.Create(CompanyDetailPattern(), page);
    // The pattern is fixed and accepted, so a false Create is the work bound.
    if (regex.MatchCount() == 0) return {std::nullopt, !searchedToTheEnd};
    ResultRow row{regex.GetSubMatch(1, 1), regex.GetSubMatch(1, 2),
                  regex.GetSubMatch(1, 3), regex.GetSubMatch(1, 4),
                  regex.GetSubMatch(1, 5), CleanEmail(regex.GetSubMatch(1, kEmailGroup)),
                  regex.GetSubMatch(1, 7)};
    return {std::move(row), false};
}

std::optional<std::string> CompanyPageFailure(std::optional<std::string> fetchFailure,
                                              const CompanyPageMatch& match) {
    if (!fetchFailure && match.bounded) return search_text::kCompanyPageTooComplex;
    return fetchFailure;
}

void ExtractCompany(SearchSession& session, int linkIndex) {
    NamedMutexGuard turn(*session.workerMutex, session.control->stop.get_token());
    ActiveWorkerRelease release(session);
    if (!turn.held()) return;

    const ListedLink listed = LinkAt(session, linkIndex);
    const Fetched<SystemUtf8> page = FetchPage(session, RequestedLink(listed.link));
    if (page.stopped) return;  // in flight when the search was stopped: a resume fetches it
    const CompanyPageMatch matched = MatchCompanyPage(page.body);
    // A page that could not be fetched or read still gives its row, as the match reads it, but
    // the record keeps the failure instead, for a resume to fetch it again.
    const std::optional<std::string> failure = CompanyPageFailure(page.failure, matched);
    if (failure) NoteFailedPage(session, {listed.place, listed.link, *failure});
    if (!matched.row) session.window.SetClipboardText(page.body.ToSystem());
    // No match gives a row of empty cells, as the match's groups read then.
    AppendCompanyRow(session, listed, matched.row.value_or(ResultRow{}), !failure);
}

void AppendCompanyRow(SearchSession& session, const ListedLink& listed, const ResultRow& row,
                      bool storeInRecord) {
    Frontend& window = session.window;
    const RowOrigin origin{listed.link, session.record->id()};
    int rowIndex = origin.searchId == 0 ? -1 : window.TakeUnreadRow(origin);
    if (rowIndex < 0) {
        // A pause holds the row before it begins; a stop does not end it.
        static_cast<void>(Proceed(session));
        rowIndex = window.AppendRow();
        window.SetRowOrigin(rowIndex, origin);
    }
    int column = 0;
    for (const Text* cell : row.Columns()) {
        static_cast<void>(Proceed(session));
        // Stored before the last cell completes the row where it is shown, so that every row
        // shown complete is in the journal.
        if (storeInRecord && column == kResultColumnCount - 1) {
            session.record->StoreRow(listed, row);
        }
        window.SetCell(rowIndex, column++, *cell);
    }
    if (!storeInRecord && origin.searchId != 0) window.MarkRowUnread(rowIndex);
}

}  // namespace velmora
