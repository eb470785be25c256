#pragma once
// Storage for results of the text operations. A size that cannot be allocated ends the program
// through the fatal handler, naming the byte count, instead of an exception leaving the engine.

#include <cstddef>
#include <string_view>

#include "text/Text.h"
#include "text/TextOps.h"

namespace velmora {

// A text of `length` bytes, contents unspecified.
Text NewText(std::size_t length);
// A new text holding a copy of `bytes`.
Text TextOf(std::string_view bytes);
// A byte array of `size` zero bytes.
Bytes NewBytes(std::size_t size);

}  // namespace velmora
