#include "text/CodePage.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bitset>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <vector>

#include "text/FatalHandler.h"

namespace velmora {
namespace {

enum class Encoding { kSystem, kUtf8, kUtf16 };
constexpr int kEncodingCount = 3;

const char* IconvName(Encoding encoding) {
    switch (encoding) {
        case Encoding::kSystem:
            return "GB18030";
        case Encoding::kUtf8:
            return "UTF-8";
        case Encoding::kUtf16:
            return "UTF-16LE";
    }
    return "";
}

// Bytes of one code unit: undecodable input is skipped one whole unit at a time.
std::size_t UnitSize(Encoding encoding) {
    return encoding == Encoding::kUtf16 ? 2 : 1;
}

// U+FFFD in each encoding, written where the input cannot be decoded.
std::string_view Replacement(Encoding encoding) {
    switch (encoding) {
        case Encoding::kSystem:
            return {"\x84\x31\xA4\x37", 4};
        case Encoding::kUtf8:
            return "\xEF\xBF\xBD";
        case Encoding::kUtf16:
            return {"\xFD\xFF", 2};
    }
    return {};
}

// The output's first guess, in output bytes per input byte (UTF-8 to UTF-16 doubles ASCII);
// a longer result grows the buffer. No single character of UTF-8 or the system code page
// takes more than twice its bytes in the other.
constexpr std::size_t kOutputBytesPerInputByte = 2;
constexpr std::size_t kOutputSlack = 16;

// Runs `grow`, which takes a buffer to `size` bytes; running out of memory is fatal.
template <typename Growth>
void Grow(std::size_t size, Growth grow) {
    try {
        grow();
    } catch (const std::bad_alloc&) {
        RaiseAllocationFailure(size + 1);
    } catch (const std::length_error&) {
        RaiseAllocationFailure(size + 1);
    }
}

void Resize(std::string& buffer, std::size_t size) {
    Grow(size, [&] { buffer.resize(size); });
}

void Append(std::string& buffer, std::string_view bytes) {
    Grow(buffer.size() + bytes.size(), [&] { buffer.append(bytes); });
}

iconv_t OpenIconv(Encoding from, Encoding to) {
    iconv_t handle = iconv_open(IconvName(to), IconvName(from));
    if (handle == reinterpret_cast<iconv_t>(-1)) {
        // glibc always carries these converters; without them the installation is broken.
        std::fprintf(stderr, "velmora: iconv cannot convert %s to %s\n", IconvName(from),
                     IconvName(to));
        std::abort();
    }
    return handle;
}

// Runs iconv over all of `input`, appending to output. At each point it cannot convert,
// onError(in, inLeft, written) moves the input on and writes what stands for it (growing the
// output as it needs); the descriptor is reset after it, and so left in its initial state.
template <typename OnError>
void AppendIconv(iconv_t handle, std::string_view input, std::string& output, OnError onError) {
    std::size_t written = output.size();
    Resize(output, written + input.size() * kOutputBytesPerInputByte + kOutputSlack);
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    while (inLeft > 0) {
        char* out = output.data() + written;
        std::size_t outLeft = output.size() - written;
        const std::size_t result = iconv(handle, &in, &inLeft, &out, &outLeft);
        written = output.size() - outLeft;
        if (result != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) {
            Resize(output, output.size() * 2);
            continue;
        }
        onError(in, inLeft, written);
        iconv(handle, nullptr, nullptr, nullptr, nullptr);
    }
    output.resize(written);
}

bool IsAscii(char c) {
    return static_cast<unsigned char>(c) < 0x80;
}

constexpr unsigned kMaxCodePoint = 0x10FFFF;

bool IsSurrogate(unsigned codePoint) {
    return codePoint >= 0xD800 && codePoint <= 0xDFFF;
}

void AppendUtf8(unsigned codePoint, std::string& out) {
    if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | codePoint >> 6);
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | codePoint >> 12);
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | codePoint >> 18);
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
}

