#include "platform/ThreadStack.h"

namespace velmora {

bool UseThreadStackSize() {
    return false;  // kThreadStackSizeSettable says why
}

}  // namespace velmora
