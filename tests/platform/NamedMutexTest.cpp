// The cross-process worker lock, the processor binding and the threads' stack size.

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/NamedMutex.h"
#include "platform/ProcessorAffinity.h"
#include "platform/ThreadStack.h"

namespace velmora {
namespace {

// A name no other test run uses, and its file removed afterwards.
class NamedMutexTest : public ::testing::Test {
protected:
    std::string name_ = "velmora-test-" + std::to_string(getpid()) + "-" +
                        ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::vector<std::string> files_;

    void Forget(const NamedMutex& mutex) { files_.push_back(mutex.path()); }
    void TearDown() override {
        for (const std::string& file : files_) unlink(file.c_str());
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
    int locked[2];
    int release[2];
    ASSERT_EQ(pipe(locked), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(release[1]);  // so that the parent's close reads as the end here
        NamedMutex inChild(name_);
        if (!inChild.Lock({})) _exit(2);
        char byte = 'L';
        if (write(locked[1], &byte, 1) != 1) _exit(3);
        // Ends without unlocking once the parent has looked.
        if (read(release[0], &byte, 1) < 0) _exit(4);
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(locked[0], &byte, 1), 1);
    EXPECT_FALSE(mutex.Lock(StoppedToken())) << "another process holds it";
    close(release[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(mutex.Lock({}));
    mutex.Unlock();
    close(locked[0]);
    close(locked[1]);
    close(release[0]);
}

TEST(UserRuntimeDirectoryTest, RefusesADirectoryOthersCanWrite) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedValue = saved ? saved : "";
    char shared[] = "/tmp/velmora-shared-XXXXXX";
    char own[] = "/tmp/velmora-own-XXXXXX";
    ASSERT_NE(mkdtemp(shared), nullptr);
    ASSERT_NE(mkdtemp(own), nullptr);
    chmod(shared, 0777);

    setenv("XDG_RUNTIME_DIR", shared, 1);
    const std::string forShared = UserRuntimeDirectory();
    setenv("XDG_RUNTIME_DIR", own, 1);
    const std::string forOwn = UserRuntimeDirectory();
    setenv("XDG_RUNTIME_DIR", "relative/dir", 1);
    const std::string forRelative = UserRuntimeDirectory();

    if (saved)
        setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
    else
        unsetenv("XDG_RUNTIME_DIR");
    rmdir(shared);
    rmdir(own);

    EXPECT_NE(forShared, shared);
    EXPECT_FALSE(forShared.empty());
    EXPECT_EQ(forOwn, own);
    EXPECT_EQ(forRelative, forShared) << "both fall back to the private directory in /tmp";
}

TEST(ThreadStackTest, ThreadsStartedAfterwardsHaveTheNamedStackSize) {
    if (!kThreadStackSizeSettable) GTEST_SKIP() << "threads keep the system's stack size here";
    ASSERT_TRUE(UseThreadStackSize());
    std::size_t size = 0;
    std::thread([&] {
        pthread_attr_t attributes;
        ASSERT_EQ(pthread_getattr_np(pthread_self(), &attributes), 0);
        pthread_attr_getstacksize(&attributes, &size);
        pthread_attr_destroy(&attributes);
    }).join();
    EXPECT_EQ(size, kThreadStackBytes);
}

TEST(ProcessorAffinityTest, BindsThreadsStartedBeforeAndAfter) {
    std::promise<void> bound;
    std::promise<int> earlierCount;
    std::thread earlier([&] {
        bound.get_future().wait();
        cpu_set_t set;
        sched_getaffinity(0, sizeof set, &set);
        earlierCount.set_value(CPU_COUNT(&set));
    });
    ASSERT_TRUE(RestrictProcessToFirstProcessor());
    bound.set_value();
    int laterCount = 0;
    std::thread later([&] {
        cpu_set_t set;
        sched_getaffinity(0, sizeof set, &set);
        laterCount = CPU_COUNT(&set);
    });
    later.join();
    earlier.join();
    cpu_set_t own;
    sched_getaffinity(0, sizeof own, &own);
    EXPECT_EQ(CPU_COUNT(&own), 1);
    EXPECT_EQ(earlierCount.get_future().get(), 1);
    EXPECT_EQ(laterCount, 1);
}

}  // namespace
}  // namespace velmora
