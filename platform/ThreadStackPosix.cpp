#include <pthread.h>

#include "platform/ThreadStack.h"

namespace velmora {

bool UseThreadStackSize() {
    if (!kThreadStackSizeSettable) return false;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    const bool set = pthread_attr_setstacksize(&attributes, kThreadStackBytes) == 0 &&
                     pthread_setattr_default_np(&attributes) == 0;
    pthread_attr_destroy(&attributes);
    return set;
}

}  // namespace velmora
