// Makes the GB18030 tables that text/Gb18030.h reads, from the build host's iconv, checks the
// lookups over them against iconv, and writes them as a C++ header:
//     GenerateCodePageTables OUTPUT
// The check covers every code point, every two- and four-byte code, every byte value at each
// place of a code and codes cut short. A single disagreement fails the build and writes nothing.

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "text/Gb18030.h"

namespace gb = velmora::gb18030;

namespace {

// The tables as they are made here; the check reads them through the program's own lookups.
struct Made {
    static inline std::vector<std::uint16_t> kTwoByte;
    static inline std::vector<char32_t> kTwoByteBeyondBmp;
    static inline std::vector<gb::FourByteRange> kFourByteRanges;
    static inline std::vector<gb::FourByteRange> kFourByteRangesByCodePoint;
    static inline std::vector<std::uint8_t> kEncodeBlockOf;
    static inline std::vector<std::array<std::uint16_t, gb::kBlockSize>> kEncodeBlocks;
    static inline std::vector<std::uint8_t> kRoundTripBlockOf;
    static inline std::vector<std::array<std::uint64_t, gb::kRoundTripWords>> kRoundTripBlocks;
};
using MadeLookup = gb::Lookup<Made>;

constexpr std::uint32_t kFourByteCodes = gb::kLeads * gb::kDigits * gb::kLeads * gb::kDigits;
// Block numbers are kept in a byte.
constexpr std::size_t kMaxBlocks = 256;
// Longest code of a code point, in bytes.
constexpr std::size_t kMaxCodeSize = 4;

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "GenerateCodePageTables: %s\n", message.c_str());
    std::exit(EXIT_FAILURE);
}

std::string Hex(std::string_view bytes) {
    std::string shown;
    for (const unsigned char byte : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", byte);
        shown += hex;
    }
    return shown;
}

std::string CodePointName(char32_t codePoint) {
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(codePoint));
    return name;
}

bool IsSurrogate(char32_t codePoint) {
    return codePoint >= 0xD800 && codePoint <= 0xDFFF;
}

std::string FourByteCode(std::uint32_t linear) {
    std::string code(4, '\0');
    code[3] = static_cast<char>(gb::kFirstDigit + linear % gb::kDigits);
    linear /= gb::kDigits;
    code[2] = static_cast<char>(gb::kFirstLead + linear % gb::kLeads);
    linear /= gb::kLeads;
    code[1] = static_cast<char>(gb::kFirstDigit + linear % gb::kDigits);
    code[0] = static_cast<char>(gb::kFirstLead + linear / gb::kDigits);
    return code;
}

class Iconv {
public:
    Iconv(const char* to, const char* from) : handle_(iconv_open(to, from)) {
        if (handle_ == reinterpret_cast<iconv_t>(-1)) {
            Fail(std::string("the host's iconv cannot convert ") + from + " to " + to);
        }
    }
    ~Iconv() { iconv_close(handle_); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    // Converts the start of `input` into `out` (of `room` bytes) and gives how much of each it
    // got through before stopping, at its end, at a full output or at what it cannot convert.
    void Run(std::string_view input, char* out, std::size_t room, std::size_t& read,
             std::size_t& written) {
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(input.data());
        std::size_t inLeft = input.size();
        char* next = out;
        std::size_t outLeft = room;
        iconv(handle_, &in, &inLeft, &next, &outLeft);
        read = input.size() - inLeft;
        written = room - outLeft;
    }

private:
    iconv_t handle_;
};

// What the host's iconv makes of GB18030.
class Reference {
public:
    // The character that `bytes` start with, as a code point, and its length; 0 when they start
    // with none. iconv stops after it, having room for one character only.
    std::size_t Decode(std::string_view bytes, char32_t& codePoint) {
        unsigned char utf32[4];
        std::size_t read = 0;
        std::size_t written = 0;
        decoder_.Run(bytes, reinterpret_cast<char*>(utf32), sizeof utf32, read, written);
        if (written != sizeof utf32) return 0;
        codePoint = static_cast<char32_t>(utf32[0] | utf32[1] << 8 | utf32[2] << 16 |
                                          static_cast<std::uint32_t>(utf32[3]) << 24);
        return read;
    }

