// Where the program's own files go, on every system: in the folders that the configuration and
// data variables name when they hold an absolute path, else where the system keeps them.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/UserDirectories.h"
#include "platform/Utf8Path.h"
#include "tests/ScopedVariable.h"

namespace velmora {
namespace {

TEST(UserFilesTest, FolderVariablesMoveTheFilesWhenAbsoluteAndTheDescriptionsNameThem) {
    // Absolute on every system; never made.
    const std::filesystem::path moved =
        std::filesystem::temp_directory_path() / PathFromUtf8("用户");
    struct Kind {
        const char* variable;
        std::string (*path)(std::string_view name);
        std::string (*description)(std::string_view name);
    };
    for (const Kind& kind : {Kind{kConfigFolderVariable, ConfigFilePath, ConfigFileDescription},
                             Kind{kDataFolderVariable, DataFilePath, DataFileDescription}}) {
        SCOPED_TRACE(kind.variable);
        // What the user is told names the variable that moves the file, and the file.
        const std::string description = kind.description("文件");
        EXPECT_NE(description.find(kind.variable), std::string::npos) << description;
        EXPECT_NE(description.find("文件"), std::string::npos) << description;
        std::string unset;
        {
            const testing::ScopedVariable none(kind.variable, nullptr);
            unset = kind.path("文件");
        }
        ASSERT_FALSE(unset.empty());
        {
            const testing::ScopedVariable relative(kind.variable, "relative/folder");
            EXPECT_EQ(kind.path("文件"), unset);
        }
        const testing::ScopedVariable absolute(kind.variable, Utf8FromPath(moved).c_str());
        EXPECT_EQ(kind.path("文件"), Utf8FromPath(moved / "velmora" / PathFromUtf8("文件")));
    }
}

}  // namespace
}  // namespace velmora