// Blocks made by `make` the first time they are asked for, under a lock that also keeps two
// makes apart, and read without it from then on. Shared by all threads.
template <typename Block, std::size_t kCount>
class LazyBlocks {
public:
    template <typename Make>
    const Block& At(unsigned index, Make make) {
        if (const Block* ready = blocks_[index].load(std::memory_order_acquire)) return *ready;
        std::lock_guard lock(mutex_);
        if (const Block* ready = blocks_[index].load(std::memory_order_relaxed)) return *ready;
        auto made = std::make_unique<const Block>(make());
        blocks_[index].store(made.get(), std::memory_order_release);
        return *owned_.emplace_back(std::move(made));
    }

private:
    std::mutex mutex_;
    std::array<std::atomic<const Block*>, kCount> blocks_{};
    std::vector<std::unique_ptr<const Block>> owned_;
};

// Characters of U+0080..U+FFFF (from UTF-8) or of two system bytes, each converted by iconv
// alone (a line of its own in one pass over its block of 256) the first time the block is met
// and looked up from then on: Chinese text costs
// a lookup per character instead of an iconv call per run. A character iconv cannot convert
// alone is left to iconv in its context. Shared by all threads; at most 256 blocks of 256.
class CharacterTable {
public:
    struct Entry {
        std::uint8_t size = 0;  // 0: not in the table
        char bytes[4] = {};
    };

    CharacterTable(Encoding from, Encoding to) : from_(from), handle_(OpenIconv(from, to)) {}
    ~CharacterTable() { iconv_close(handle_); }
    CharacterTable(const CharacterTable&) = delete;
    CharacterTable& operator=(const CharacterTable&) = delete;

    // The entry of the character that starts `input`, and its length; null when the table
    // does not hold it (ASCII, a malformed or cut sequence, four-byte characters).
    const Entry* Find(std::string_view input, std::size_t& length) {
        auto byte = [&](std::size_t i) { return static_cast<unsigned char>(input[i]); };
        auto continues = [&](std::size_t i) {
            return i < input.size() && (byte(i) & 0xC0) == 0x80;
        };
        unsigned block = 0;
        unsigned low = 0;
        if (from_ == Encoding::kSystem) {
            if (input.size() < 2 || !IsLead(byte(0)) || !IsTrail(byte(1))) return nullptr;
            block = byte(0);
            low = byte(1);
            length = 2;
        } else if (byte(0) >= 0xC2 && byte(0) <= 0xDF && continues(1)) {
            block = (byte(0) & 0x1Fu) >> 2;
            low = ((byte(0) & 0x03u) << 6) | (byte(1) & 0x3Fu);
            length = 2;
        } else if (byte(0) >= 0xE0 && byte(0) <= 0xEF && continues(1) && continues(2)) {
            block = ((byte(0) & 0x0Fu) << 4) | ((byte(1) & 0x3Fu) >> 2);
            low = ((byte(1) & 0x03u) << 6) | (byte(2) & 0x3Fu);
            const unsigned codePoint = block << 8 | low;
            if (codePoint < 0x800 || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return nullptr;
            length = 3;
        } else {
            return nullptr;
        }
        const Entry& entry = BlockAt(block)[low];
        return entry.size == 0 ? nullptr : &entry;
    }

private:
    static constexpr std::size_t kBlockCount = 256;
    using Block = std::array<Entry, 256>;

    static bool IsLead(unsigned byte) { return byte >= 0x81 && byte <= 0xFE; }
    static bool IsTrail(unsigned byte) {
        return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFE);
    }

    const Block& BlockAt(unsigned block) {
        return blocks_.At(block, [&] { return MakeBlock(block); });
    }

