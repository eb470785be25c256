#include "ScratchFolder.h"

#include <random>
#include <set>
#include <stdexcept>

#include "platform/Utf8Path.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

// Random names tried before giving up; a collision needs another run's folder of that name.
constexpr int kNameAttempts = 16;

}  // namespace

ScratchFolder::ScratchFolder(std::string_view prefix) {
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const fs::path path = fs::temp_directory_path() /
                              (std::string(prefix) + "-" + std::to_string(random() % 1000000000));
        // Made only when it did not exist: nobody else's folder is ever used.
        if (fs::create_directory(path)) {
            fs::permissions(path, fs::perms::owner_all);
            path_ = path;
            return;
        }
    }
    throw std::runtime_error("cannot make a scratch folder");
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    // A test may have taken the write permission away.
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

std::string ScratchFolder::Listing() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_)) {
        names.insert(Utf8FromPath(entry.path().filename()));
    }
    std::string listing;
    for (const auto& name : names) listing += (listing.empty() ? "" : " ") + name;
    return listing;
}

}  // namespace velmora::test
