#include <windows.h>

#include <atomic>

#include "platform/ProcessorAffinity.h"

namespace velmora {
namespace {

// The process's mask before its first restriction, kept for the restore; 0 until then.
std::atomic<DWORD_PTR> maskBeforeRestriction{0};

}  // namespace

bool RestrictProcessToFirstProcessor() {
    DWORD_PTR allowed = 0;
    DWORD_PTR system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &allowed, &system) || allowed == 0) {
        return false;
    }
    DWORD_PTR unset = 0;
    maskBeforeRestriction.compare_exchange_strong(unset, allowed);
    // "First" is the lowest processor this process may use, which need not be number 0 when
    // the process was started inside a narrower set. The mask binds every thread, those
    // started before included.
    const DWORD_PTR first = allowed & (~allowed + 1);
    return SetProcessAffinityMask(GetCurrentProcess(), first) != 0;
}

bool RestoreProcessorsBeforeRestriction() {
    const DWORD_PTR before = maskBeforeRestriction.load();
    return before == 0 || SetProcessAffinityMask(GetCurrentProcess(), before) != 0;
}

}  // namespace velmora
