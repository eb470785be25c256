// Where the user's files go on Linux: the XDG folders or their places in the home folder, and the
// desktop as user-dirs.dirs names it.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include "platform/UserDirectories.h"
#include "tests/ScopedVariable.h"

namespace velmora {
namespace {

TEST(UserFilesTest, WithoutXdgFoldersTheirPlacesInTheHomeFolder) {
    const testing::ScopedVariable home("HOME", "/home/用户");
    // Unset or empty (a relative value counts as unset on every system: UserFilesTest.cpp).
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        const testing::ScopedVariable config(kConfigFolderVariable, value);
        const testing::ScopedVariable data(kDataFolderVariable, value);
        EXPECT_EQ(ConfigFilePath("f"), "/home/用户/.config/velmora/f");
        EXPECT_EQ(DataFilePath("f"), "/home/用户/.local/share/velmora/f");
    }
}

TEST(UserDesktopDirectoryTest, FollowsUserDirsDirsOrFallsBackToDesktopInHome) {
    const std::filesystem::path config =
        std::filesystem::temp_directory_path() /
        ("velmora-user-dirs-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(config);
    const testing::ScopedVariable configHome("XDG_CONFIG_HOME", config.c_str());
    const testing::ScopedVariable home("HOME", "/home/用户");
    struct Case {
        const char* file;  // nullptr: no user-dirs.dirs
        const char* desktop;
    };
    const Case cases[] = {
        {nullptr, "/home/用户/Desktop"},
        {"XDG_DESKTOP_DIR=\"$HOME/桌面\"\n", "/home/用户/桌面"},
        {"# written by xdg-user-dirs-update\n  XDG_DESKTOP_DIR=\"/srv/共享/桌面/\"\n",
         "/srv/共享/桌面"},
        {"XDG_DESKTOP_DIR=\"$HOME/a \\\"b\\\" \\\\c\"\n", "/home/用户/a \"b\" \\c"},
        {"XDG_DESKTOP_DIR=\"$HOME\"\n", "/home/用户"},
        {"XDG_DESKTOP_DIR=\"$HOME/first\"\nXDG_DESKTOP_DIR=\"$HOME/last\"\n", "/home/用户/last"},
        // Not one of the file's two forms, commented out, or another folder: the fallback.
        {"XDG_DESKTOP_DIR=\"relative/桌面\"\n", "/home/用户/Desktop"},
        {"XDG_DESKTOP_DIR=\"$HOMEWARD/x\"\n", "/home/用户/Desktop"},
        {"XDG_DESKTOP_DIR=/unquoted\n", "/home/用户/Desktop"},
        {"XDG_DESKTOP_DIR=\"/unclosed\n", "/home/用户/Desktop"},
        {"#XDG_DESKTOP_DIR=\"/commented\"\nXDG_DOWNLOAD_DIR=\"$HOME/下载\"\n",
         "/home/用户/Desktop"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file ? c.file : "(no file)");
        std::filesystem::remove(config / "user-dirs.dirs");
        if (c.file) std::ofstream(config / "user-dirs.dirs", std::ios::binary) << c.file;
        EXPECT_EQ(UserDesktopDirectory(), c.desktop);
    }
    std::filesystem::remove_all(config);
}

}  // namespace
}  // namespace velmora
