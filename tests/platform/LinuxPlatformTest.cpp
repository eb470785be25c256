// What the platform's Linux implementations must get right about Linux itself: the runtime
// folder from XDG_RUNTIME_DIR or a private one of its own, glibc's default thread stack, and
// affinity, which Linux keeps for each thread. Built on Linux alone (see CMakeLists.txt): Windows
// has no runtime folder variable, sizes stacks thread by thread and keeps affinity for the whole
// process, so these checks have no Windows form.

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <future>
#include <string>
#include <thread>

#include "platform/NamedMutex.h"
#include "platform/ProcessorAffinity.h"
#include "platform/ThreadStack.h"

namespace velmora {
namespace {

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