    // One iconv pass over the block, a character a line, instead of a call for each.
    Block MakeBlock(unsigned block) {
        std::string lines;
        for (unsigned low = 0; low < 256; ++low) {
            if (from_ == Encoding::kSystem) {
                if (IsTrail(low)) lines += {static_cast<char>(block), static_cast<char>(low)};
            } else if (const unsigned codePoint = block << 8 | low;
                       codePoint >= 0x80 && !IsSurrogate(codePoint)) {
                AppendUtf8(codePoint, lines);
            }
            lines += '\n';
        }
        const std::string converted = ConvertLines(lines);
        Block made;
        std::size_t from = 0;
        for (Entry& entry : made) {
            const std::size_t end = converted.find('\n', from);
            if (end == std::string::npos) break;  // cannot happen: every line ends in one
            const std::size_t size = end - from;
            if (size <= sizeof entry.bytes) {
                entry.size = static_cast<std::uint8_t>(size);
                std::memcpy(entry.bytes, converted.data() + from, size);
            }
            from = end + 1;
        }
        return made;
    }

    // Each line of `lines` converted alone: a line iconv cannot convert whole comes out empty.
    std::string ConvertLines(std::string_view lines) {
        std::string output;
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        AppendIconv(
            handle_, lines, output, [&](char*& in, std::size_t& inLeft, std::size_t& written) {
                // What the failed line gave is dropped; the next one starts afresh.
                const std::size_t lineStart = std::string_view(output.data(), written).rfind('\n');
                written = lineStart == std::string_view::npos ? 0 : lineStart + 1;
                const std::string_view rest(in, inLeft);
                const std::size_t lineEnd = std::min(rest.find('\n'), rest.size() - 1);
                in += lineEnd + 1;
                inLeft -= lineEnd + 1;
                if (written == output.size()) Resize(output, output.size() * 2);
                output[written++] = '\n';
            });
        return output;
    }

    Encoding from_;
    iconv_t handle_;
    LazyBlocks<Block, kBlockCount> blocks_;
};

CharacterTable* TableFor(Encoding from, Encoding to) {
    static CharacterTable utf8ToSystem(Encoding::kUtf8, Encoding::kSystem);
    static CharacterTable systemToUtf8(Encoding::kSystem, Encoding::kUtf8);
    if (from == Encoding::kUtf8 && to == Encoding::kSystem) return &utf8ToSystem;
    if (from == Encoding::kSystem && to == Encoding::kUtf8) return &systemToUtf8;
    return nullptr;
}

