#include "WriteProbe.h"

#include <fstream>
#include <string>
#include <vector>

#include "ChildMode.h"
#include "platform/Utf8Path.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

constexpr int kRefused = 0;
constexpr int kWritten = 1;

int TryWriting(const std::vector<std::string>& arguments) {
    const fs::path path = PathFromUtf8(arguments.at(0));
    std::error_code error;
    const bool folder = fs::is_directory(path, error);
    const fs::path target = folder ? path / "write-probe" : path;
    // Appending opens a file for writing and changes nothing until something is written.
    if (!std::ofstream(target, std::ios::binary | std::ios::app)) return kRefused;
    if (folder) fs::remove(target, error);
    return kWritten;
}
const testing::ChildMode kTryWriting("try-writing", TryWriting);

}  // namespace

bool ChildCanWrite(const std::filesystem::path& path, const ChildLimits& limits) {
    ChildOptions options;
    options.limits = limits;
    ChildProcess child;
    if (!kTryWriting.Start(child, {Utf8FromPath(path)}, options)) return false;
    const ChildExit exit = child.Wait();
    return exit.exited && exit.code == kWritten;
}

}  // namespace velmora::test
