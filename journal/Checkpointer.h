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
    explicit Checkpointer(std::string path);
    // Runs a checkpoint still asked for, then ends the thread.
    ~Checkpointer();
    Checkpointer(const Checkpointer&) = delete;
    Checkpointer& operator=(const Checkpointer&) = delete;

    // Asks for a checkpoint; requests made while one is waiting become that one. Any thread.
    void Request();

private:
    void Run();

    const std::string path_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool requested_ = false;
    bool closing_ = false;
    std::thread thread_;
};

}  // namespace velmora