    // The code of a code point; empty when iconv has none for it.
    std::string Encode(char32_t codePoint) {
        const char utf32[4] = {
            static_cast<char>(codePoint & 0xFF), static_cast<char>((codePoint >> 8) & 0xFF),
            static_cast<char>((codePoint >> 16) & 0xFF), static_cast<char>(codePoint >> 24)};
        char code[kMaxCodeSize + 1];
        std::size_t read = 0;
        std::size_t written = 0;
        encoder_.Run(std::string_view(utf32, sizeof utf32), code, sizeof code, read, written);
        if (read != sizeof utf32) return {};
        if (written > kMaxCodeSize) Fail(CodePointName(codePoint) + " has a code of 5 bytes");
        return {code, written};
    }

private:
    Iconv decoder_{"UTF-32LE", "GB18030"};
    Iconv encoder_{"GB18030", "UTF-32LE"};
};

// Every code point's code as iconv writes it (empty for none, and for the surrogates).
std::vector<std::string> EveryCode(Reference& reference) {
    std::vector<std::string> codes(gb::kMaxCodePoint + 1);
    for (char32_t codePoint = 0; codePoint <= gb::kMaxCodePoint; ++codePoint) {
        if (!IsSurrogate(codePoint)) codes[codePoint] = reference.Encode(codePoint);
    }
    return codes;
}

void MakeTwoByteTable(Reference& reference) {
    Made::kTwoByte.assign(gb::kTwoByteCodes, 0);
    for (unsigned index = 0; index < gb::kTwoByteCodes; ++index) {
        const char code[2] = {static_cast<char>(gb::kFirstLead + index / gb::kTrailColumns),
                              static_cast<char>(gb::kFirstTrail + index % gb::kTrailColumns)};
        char32_t codePoint = 0;
        if (reference.Decode(std::string_view(code, 2), codePoint) != 2) continue;
        if (codePoint == 0 || IsSurrogate(codePoint) || codePoint > gb::kMaxCodePoint) {
            Fail(Hex({code, 2}) + " reads as " + CodePointName(codePoint));
        }
        if (codePoint < gb::kFirstBeyondBmp) {
            Made::kTwoByte[index] = static_cast<std::uint16_t>(codePoint);
            continue;
        }
        if (Made::kTwoByteBeyondBmp.size() == gb::kBeyondBmpMarkEnd - gb::kBeyondBmpMark) {
            Fail("too many two-byte codes read as characters beyond the BMP");
        }
        Made::kTwoByte[index] =
            static_cast<std::uint16_t>(gb::kBeyondBmpMark + Made::kTwoByteBeyondBmp.size());
        Made::kTwoByteBeyondBmp.push_back(codePoint);
    }
}

// The four-byte codes below the first one beyond the BMP, as runs of consecutive code points,
// in the order of the codes and in that of the code points.
void MakeFourByteRanges(Reference& reference) {
    constexpr std::uint32_t kMaxField = 0xFFFF;
    for (std::uint32_t linear = 0; linear < gb::kFirstBeyondBmpLinear; ++linear) {
        const std::string code = FourByteCode(linear);
        char32_t codePoint = 0;
        if (reference.Decode(code, codePoint) != 4) continue;
        if (codePoint >= gb::kFirstBeyondBmp) {
            Fail(Hex(code) + " reads as " + CodePointName(codePoint) + ", beyond the BMP");
        }
        auto& ranges = Made::kFourByteRanges;
        if (!ranges.empty() && ranges.back().linear + ranges.back().count == linear &&
            ranges.back().codePoint + ranges.back().count == codePoint &&
            ranges.back().count < kMaxField) {
            ++ranges.back().count;
            continue;
        }
        if (linear > kMaxField) Fail(Hex(code) + " is numbered past 16 bits");
        ranges.push_back(
            {static_cast<std::uint16_t>(linear), static_cast<std::uint16_t>(codePoint), 1});
    }
    auto& byCodePoint = Made::kFourByteRangesByCodePoint;
    byCodePoint = Made::kFourByteRanges;
    std::sort(byCodePoint.begin(), byCodePoint.end(),
              [](const gb::FourByteRange& a, const gb::FourByteRange& b) {
                  return a.codePoint < b.codePoint;
              });
    for (std::size_t i = 1; i < byCodePoint.size(); ++i) {
        if (byCodePoint[i - 1].codePoint + byCodePoint[i - 1].count > byCodePoint[i].codePoint) {
            Fail("two four-byte codes read as " + CodePointName(byCodePoint[i].codePoint));
        }
    }
}

// Splits a table by code point into blocks of kBlockSize, each distinct block kept once.
template <typename Block>
void MakeBlocks(const std::vector<Block>& blocks, std::vector<std::uint8_t>& blockOf,
                std::vector<Block>& distinct, const char* name) {
    std::map<Block, std::uint8_t> numbers;
    for (const Block& block : blocks) {
        const auto [at, added] = numbers.try_emplace(block, distinct.size());
        if (added) {
            if (distinct.size() == kMaxBlocks) Fail(std::string(name) + ": too many blocks");
            distinct.push_back(block);
        }
        blockOf.push_back(at->second);
    }
}

void MakeEncodeBlocks(const std::vector<std::string>& codes) {
    std::vector<std::array<std::uint16_t, gb::kBlockSize>> blocks(gb::kBlockCount);
    for (char32_t codePoint = 0; codePoint <= gb::kMaxCodePoint; ++codePoint) {
        const std::string& code = codes[codePoint];
        if (code.size() != 2) continue;
        blocks[codePoint / gb::kBlockSize][codePoint % gb::kBlockSize] = static_cast<std::uint16_t>(
            static_cast<unsigned char>(code[0]) << 8 | static_cast<unsigned char>(code[1]));
    }
    MakeBlocks(blocks, Made::kEncodeBlockOf, Made::kEncodeBlocks, "code blocks");
}

// ASCII comes back, though it is never asked about.
bool ComesBack(Reference& reference, const std::vector<std::string>& codes, char32_t codePoint) {
    if (codePoint < 0x80) return true;
    const std::string& code = codes[codePoint];
    char32_t back = 0;
    return !code.empty() && reference.Decode(code, back) == code.size() && back == codePoint;
}

void MakeRoundTripBlocks(Reference& reference, const std::vector<std::string>& codes) {
    std::vector<std::array<std::uint64_t, gb::kRoundTripWords>> blocks(gb::kBlockCount);
    for (char32_t codePoint = 0; codePoint <= gb::kMaxCodePoint; ++codePoint) {
        if (ComesBack(reference, codes, codePoint)) {
            blocks[codePoint / gb::kBlockSize][codePoint % gb::kBlockSize / gb::kBitsPerWord] |=
                std::uint64_t{1} << (codePoint % gb::kBitsPerWord);
        }
    }
    MakeBlocks(blocks, Made::kRoundTripBlockOf, Made::kRoundTripBlocks, "round-trip blocks");
}

std::string Read(std::size_t length, char32_t codePoint) {
    if (length == 0) return "no character";
    return CodePointName(codePoint) + " from " + std::to_string(length) + " bytes";
}

// The lookups over the made tables against iconv.
class Check {
public:
    explicit Check(Reference& reference) : reference_(reference) {}

