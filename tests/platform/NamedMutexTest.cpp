// The cross-process worker lock.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/NamedMutex.h"
#include "platform/ThisProcess.h"
#include "tests/ChildMode.h"

namespace velmora {
namespace {

// Takes the lock named by its argument, says "L" on standard output, and ends without giving it
// back once its standard input ends.
int HoldUntilTheEnd(const std::vector<std::string>& arguments) {
    NamedMutex mutex(arguments.at(0));
    if (!mutex.Lock({})) return 2;
    if (std::fputs("L", stdout) < 0 || std::fflush(stdout) != 0) return 3;
    while (std::fgetc(stdin) != EOF) {
    }
    return 0;
}
const testing::ChildMode kHoldUntilTheEnd("hold-until-the-end", HoldUntilTheEnd);

// A name no other test run uses, and its file removed afterwards.
class NamedMutexTest : public ::testing::Test {
protected:
    std::string name_ = "velmora-test-" + std::to_string(ProcessId()) + "-" +
                        ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::vector<std::string> files_;

    void Forget(const NamedMutex& mutex) { files_.push_back(mutex.path()); }
    void TearDown() override {
        std::error_code ignored;
        for (const std::string& file : files_) std::filesystem::remove(file, ignored);
    }
};

std::stop_token StoppedToken() {
    std::stop_source source;
    source.request_stop();
    return source.get_token();
}

TEST_F(NamedMutexTest, ThreadsOfOneProcessTakeTurns) {
    NamedMutex mutex(name_);
    Forget(mutex);
    ASSERT_FALSE(mutex.path().empty());
    std::atomic<int> inside{0};
    std::atomic<int> mostInside{0};
    int unguarded = 0;  // a data race here would show under the thread sanitizer
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                NamedMutexGuard turn(mutex, {});
                ASSERT_TRUE(turn.held());
                const int now = ++inside;
                if (now > mostInside) mostInside = now;
                ++unguarded;
                --inside;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mostInside.load(), 1);
    EXPECT_EQ(unguarded, 800);
}

TEST_F(NamedMutexTest, TwoOpeningsOfOneNameExcludeEachOther) {
    NamedMutex first(name_);
    NamedMutex second(name_);
    Forget(first);
    ASSERT_EQ(first.path(), second.path());
    ASSERT_TRUE(first.Lock({}));
    // The stopped waiter gives up only because the name is taken.
    EXPECT_FALSE(second.Lock(StoppedToken()));
    first.Unlock();
    ASSERT_TRUE(second.Lock({}));
    EXPECT_FALSE(first.Lock(StoppedToken()));
    second.Unlock();
}

TEST_F(NamedMutexTest, WaiterIsReleasedByAStopRequest) {
    NamedMutex mutex(name_);
    Forget(mutex);
    ASSERT_TRUE(mutex.Lock({}));
    std::stop_source stop;
    auto waiter = std::async(std::launch::async, [&] { return mutex.Lock(stop.get_token()); });
    stop.request_stop();
    EXPECT_FALSE(waiter.get());
    mutex.Unlock();
    EXPECT_TRUE(mutex.Lock({}));
    mutex.Unlock();
}

TEST_F(NamedMutexTest, HolderThatDiesLeavesTheLockObtainable) {
    NamedMutex mutex(name_);
    Forget(mutex);
    ChildOptions options;
    options.input = ChildStream::kPipe;
    options.output = ChildStream::kPipe;
    ChildProcess child;
    ASSERT_TRUE(kHoldUntilTheEnd.Start(child, {name_}, options)) << child.error();
    const std::optional<ChildOutput> locked = child.ReadOutput();
    ASSERT_TRUE(locked && locked->bytes == "L");
    EXPECT_FALSE(mutex.Lock(StoppedToken())) << "another process holds it";
    child.CloseInput();  // it ends without unlocking once this one has looked
    const ChildExit exit = child.Wait();
    ASSERT_TRUE(exit.exited && exit.code == 0) << exit.code;
    EXPECT_TRUE(mutex.Lock({}));
    mutex.Unlock();
}

}  // namespace
}  // namespace velmora
