#include <windows.h>

#include "platform/ProcessorAffinity.h"

namespace velmora {

bool RestrictProcessToFirstProcessor() {
    DWORD_PTR allowed = 0;
    DWORD_PTR system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &allowed, &system) || allowed == 0) {
        return false;
    }
    // "First" is the lowest processor this process may use, which need not be number 0 when
    // the process was started inside a narrower set. The mask binds every thread, those
    // started before included.
    const DWORD_PTR first = allowed & (~allowed + 1);
    return SetProcessAffinityMask(GetCurrentProcess(), first) != 0;
}

}  // namespace velmora
