#include "platform/ReplaceFile.h"

#include "platform/SystemError.h"

namespace velmora {

WriteFailure WriteFailureOfStorageError(int systemError) {
    switch (KindOfStorageError(systemError)) {
        case StorageErrorKind::kNotWritable:
            return WriteFailure::kFolderNotWritable;
        case StorageErrorKind::kFull:
            return WriteFailure::kFull;
        case StorageErrorKind::kOther:
            break;
    }
    return WriteFailure::kOther;
}

bool ReplaceFileContents(const std::filesystem::path& path, std::string_view bytes,
                         FileAccess access) {
    FileReplacement replacement(path, access);
    return replacement.Write(bytes) && replacement.Commit() == ReplaceOutcome::kReplaced;
}

}  // namespace velmora
