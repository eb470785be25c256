#include <dirent.h>
#include <sched.h>

#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>

#include "platform/ProcessorAffinity.h"

namespace velmora {
namespace {

// The processors the process had before its first restriction, kept for the restore.
struct Remembered {
    std::mutex mutex;
    std::optional<cpu_set_t> beforeRestriction;
};

Remembered& Before() {
    static Remembered remembered;
    return remembered;
}

// Affinity belongs to each thread here, not to the process: binds every thread there is.
bool BindEveryThread(const cpu_set_t& set) {
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks) return sched_setaffinity(0, sizeof set, &set) == 0;
    bool all = true;
    while (const dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        const pid_t thread = static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10));
        if (sched_setaffinity(thread, sizeof set, &set) != 0) all = false;
    }
    closedir(tasks);
    return all;
}

}  // namespace

bool RestrictProcessToFirstProcessor() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return false;
    {
        std::lock_guard lock(Before().mutex);
        if (!Before().beforeRestriction) Before().beforeRestriction = allowed;
    }
    // "First" is the lowest processor this process may use, which need not be number 0 when
    // the process was started inside a narrower set.
    cpu_set_t first;
    CPU_ZERO(&first);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) {
            CPU_SET(cpu, &first);
            break;
        }
    }
    if (CPU_COUNT(&first) == 0) return false;
    return BindEveryThread(first);
}

bool RestoreProcessorsBeforeRestriction() {
    std::optional<cpu_set_t> before;
    {
        std::lock_guard lock(Before().mutex);
        before = Before().beforeRestriction;
    }
    return !before || BindEveryThread(*before);
}

}  // namespace velmora