    void Decode(std::string_view bytes) {
        char32_t expected = 0;
        char32_t got = 0;
        const std::size_t expectedLength = reference_.Decode(bytes, expected);
        const std::size_t length = MadeLookup::Decode(
            reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), got);
        if (length == expectedLength && (length == 0 || got == expected)) return;
        Fail("reading " + Hex(bytes) + ": iconv reads " + Read(expectedLength, expected) +
             ", the tables " + Read(length, got));
    }

    void Encode(char32_t codePoint, const std::string& expected) {
        char code[kMaxCodeSize];
        const std::size_t size = MadeLookup::Encode(codePoint, code);
        if (std::string_view(code, size) == expected) return;
        Fail("writing " + CodePointName(codePoint) + ": iconv writes " + Hex(expected) +
             ", the tables " + Hex({code, size}));
    }

    void RoundTrip(const std::vector<std::string>& codes, char32_t codePoint) {
        const bool expected = ComesBack(reference_, codes, codePoint);
        if (MadeLookup::ComesBack(codePoint) == expected) return;
        Fail(CodePointName(codePoint) + (expected ? " comes back" : " does not come back") +
             " through iconv, not through the tables");
    }

private:
    Reference& reference_;
};

void CheckTables(Reference& reference, const std::vector<std::string>& codes) {
    Check check(reference);
    for (char32_t codePoint = 0; codePoint <= gb::kMaxCodePoint; ++codePoint) {
        if (IsSurrogate(codePoint)) continue;
        check.Encode(codePoint, codes[codePoint]);
        check.RoundTrip(codes, codePoint);
    }
    for (unsigned first = 0; first < 0x100; ++first) {
        check.Decode(std::string(1, static_cast<char>(first)));
        for (unsigned second = 0; second < 0x100; ++second) {
            check.Decode(std::string{static_cast<char>(first), static_cast<char>(second)});
        }
    }
    for (std::uint32_t linear = 0; linear < kFourByteCodes; ++linear)
        check.Decode(FourByteCode(linear));
    // Every byte value in the third and the fourth place, each after a well-formed start, and
    // codes cut short after three bytes.
    for (std::uint32_t linear = 0; linear < kFourByteCodes; linear += gb::kLeads * gb::kDigits) {
        std::string code = FourByteCode(linear);
        for (unsigned byte = 0; byte < 0x100; ++byte) {
            code[2] = static_cast<char>(byte);
            check.Decode(code);
            check.Decode(code.substr(0, 3));
            code[2] = static_cast<char>(gb::kFirstLead);
            code[3] = static_cast<char>(byte);
            check.Decode(code);
            code[3] = static_cast<char>(gb::kFirstDigit);
        }
    }
}

