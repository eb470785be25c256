#pragma once
// Processor affinity of the whole process.

namespace velmora {

// Binds every thread of the process, and so every thread it starts later, to the first
// processor it may run on. False when the process's threads could not all be bound.
bool RestrictProcessToFirstProcessor();

// Gives every thread of the process back the processors it had before the first restriction;
// nothing to do when it was never restricted. False when not every thread could be set.
bool RestoreProcessorsBeforeRestriction();

}  // namespace velmora
