#pragma once
// Copies the journal's WAL back into its file on a thread of its own, so that no writer waits
// for the syncs to the disk that a checkpoint makes: a search's worker stores its row and goes
// on. The thread starts at the first request and has a connection of its own.

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace velmora {

class Checkpointer {
public:
    // The WAL is copied back each time it has grown by this many pages (SQLite's own default);
    // a row takes one or two.
    static constexpr int kCheckpointPages = 1000;

    explicit Checkpointer(std::string path);
    // Runs a checkpoint still asked for, then ends the thread.
    ~Checkpointer();
    Checkpointer(const Checkpointer&) = delete;
    Checkpointer& operator=(const Checkpointer&) = delete;

    // Told after each commit how many pages the WAL holds: asks for a checkpoint once the WAL
    // has grown by kCheckpointPages since the last one was asked for, or since it started again
    // from its beginning. Asking once per growth, not per commit, keeps the thread from chasing
    // a writer that never pauses with a checkpoint (and its syncs) for every few rows. Requests
    // made while one is waiting become that one. Any thread.
    void WalGrew(int pages);

private:
    void Run();

    const std::string path_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool requested_ = false;
    int pagesAtLastRequest_ = 0;
    bool closing_ = false;
    std::thread thread_;
};

}  // namespace velmora
