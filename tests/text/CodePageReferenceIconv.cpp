// The reference where the test runs on the build machine: its iconv, asked as the test runs.

#include "tests/text/CodePageReference.h"
#include "tests/text/IconvConversion.h"

namespace velmora::test {

std::vector<std::string> ReferenceOutputs(const std::vector<CodePageCase>& cases) {
    std::vector<std::string> outputs;
    outputs.reserve(cases.size());
    for (const CodePageCase& c : cases) outputs.push_back(IconvConversion(c.conversion, c.input));
    return outputs;
}

}  // namespace velmora::test
