#pragma once
// The session's pause and stop state, shared by its threads (internal to search/).
//
// `transfers` is also the HTTP client's control: a pause holds requests and transfers in
// flight, a stop aborts them. `stop` mirrors a stop for the waits that need a stop token
// (a batch's wait, the wait for workerMutex). Both are set together by RequestStop.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

#include "http/TransferControl.h"
#include "search/SearchSession.h"

namespace velmora {

struct SearchSession::Control {
    const std::shared_ptr<TransferControl> transfers = std::make_shared<TransferControl>();
    // Replaced at each start, while no search thread runs.
    std::stop_source stop;

    // Guards crawlRunning, endedWorkers and crawlWaitsForRoom; `changed` announces the crawl's
    // end, the batch's last worker's end, and to a crawl waiting for room every worker's end.
    std::mutex mutex;
    std::condition_variable_any changed;
    bool crawlRunning = false;
    // Workers of the running batch whose routine has returned, for the crawl to join.
    std::vector<std::thread::id> endedWorkers;
    // The crawl waits for a worker to end before it starts another.
    bool crawlWaitsForRoom = false;

    // A parallel search is running: the buttons act at any moment of it.
    std::atomic<bool> parallelRunning{false};

    // The control thread of the last accepted press; each one first joins the one before it, so
    // presses take effect in the order made.
    std::jthread lastControlThread;
};

// Stops the running search: no request after this, the transfer in flight aborted, waits woken.
void RequestStop(SearchSession& session);

// True to go on; blocks while the search is paused; false once it is stopped. Called at every
// boundary where a stop may end a search thread: before a window write and around requests.
[[nodiscard]] bool Proceed(SearchSession& session);

[[nodiscard]] bool Stopped(const SearchSession& session);

}  // namespace velmora
