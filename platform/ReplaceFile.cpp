#include "platform/ReplaceFile.h"

namespace velmora {

bool ReplaceFileContents(const std::filesystem::path& path, std::string_view bytes,
                         FileAccess access) {
    FileReplacement replacement(path, access);
    return replacement.Write(bytes) && replacement.Commit() == ReplaceOutcome::kReplaced;
}

}  // namespace velmora