class Converter {
public:
    // Without a table, iconv converts every character.
    Converter(Encoding from, Encoding to, CharacterTable* table)
        : from_(from), to_(to), handle_(OpenIconv(from, to)), table_(table) {}
    ~Converter() { iconv_close(handle_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts all of input. U+FFFD stands for every unit that cannot be decoded, including
    // each unit of a sequence cut short at the end; what follows is converted as usual.
    std::string Convert(std::string_view input) {
        std::string output;
        if (table_ == nullptr) {
            AppendConversion(input, output);
            return output;
        }
        Grow(input.size(), [&] { output.reserve(input.size()); });
        // Pages are mostly ASCII markup: ASCII runs are copied, only the rest meets iconv.
        while (!input.empty()) {
            const std::size_t ascii = AsciiPrefix(input);
            Append(output, input.substr(0, ascii));
            input.remove_prefix(ascii);
            const std::size_t piece = NonAsciiPiece(input);
            AppendPiece(input.substr(0, piece), output);
            input.remove_prefix(piece);
        }
        return output;
    }

private:
    static std::size_t AsciiPrefix(std::string_view input) {
        constexpr std::uint64_t kHighBits = 0x8080808080808080;
        std::size_t ascii = 0;
        for (std::uint64_t word = 0; ascii + sizeof word <= input.size(); ascii += sizeof word) {
            std::memcpy(&word, input.data() + ascii, sizeof word);
            if ((word & kHighBits) != 0) break;
        }
        while (ascii < input.size() && IsAscii(input[ascii])) ++ascii;
        return ascii;
    }

    // The bytes up to and including the first of two ASCII bytes in a row. The second one
    // starts a character in any reading: no character of either encoding holds two ASCII
    // bytes in a row (GB18030's trail bytes may be ASCII, but never two adjacent ones), so
    // converting the piece alone gives what converting the whole input gives there.
    static std::size_t NonAsciiPiece(std::string_view input) {
        for (std::size_t i = 0; i + 1 < input.size(); ++i) {
            if (IsAscii(input[i]) && IsAscii(input[i + 1])) return i + 1;
        }
        return input.size();
    }

    // Characters of the table, and ASCII, are appended as they come; from the first other one
    // on, iconv converts the rest.
    void AppendPiece(std::string_view piece, std::string& output) {
        // Room for the whole piece up front, so that no append below allocates.
        const std::size_t room = output.size() + piece.size() * kOutputBytesPerInputByte;
        Grow(room, [&] { output.reserve(room); });
        while (!piece.empty()) {
            std::size_t length = 1;
            const CharacterTable::Entry* entry = nullptr;
            if (!IsAscii(piece.front()) && (entry = table_->Find(piece, length)) == nullptr) {
                AppendConversion(piece, output);
                return;
            }
            output.append(entry ? std::string_view(entry->bytes, entry->size) : piece.substr(0, 1));
            piece.remove_prefix(length);
        }
    }

    // Appends the conversion of `input` to output. The descriptor is in its initial state on
    // entry and is left so: both encodings are stateless, so a call that converted all of its
    // input leaves no state, and every error is followed by a reset.
    void AppendConversion(std::string_view input, std::string& output) {
        if (input.empty()) return;
        const std::string_view replacement = Replacement(to_);
        AppendIconv(
            handle_, input, output, [&](char*& in, std::size_t& inLeft, std::size_t& written) {
                if (output.size() - written < replacement.size()) {
                    Resize(output, output.size() * 2 + replacement.size());
                }
                std::memcpy(output.data() + written, replacement.data(), replacement.size());
                written += replacement.size();
                // EILSEQ, or EINVAL for a sequence cut short: skip one unit only, since
                // glibc also says EINVAL for a bad sequence near the end, and what
                // follows it must survive.
                const std::size_t skip = std::min(UnitSize(from_), inLeft);
                in += skip;
                inLeft -= skip;
            });
    }

    Encoding from_;
    Encoding to_;
    iconv_t handle_;
    CharacterTable* table_;  // null unless both encodings map ASCII to itself
};

// One converter per thread and direction: iconv descriptors carry state and are not shared.
Converter& ConverterFor(Encoding from, Encoding to) {
    thread_local std::unique_ptr<Converter> cache[kEncodingCount][kEncodingCount];
    auto& slot = cache[static_cast<int>(from)][static_cast<int>(to)];
    if (!slot) slot = std::make_unique<Converter>(from, to, TableFor(from, to));
    return *slot;
}

std::string Convert(std::string_view input, Encoding from, Encoding to) {
    if (input.empty()) return {};
    return ConverterFor(from, to).Convert(input);
}

// Which characters of U+0080..U+10FFFF come back as themselves from UTF-8 through the system
// code page (private-use ones, for one, need not), one bit each. A block of 256 is worked out
// the first time it is met, all of it in one pass each way through iconv, each character on
// a line of its own. Shared by all threads.
class RoundTripTable {
public:
    bool ComesBack(unsigned codePoint) {
        const unsigned block = codePoint >> 8;
        return blocks_.At(block, [&] { return MakeBlock(block); }).test(codePoint & 0xFF);
    }

private:
    static constexpr std::size_t kBlockCount = (kMaxCodePoint + 1) >> 8;
    using Block = std::bitset<256>;

    Block MakeBlock(unsigned block) {
        std::string lines;
        for (unsigned low = 0; low < 256; ++low) {
            const unsigned codePoint = block << 8 | low;
            if (codePoint >= 0x80 && !IsSurrogate(codePoint)) AppendUtf8(codePoint, lines);
            lines += '\n';
        }
        const std::string back = toUtf8_.Convert(toSystem_.Convert(lines));
        Block made;
        std::size_t from = 0;
        std::size_t backFrom = 0;
        for (unsigned low = 0; low < 256; ++low) {
            const std::size_t end = lines.find('\n', from);
            const std::size_t backEnd = back.find('\n', backFrom);
            if (backEnd == std::string::npos) break;  // cannot happen: ASCII goes through as is
            const std::string_view line = std::string_view(lines).substr(from, end - from);
            made.set(low, !line.empty() &&
                              line == std::string_view(back).substr(backFrom, backEnd - backFrom));
            from = end + 1;
            backFrom = backEnd + 1;
        }
        return made;
    }

    Converter toSystem_{Encoding::kUtf8, Encoding::kSystem, nullptr};
    Converter toUtf8_{Encoding::kSystem, Encoding::kUtf8, nullptr};
    LazyBlocks<Block, kBlockCount> blocks_;
};

// True when `utf8` is well-formed and every character of it comes back as itself through the
// system code page, so that converting it there and back changes nothing.
bool ComesBackWhole(std::string_view utf8) {
    static RoundTripTable table;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* const end = p + utf8.size();
    auto isTrail = [](unsigned char byte) { return (byte & 0xC0) == 0x80; };
    while (p < end) {
        // ASCII runs, most of a page, a word at a time.
        constexpr std::uint64_t kHighBits = 0x8080808080808080;
        std::uint64_t word = 0;
        while (end - p >= static_cast<std::ptrdiff_t>(sizeof word)) {
            std::memcpy(&word, p, sizeof word);
            if ((word & kHighBits) != 0) break;
            p += sizeof word;
        }
        while (p < end && *p < 0x80) ++p;
        // Then the characters beyond ASCII that follow one another (Chinese text).
        while (p < end && *p >= 0x80) {
            const unsigned lead = *p;
            const std::ptrdiff_t left = end - p;
            unsigned codePoint = 0;
            if ((lead & 0xF0) == 0xE0 && left >= 3 && isTrail(p[1]) && isTrail(p[2])) {
                codePoint = (lead & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
                if (codePoint < 0x800 || IsSurrogate(codePoint)) return false;
                p += 3;
            } else if (lead >= 0xC2 && lead <= 0xDF && left >= 2 && isTrail(p[1])) {
                codePoint = (lead & 0x1Fu) << 6 | (p[1] & 0x3Fu);
                p += 2;
            } else if (lead >= 0xF0 && lead <= 0xF4 && left >= 4 && isTrail(p[1]) &&
                       isTrail(p[2]) && isTrail(p[3])) {
                codePoint = (lead & 0x07u) << 18 | (p[1] & 0x3Fu) << 12 | (p[2] & 0x3Fu) << 6 |
                            (p[3] & 0x3Fu);
                if (codePoint < 0x10000 || codePoint > kMaxCodePoint) return false;
                p += 4;
            } else {
                return false;
            }
            if (!table.ComesBack(codePoint)) return false;
        }
    }
    return true;
}

}  // namespace

Text Utf8ToSystem(std::string_view utf8) {
    return Convert(utf8, Encoding::kUtf8, Encoding::kSystem);
}

std::string SystemToUtf8(std::string_view text) {
    return Convert(text, Encoding::kSystem, Encoding::kUtf8);
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    const std::string bytes = Convert(utf8, Encoding::kUtf8, Encoding::kUtf16);
    std::u16string units(bytes.size() / 2, u'\0');
    std::memcpy(units.data(), bytes.data(), units.size() * 2);
    return units;
}

SystemUtf8::SystemUtf8(std::string utf8)
    : utf8_(std::make_shared<const std::string>(std::move(utf8))) {}

const std::string& SystemUtf8::utf8() const {
    static const std::string empty;
    return utf8_ ? *utf8_ : empty;
}

SystemUtf8 SystemUtf8::FromUtf8(std::string_view bytes) {
    if (ComesBackWhole(bytes)) return SystemUtf8(std::string(bytes));
    return SystemUtf8(SystemToUtf8(Utf8ToSystem(bytes)));
}

SystemUtf8 SystemUtf8::FromSystem(std::string_view text) {
    return SystemUtf8(SystemToUtf8(text));
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    const std::string_view bytes(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2);
    return Convert(bytes, Encoding::kUtf16, Encoding::kUtf8);
}

}  // namespace velmora
