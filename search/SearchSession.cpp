#include "search/SearchSession.h"

#include <system_error>

#include "http/HttpClient.h"
#include "platform/NamedMutex.h"
#include "platform/ProcessorAffinity.h"
#include "results/Frontend.h"
#include "search/ListingCrawl.h"
#include "search/SearchControl.h"
#include "search/SearchTexts.h"
#include "text/CodePage.h"

namespace velmora {

namespace {

// A batch of fewer links than this and the pause, resume and stop buttons do nothing.
constexpr std::size_t kWorkersForControl = 2;

std::thread StartPlainThread(std::function<void()> routine) {
    return std::thread(std::move(routine));
}

bool AcceptsControl(const SearchSession& session) {
    std::lock_guard lock(session.listLock);
    return session.batchLinks >= kWorkersForControl;
}

// Runs the routine on a control thread after every earlier press has taken effect. Should no
// thread start, the routine runs here: none of them waits on the window.
void StartControlThread(SearchSession& session, void (*routine)(SearchSession&)) {
    auto& control = *session.control;
    std::jthread previous = std::move(control.lastControlThread);
    try {
        control.lastControlThread =
            std::jthread([&session, routine, previous = std::move(previous)]() mutable {
                if (previous.joinable()) previous.join();
                routine(session);
            });
    } catch (const std::system_error&) {
        routine(session);  // `previous` was joined as the failed thread's routine went
    }
}

void SetStatus(SearchSession& session, const char* utf8) {
    session.window.SetStatusText(0, Utf8ToSystem(utf8));
}

}  // namespace

SearchSession::SearchSession(Frontend& windowPort, HttpClient& httpClient, Text baseUrl)
    : window(windowPort),
      client(httpClient),
      siteBaseUrl(std::move(baseUrl)),
      startThread(StartPlainThread),
      control(std::make_unique<Control>()) {
    client.SetTransferControl(control->transfers);
}

SearchSession::~SearchSession() {
    EndSearchThreads(*this);
    client.SetTransferControl(nullptr);
}

void RequestStop(SearchSession& session) {
    // The transfers first: a thread woken by the token must find its requests refused.
    session.control->transfers->Stop();
    session.control->stop.request_stop();
}

bool Proceed(SearchSession& session) {
    return session.control->transfers->WaitWhilePaused();
}

bool Stopped(const SearchSession& session) {
    return session.control->transfers->IsStopped();
}

void StartSearch(SearchSession& session) {
    auto& control = *session.control;
    // One crawl at a time: a running search ends first. Its rows stay, and with every thread
    // joined the count of active workers is exact again, so a stop cannot leave it raised.
    EndSearchThreads(session);
    session.activeWorkers = 0;
    session.siteUnreachable = false;
    control.transfers->Reset();
    control.stop = std::stop_source();

    session.window.SetTimerPeriod(1000);
    session.workerMutex = std::make_unique<NamedMutex>(kWorkerMutexName);
    // Bound and announced before the crawl starts, so that the crawl inherits the binding and
    // none of its status texts can come before "running".
    RestrictProcessToFirstProcessor();
    SetStatus(session, search_text::kStatusRunning);

    {
        std::lock_guard lock(control.mutex);
        control.crawlRunning = true;
    }
    try {
        session.crawlThread = std::thread([&session, keyword = session.window.ReadKeyword()] {
            CrawlListing(session, keyword);
            {
                // A stopped crawl may leave links it had gathered; the next one starts empty.
                std::lock_guard lists(session.listLock);
                session.companyLinks.clear();
            }
            {
                std::lock_guard lock(session.control->mutex);
                session.control->crawlRunning = false;
            }
            session.control->changed.notify_all();
        });
    } catch (const std::system_error&) {
        std::lock_guard lock(control.mutex);
        control.crawlRunning = false;
    }
}

bool PauseSearch(SearchSession& session) {
    if (!AcceptsControl(session)) return false;
    StartControlThread(session, SuspendSearchThreads);
    return true;
}

bool ResumeSearch(SearchSession& session) {
    if (!AcceptsControl(session)) return false;
    StartControlThread(session, ResumeSearchThreads);
    return true;
}

bool StopSearch(SearchSession& session) {
    if (!AcceptsControl(session)) return false;
    StartControlThread(session, TerminateSearchThreads);
    return true;
}

void SuspendSearchThreads(SearchSession& session) {
    session.control->transfers->Pause();
    SetStatus(session, search_text::kStatusPaused);
}

void ResumeSearchThreads(SearchSession& session) {
    session.control->transfers->Resume();
    SetStatus(session, search_text::kStatusResumed);
}

void TerminateSearchThreads(SearchSession& session) {
    RequestStop(session);
    // The crawl joins its workers and empties both lists on its way out.
    WaitForSearchEnd(session);
    SetStatus(session, search_text::kStatusEnding);
}

void WaitForSearchEnd(SearchSession& session) {
    auto& control = *session.control;
    std::unique_lock lock(control.mutex);
    control.changed.wait(lock, [&] { return !control.crawlRunning; });
}

void EndSearchThreads(SearchSession& session) {
    RequestStop(session);
    if (session.crawlThread.joinable()) session.crawlThread.join();
    // Joining the last control thread joins every earlier one.
    if (session.control->lastControlThread.joinable()) session.control->lastControlThread.join();
}

}  // namespace velmora
