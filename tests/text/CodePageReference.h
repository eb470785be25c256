#pragma once
// What the build machine's iconv makes of each differential case (IconvConversion), whichever
// machine the test runs on. A native build asks iconv as the test runs; a cross build, whose
// test runs where there is none, has the build machine write it into a file beside the test
// (WriteCodePageReference), which the test reads from its working folder.
//
// The file: for each case in order, its input and then iconv's output, each as a length of
// eight little-endian bytes and the bytes.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tests/text/CodePageCases.h"

namespace velmora::test {

// iconv's output for each case, in their order. Throws std::runtime_error when there is no
// reference for them (a missing file, or one made for other inputs).
std::vector<std::string> ReferenceOutputs(const std::vector<CodePageCase>& cases);

constexpr std::size_t kRecordLengthBytes = 8;

inline void PutRecord(std::string& file, std::string_view bytes) {
    for (std::size_t i = 0; i < kRecordLengthBytes; ++i) {
        file += static_cast<char>((static_cast<std::uint64_t>(bytes.size()) >> (8 * i)) & 0xFF);
    }
    file += bytes;
}

// The record at the start of `file`, which then starts after it; false when it is cut short.
inline bool TakeRecord(std::string_view& file, std::string_view& bytes) {
    if (file.size() < kRecordLengthBytes) return false;
    std::uint64_t size = 0;
    for (std::size_t i = 0; i < kRecordLengthBytes; ++i) {
        size |= static_cast<std::uint64_t>(static_cast<unsigned char>(file[i])) << (8 * i);
    }
    file.remove_prefix(kRecordLengthBytes);
    if (size > file.size()) return false;
    bytes = file.substr(0, static_cast<std::size_t>(size));
    file.remove_prefix(bytes.size());
    return true;
}

}  // namespace velmora::test
