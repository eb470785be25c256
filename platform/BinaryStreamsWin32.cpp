#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <initializer_list>

#include "platform/BinaryStreams.h"

namespace velmora {

void UseBinaryStandardStreams() {
    for (FILE* stream : {stdin, stdout, stderr}) _setmode(_fileno(stream), _O_BINARY);
}

}  // namespace velmora
