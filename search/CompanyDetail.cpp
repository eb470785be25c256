#include "search/CompanyDetail.h"

#include "platform/NamedMutex.h"
#include "results/ResultSink.h"
#include "search/CrawlSteps.h"
#include "search/DirectoryPages.h"
#include "search/SearchControl.h"

namespace velmora {

namespace {

// Lowers the count of active workers when the worker ends, however it ends; declared after the
// worker's turn on workerMutex so that the count goes down before the turn is given up. Only
// the batch's wait cares, and only for a count down to 0 (it checks the count when it begins,
// after every raise); the end of a worker's thread wakes the crawl on its own.
class ActiveWorkerRelease {
public:
    explicit ActiveWorkerRelease(SearchSession& session) : session_(session) {}
    ~ActiveWorkerRelease() {
        if (--session_.serial.activeWorkers > 0) return;
        { std::lock_guard lock(session_.control->mutex); }
        session_.control->changed.notify_all();
    }
    ActiveWorkerRelease(const ActiveWorkerRelease&) = delete;
    ActiveWorkerRelease& operator=(const ActiveWorkerRelease&) = delete;

private:
    SearchSession& session_;
};

}  // namespace

void ExtractCompany(SearchSession& session, int linkIndex) {
    NamedMutexGuard turn(*session.serial.workerMutex, session.control->stop.get_token());
    ActiveWorkerRelease release(session);
    if (!turn.held()) return;

    const ListedLink listed = session.serial.LinkAt(linkIndex);
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

}  // namespace velmora
