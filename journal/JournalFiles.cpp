#include "journal/JournalFiles.h"

#include "platform/ThisProcess.h"
#include "platform/UserDirectories.h"

namespace velmora {

std::string JournalPath() {
    if (std::string named = EnvironmentVariable(kJournalVariable); !named.empty()) return named;
    return DataFilePath(kJournalFileName);
}

}  // namespace velmora
