#include "platform/Utf8Path.h"

namespace velmora {

// A path here is bytes, UTF-8 in every locale the program runs in.
std::filesystem::path PathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::string(utf8));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
    return path.native();
}

}  // namespace velmora
