// Writes what the build machine's iconv makes of each differential case, for a test that runs
// where there is no iconv (see CodePageReference.h):
//     WriteCodePageReference OUTPUT

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "tests/text/CodePageReference.h"
#include "tests/text/IconvConversion.h"

int main(int argc, char** argv) {
    using namespace velmora::test;
    if (argc != 2) {
        std::fprintf(stderr, "usage: WriteCodePageReference OUTPUT\n");
        return EXIT_FAILURE;
    }
    std::string file;
    for (const CodePageCase& c : CodePageCases()) {
        PutRecord(file, c.input);
        PutRecord(file, IconvConversion(c.conversion, c.input));
    }
    // Written whole or not at all, so that a failed run leaves no file that looks made.
    const std::string partial = std::string(argv[1]) + ".partial";
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
    out.close();
    if (!out || std::rename(partial.c_str(), argv[1]) != 0) {
        std::fprintf(stderr, "WriteCodePageReference: cannot write %s\n", argv[1]);
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
