#include "search/CrawlSteps.h"

#include "http/HttpClient.h"
#include "results/ResultSink.h"
#include "search/SearchControl.h"
#include "search/SearchRecord.h"
#include "search/SearchTexts.h"
#include "text/TextOps.h"

namespace velmora {

namespace {

// Answers that say the site could not serve the page now: any server error, and "too many
// requests".
constexpr int kFirstServerErrorStatus = 500;
constexpr int kTooManyRequestsStatus = 429;
constexpr int kFirstRedirectStatus = 300;
constexpr int kFirstClientErrorStatus = 400;

template <typename Body, typename ReadBody>
Fetched<Body> Fetch(SearchSession& session, const Text& url, ReadBody readBody) {
    // The client holds the request while paused and refuses it once stopped.
    HttpClient& client = session.client;
    const auto stoppedTransfer = [&client] { return client.LastError() == HttpError::kStopped; };
    client.Get(url);
    if (stoppedTransfer()) return {{}, std::nullopt, true};
    Body body = readBody(client);
    // A stop during the body's transfer ends it as a failure, which is the stop's.
    if (stoppedTransfer()) return {{}, std::nullopt, true};
    return {std::move(body), FailureOf(client)};
}

}  // namespace

std::optional<std::string> FailureOf(const HttpClient& client) {
    if (const HttpError error = client.LastError(); error != HttpError::kNone) {
        return HttpErrorText(error);
    }
    const int status = client.ResponseStatus();
    if (status >= kFirstServerErrorStatus || status == kTooManyRequestsStatus) {
        return search_text::kSiteAnsweredBefore + std::to_string(status);
    }
    // The client follows every redirect it may: a last answer that still redirects is where
    // its bound cut the chain.
    if (status >= kFirstRedirectStatus && status < kFirstClientErrorStatus &&
        !client.ResolveLocation().empty()) {
        return search_text::kTooManyRedirects;
    }
    return std::nullopt;
}

SearchState EndAs(SearchSession& session, SearchState end) {
    const int resultPages = session.failedResultPages;
    const int companyPages = session.failedCompanyPages;
    if (resultPages == 0 && companyPages == 0) return end;
    session.window.SetStatusText(
        kNoticeStatusField,
        ConcatText(Utf8ToSystem(search_text::kFailedPagesBefore), ToText(resultPages),
                   Utf8ToSystem(search_text::kFailedResultPagesAfter), ToText(companyPages),
                   Utf8ToSystem(search_text::kFailedCompanyPagesAfter)));
    return SearchState::kIncomplete;
}

bool EndUnreachable(SearchSession& session, HttpError error) {
    if (!Proceed(session)) return false;
    session.siteUnreachable = true;
    ResultSink& window = session.window;
    window.SetTimerPeriod(0);
    window.SetStatusText(0, Utf8ToSystem(search_text::kStatusUnreachable));
    window.ShowMessage(ConcatText(Utf8ToSystem(search_text::kUnreachableBefore),
                                  session.siteBaseUrl, Utf8ToSystem(search_text::kReasonBefore),
                                  Utf8ToSystem(HttpErrorText(error)),
                                  Utf8ToSystem(search_text::kReasonAfter)));
    return true;
}

Fetched<Text> FetchText(SearchSession& session, const Text& url) {
    return Fetch<Text>(session, url, [](HttpClient& client) { return client.ReadBodyTextUtf8(); });
}

Fetched<SystemUtf8> FetchPage(SearchSession& session, const Text& url) {
    return Fetch<SystemUtf8>(session, url,
                             [](HttpClient& client) { return client.ReadBodyUtf8(); });
}

void NoteFailedPage(SearchSession& session, const FailedPage& failed) {
    ++(failed.IsResultPage() ? session.failedResultPages : session.failedCompanyPages);
    session.record->StoreFailedPage(failed);
}

bool EmptyPageRun::EndsListing(int page, bool fetched, bool empty, int pageCount) {
    if (fetched) inARow_ = empty && page > 1 ? inARow_ + 1 : 0;
    return inARow_ == kMaxEmptyPagesInARow && page < pageCount;
}

void ShowTotal(SearchSession& session, const Text& total) {
    session.window.SetStatusText(1, Utf8ToSystem(search_text::kResultsBefore) + total +
                                        Utf8ToSystem(search_text::kCountAfter));
}

void ShowDispatched(SearchSession& session, int dispatched) {
    session.window.SetStatusText(2, Utf8ToSystem(search_text::kDispatchedBefore) +
                                        ToText(dispatched) +
                                        Utf8ToSystem(search_text::kCountAfter));
}

void TellEmptyPagesEnd(SearchSession& session) {
    session.window.SetStatusText(kNoticeStatusField,
                                 Utf8ToSystem(search_text::kEmptyPagesBefore) +
                                     ToText(kMaxEmptyPagesInARow) +
                                     Utf8ToSystem(search_text::kEmptyPagesAfter));
}

void AppendCompanyRow(SearchSession& session, const ListedLink& listed, const ResultRow& row,
                      bool storeInRecord) {
    ResultSink& window = session.window;
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

SearchState EndWithNoHits(SearchSession& session, const Text& keyword) {
    session.window.ShowMessage(Utf8ToSystem(search_text::kNoHitsBefore) + keyword +
                               Utf8ToSystem(search_text::kNoHitsAfter));
    session.window.SetStatusText(0, Utf8ToSystem(search_text::kStatusNoHits));
    return EndAs(session, SearchState::kNoHits);
}

SearchState EndWalked(SearchSession& session) {
    session.window.SetTimerPeriod(0);
    const SearchState end = EndAs(session, SearchState::kFinished);
    session.window.ShowMessage(Utf8ToSystem(search_text::kSearchFinished));
    return end;
}

}  // namespace velmora
