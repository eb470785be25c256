#pragma once
// How the text operations end the program when they cannot go on: memory for a result that
// cannot be had, a remainder by zero. text/ only names the condition; the program installs at
// start-up the handler that reports it and ends the process.

#include <cstddef>

#include "text/Text.h"

namespace velmora {

// Reports the message (system code page) and ends the process; never returns.
using FatalHandler = void (*)(const Text& message);

// Once at start-up, before any thread exists; nullptr removes the handler.
void SetFatalHandler(FatalHandler handler);

// Hands the message to the installed handler. Without one (or should it return) the message's
// bytes go to standard error and the process aborts.
[[noreturn]] void RaiseFatal(const Text& message);

// The condition for `byteCount` bytes that could not be allocated.
[[noreturn]] void RaiseAllocationFailure(std::size_t byteCount);

}  // namespace velmora
