#pragma once
// The stack of the threads the program starts.

#include <cstddef>

namespace velmora {

// The stack of every thread started without a size of its own: std::thread's, the search's
// workers among them, and the libraries'. A search worker (libcurl, SQLite, PCRE2 with a JIT
// stack of its own) runs in under 32 KiB; this is what other systems give such threads by
// default, so the libraries are at home in it. glibc keeps up to 40 MiB of ended threads'
// stacks for reuse: enough for a batch of workers with stacks this size, where 8 MiB ones were
// mapped and unmapped again for each worker.
inline constexpr std::size_t kThreadStackBytes = std::size_t{512} << 10;

// The thread sanitizer's thread start refuses every thread (EINVAL) once a default stack size
// is set, so under it threads keep the system's size. Windows gives every thread the stack size
// written in the executable and has no default to change at run time; it reserves that size
// and commits pages only as they are touched.
#if defined(__SANITIZE_THREAD__)
#define VELMORA_THREAD_SANITIZER
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VELMORA_THREAD_SANITIZER
#endif
#endif
#if defined(VELMORA_THREAD_SANITIZER) || defined(_WIN32)
inline constexpr bool kThreadStackSizeSettable = false;
#else
inline constexpr bool kThreadStackSizeSettable = true;
#endif

// Makes kThreadStackBytes the stack of threads started from now on; called before any thread
// starts. False when the system refuses or kThreadStackSizeSettable is false, and the threads
// keep the system's size.
bool UseThreadStackSize();

}  // namespace velmora