template <typename Value>
void WriteValues(std::ofstream& out, const Value* values, std::size_t count) {
    constexpr std::size_t kPerLine = 12;
    for (std::size_t i = 0; i < count; ++i) {
        out << (i % kPerLine == 0 ? "\n        " : " ") << "0x" << std::hex
            << static_cast<std::uint64_t>(values[i]) << std::dec << ',';
    }
}

template <typename Value>
void WriteTable(std::ofstream& out, const char* type, const char* name,
                const std::vector<Value>& values) {
    out << "    static constexpr " << type << ' ' << name << "[] = {";
    WriteValues(out, values.data(), values.size());
    out << "\n    };\n";
}

template <typename Value, std::size_t kSize>
void WriteBlocks(std::ofstream& out, const char* type, const char* name,
                 const std::vector<std::array<Value, kSize>>& blocks) {
    out << "    static constexpr " << type << ' ' << name << "[][" << kSize << "] = {";
    for (const auto& block : blocks) {
        out << "\n        {";
        WriteValues(out, block.data(), block.size());
        out << "\n        },";
    }
    out << "\n    };\n";
}

void WriteRanges(std::ofstream& out, const char* name,
                 const std::vector<gb::FourByteRange>& ranges) {
    out << "    static constexpr FourByteRange " << name << "[] = {";
    for (const gb::FourByteRange& range : ranges) {
        out << "\n        {" << range.linear << ", 0x" << std::hex << range.codePoint << std::dec
            << ", " << range.count << "},";
    }
    out << "\n    };\n";
}

void Write(const std::string& path) {
    const std::string partial = path + ".partial";
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << "// Made by text/tables/GenerateCodePageTables.cpp from the build host's iconv, and\n"
           "// checked against it there.\n"
           "#pragma once\n\n"
           "#include <cstdint>\n\n"
           "#include \"text/Gb18030.h\"\n\n"
           "namespace velmora::gb18030 {\n\n"
           "struct GeneratedTables {\n";
    WriteTable(out, "std::uint16_t", "kTwoByte", Made::kTwoByte);
    WriteTable(out, "char32_t", "kTwoByteBeyondBmp", Made::kTwoByteBeyondBmp);
    WriteRanges(out, "kFourByteRanges", Made::kFourByteRanges);
    WriteRanges(out, "kFourByteRangesByCodePoint", Made::kFourByteRangesByCodePoint);
    WriteTable(out, "std::uint8_t", "kEncodeBlockOf", Made::kEncodeBlockOf);
    WriteBlocks(out, "std::uint16_t", "kEncodeBlocks", Made::kEncodeBlocks);
    WriteTable(out, "std::uint8_t", "kRoundTripBlockOf", Made::kRoundTripBlockOf);
    WriteBlocks(out, "std::uint64_t", "kRoundTripBlocks", Made::kRoundTripBlocks);
    out << "};\n\n}  // namespace velmora::gb18030\n";
    out.close();
    if (!out) Fail("cannot write " + partial);
    if (std::rename(partial.c_str(), path.c_str()) != 0) Fail("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) Fail("usage: GenerateCodePageTables OUTPUT");
    Reference reference;
    const std::vector<std::string> codes = EveryCode(reference);
    MakeTwoByteTable(reference);
    MakeFourByteRanges(reference);
    MakeEncodeBlocks(codes);
    MakeRoundTripBlocks(reference, codes);
    CheckTables(reference, codes);
    Write(argv[1]);
    return EXIT_SUCCESS;
}
