#include <cerrno>

#include "platform/SystemError.h"

namespace velmora {

StorageErrorKind KindOfStorageError(int systemError) {
    switch (systemError) {
        case EACCES:
        case EPERM:
        case EROFS:
            return StorageErrorKind::kNotWritable;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return StorageErrorKind::kFull;
        default:
            return StorageErrorKind::kOther;
    }
}

int LastSystemError() {
    return errno;
}

}  // namespace velmora
