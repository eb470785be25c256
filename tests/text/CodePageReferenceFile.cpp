// The reference of a cross build: the file the build machine's iconv wrote, named by
// VELMORA_CODE_PAGE_REFERENCE relative to the test's working folder (CTest runs it in its
// build folder, where the file is made).

#include <algorithm>
#include <fstream>

#include "tests/text/CodePageReference.h"

namespace velmora::test {

std::vector<std::string> ReferenceOutputs(const std::vector<CodePageCase>& cases) {
    const char* const path = VELMORA_CODE_PAGE_REFERENCE;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::string contents(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
    in.seekg(0);
    in.read(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (!in) throw std::runtime_error(std::string("cannot read ") + path);
    std::string_view file = contents;
    std::vector<std::string> outputs;
    for (const CodePageCase& c : cases) {
        std::string_view input;
        std::string_view output;
        if (!TakeRecord(file, input) || !TakeRecord(file, output)) {
            throw std::runtime_error(std::string(path) + " ends before " + c.name);
        }
        if (input != c.input) {
            throw std::runtime_error(std::string(path) + " was made for another input at " +
                                     c.name);
        }
        outputs.emplace_back(output);
    }
    if (!file.empty()) throw std::runtime_error(std::string(path) + " holds more cases");
    return outputs;
}

}  // namespace velmora::test
