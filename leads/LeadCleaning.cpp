#include "leads/LeadCleaning.h"

#include "leads/HtmlText.h"
#include "leads/Utf8Walk.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

constexpr std::string_view kMailto = "mailto:";
constexpr char32_t kFirstFullWidth = 0xFF01;  // "！"
constexpr char32_t kLastFullWidth = 0xFF5E;   // "～"
constexpr char32_t kFullWidthOffset = 0xFEE0;

bool IsBlank(char32_t c) {
    return c == ' ' || (c >= '\t' && c <= '\r') || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

bool IsRemoved(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x200B && c <= 0x200D) || c == 0x2060 ||
           c == 0xFEFF;
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string DropMailto(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        bool found = text.size() - i >= kMailto.size();
        for (std::size_t k = 0; found && k < kMailto.size(); ++k) {
            found = AsciiLower(text[i + k]) == kMailto[k];
        }
        if (found) {
            i += kMailto.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

// True when cleaning gives the cell back as it is, which is what nearly every cell of a sound
// extraction is: one pass over the bytes instead of a character at a time.
bool AlreadyClean(std::string_view utf8, bool lowerCase) {
    if (utf8.empty()) return true;
    if (utf8.front() == ' ' || utf8.back() == ' ') return false;
    char previous = 0;
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '<' || c == '&' || c == ':') return false;
        if ((c == ' ' && previous == ' ') || (lowerCase && c >= 'A' && c <= 'Z')) return false;
        // The first bytes of the characters cleaning changes: U+0080..U+00BF (C2), U+1680 (E1),
        // U+2000..U+206F (E2), U+3000 (E3), U+FEFF and full-width ASCII (EF).
        if (byte == 0xC2 || byte == 0xE1 || byte == 0xE2 || byte == 0xE3 || byte == 0xEF) {
            return false;
        }
        previous = c;
    }
    return true;
}

bool IsContactColumn(ResultColumn column) {
    return column == kTelephoneColumn || column == kMobileColumn || column == kFaxColumn ||
           column == kEmailColumn;
}

}  // namespace

std::string CleanCell(std::string_view utf8, ResultColumn column) {
    if (AlreadyClean(utf8, column == kEmailColumn)) return std::string(utf8);
    std::string markupFree;
    if (utf8.find('<') != std::string_view::npos) {
        markupFree = RemoveTags(utf8);
        utf8 = markupFree;
    }
    std::string decoded;
    if (utf8.find('&') != std::string_view::npos) {
        decoded = DecodeHtmlEntities(utf8);
        utf8 = decoded;
    }
    std::string linkFree;
    if (utf8.find(':') != std::string_view::npos) {
        linkFree = DropMailto(utf8);
        utf8 = linkFree;
    }

    const bool halfWidth = IsContactColumn(column);
    const bool lowerCase = column == kEmailColumn;
    std::string out;
    out.reserve(utf8.size());
    bool blankPending = false;
    for (std::size_t at = 0; at < utf8.size();) {
        char32_t c = utf8::Next(utf8, at);
        if (IsBlank(c)) {
            blankPending = !out.empty();
            continue;
        }
        if (IsRemoved(c)) continue;
        if (halfWidth && c >= kFirstFullWidth && c <= kLastFullWidth) c -= kFullWidthOffset;
        if (lowerCase && c >= 'A' && c <= 'Z') c += 'a' - 'A';
        if (blankPending) out += ' ';
        blankPending = false;
        utf8::Append(out, c);
    }
    return out;
}

ResultRow CleanRow(const ResultRow& row) {
    ResultRow cleaned;
    const auto cells = row.Columns();
    const auto targets = cleaned.Columns();
    for (int column = 0; column < kResultColumnCount; ++column) {
        const std::string utf8 = SystemToUtf8(*cells[column]);
        const std::string cell = CleanCell(utf8, static_cast<ResultColumn>(column));
        *targets[column] = cell == utf8 ? *cells[column] : Utf8ToSystem(cell);
    }
    return cleaned;
}

}  // namespace velmora
