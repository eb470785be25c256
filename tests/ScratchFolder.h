#pragma once
// A fresh folder for a test's files, removed with everything in it when the object goes.

#include <filesystem>
#include <string>
#include <string_view>

namespace velmora::test {

class ScratchFolder {
public:
    // Made in the system's temporary folder, under a name that begins with `prefix`, open to
    // this user alone where the system has such permissions.
    explicit ScratchFolder(std::string_view prefix = "velmora-test");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    // Names of the files in the folder (UTF-8), sorted, separated by blanks.
    std::string Listing() const;

private:
    std::filesystem::path path_;
};

}  // namespace velmora::test
