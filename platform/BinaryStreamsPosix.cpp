#include "platform/BinaryStreams.h"

namespace velmora {

void UseBinaryStandardStreams() {}

}  // namespace velmora
