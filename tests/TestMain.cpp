// The main of every test program: the tests, or the child mode a test started it in.

#include <gtest/gtest.h>

#include "ChildMode.h"
#include "platform/ThisProcess.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments = velmora::CommandLineArguments(argc, argv);
    if (const std::optional<int> code = velmora::testing::RunChildMode(arguments)) return *code;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
