#include "leads/CompanyKeys.h"

#include <algorithm>
#include <array>
#include <initializer_list>

#include "leads/LeadCleaning.h"
#include "leads/Utf8Walk.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

// The longest place names (新疆维吾尔自治区) have eight characters.
constexpr std::size_t kMaxPlaceCharacters = 8;
// An extension written as a last group has at most four digits, and comes after a landline of
// at least ten: the trunk 0, a two- or three-digit area code and a seven- or eight-digit number.
constexpr std::size_t kMaxExtensionDigits = 4;
constexpr std::size_t kMinLandlineDigits = 10;
// China's mobile numbers: eleven digits from 1; written with the country code and no "+", 86
// before them.
constexpr std::size_t kMobileDigits = 11;
constexpr std::size_t kMobileWithCountryDigits = 13;

constexpr char32_t kFirstFullWidth = 0xFF01;
constexpr char32_t kLastFullWidth = 0xFF5E;
constexpr char32_t kFullWidthOffset = 0xFEE0;

// Longest first where one ends another.
constexpr std::array<std::string_view, 8> kChineseLegalForms{
    "股份有限公司", "有限责任公司", "有限公司", "股份公司", "集团公司", "总公司", "公司", "集团"};
constexpr std::string_view kBranch = "分公司";
constexpr std::array<std::string_view, 11> kEnglishLegalForms{
    "co",   "company",     "ltd", "limited", "inc", "incorporated",
    "corp", "corporation", "llc", "group",   "gmbh"};

// Separators that keys use between their parts; no cleaned cell holds them.
constexpr char kPart = '\x1F';
constexpr std::string_view kLinkKey = "L";
constexpr std::string_view kPhoneKey = "P";
constexpr std::string_view kEmailKey = "E";

bool IsHan(char32_t c) {
    return (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x20000 && c <= 0x3134F);
}

bool IsDigit(char32_t c) {
    return c >= '0' && c <= '9';
}

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// Full-width ASCII made ASCII, ASCII in lower case.
std::string Folded(std::string_view utf8) {
    if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return (c & 0x80) == 0; })) {
        std::string ascii(utf8);
        for (char& c : ascii) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return ascii;
    }
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        char32_t c = utf8::Next(utf8, at);
        if (c >= kFirstFullWidth && c <= kLastFullWidth) c -= kFullWidthOffset;
        if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
        utf8::Append(out, c);
    }
    return out;
}

// True when `inner` (between two brackets) is one place: only Chinese characters, not too many,
// blanks around them allowed.
bool IsPlace(std::string_view inner) {
    std::size_t characters = 0;
    for (std::size_t at = 0; at < inner.size();) {
        const char32_t c = utf8::Next(inner, at);
        if (c == ' ') continue;
        if (!IsHan(c)) return false;
        ++characters;
    }
    return characters >= 1 && characters <= kMaxPlaceCharacters;
}

std::string WithoutPlaces(std::string_view text) {
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find('(', at);
        const std::size_t close = open == std::string_view::npos ? open : text.find(')', open + 1);
        if (close == std::string_view::npos) break;
        out.append(text.substr(at, open - at));
        const std::string_view inner = text.substr(open + 1, close - open - 1);
        if (!IsPlace(inner)) out.append(text.substr(open, close + 1 - open));
        at = close + 1;
    }
    if (at < text.size()) out.append(text.substr(at));
    return out;
}

bool IsWordSeparator(char c) {
    return c == ' ' || c == '.' || c == ',';
}

std::string WithoutEnglishForms(std::string text) {
    for (;;) {
        while (!text.empty() && IsWordSeparator(text.back())) text.pop_back();
        std::size_t start = text.size();
        while (start > 0 && text[start - 1] >= 'a' && text[start - 1] <= 'z') --start;
        // A form is a word of its own: at the start or after a separator.
        if (start == text.size() || (start > 0 && !IsWordSeparator(text[start - 1]))) break;
        const std::string_view word = std::string_view(text).substr(start);
        if (std::find(kEnglishLegalForms.begin(), kEnglishLegalForms.end(), word) ==
            kEnglishLegalForms.end()) {
            break;
        }
        text.resize(start);
    }
    return text;
}

std::string WithoutChineseForms(std::string text) {
    while (!EndsWith(text, kBranch)) {
        const auto form = std::find_if(kChineseLegalForms.begin(), kChineseLegalForms.end(),
                                       [&](std::string_view f) { return EndsWith(text, f); });
        if (form == kChineseLegalForms.end()) break;
        text.resize(text.size() - form->size());
    }
    return text;
}

// One number being read: its digit groups as written, and whether it began with "+".
struct NumberRun {
    std::vector<std::string> groups;
    bool plus = false;
    bool open = false;  // the last group still takes digits
};

// The run's digits without separators and country prefix; the extension still on.
std::string NationalDigits(const NumberRun& run) {
    std::string digits;
    for (const std::string& group : run.groups) digits += group;
    const bool international = run.plus || digits.starts_with("00");
    if (!run.plus && international) digits.erase(0, 2);
    if (international && digits.starts_with("86")) {
        digits.erase(0, 2);
        if (!digits.empty() && digits[0] != '0' && digits[0] != '1') digits.insert(0, "0");
    } else if (international) {
        digits.insert(0, "00");
    } else if (digits.size() == kMobileWithCountryDigits && digits.starts_with("861")) {
        digits.erase(0, 2);
    }
    return digits;
}

bool IsLandline(std::string_view digits) {
    return digits.starts_with('0') && !digits.starts_with("00");
}

// A blank after a whole number ends it: "0571-88886666 0571-88886667" is two numbers, while
// "0571 8888 6666" is one.
bool IsWholeNumber(const NumberRun& run) {
    const std::string digits = NationalDigits(run);
    return (IsLandline(digits) && digits.size() >= kMinLandlineDigits) ||
           (digits.size() == kMobileDigits && digits.starts_with('1'));
}

void Finish(NumberRun& run, std::vector<std::string>& numbers) {
    std::string digits = NationalDigits(run);
    if (IsLandline(digits) && run.groups.size() >= 3 &&
        run.groups.back().size() <= kMaxExtensionDigits &&
        digits.size() - run.groups.back().size() >= kMinLandlineDigits) {
        digits.resize(digits.size() - run.groups.back().size());
    }
    if (digits.size() >= kMinPhoneDigits && digits.size() <= kMaxPhoneDigits) {
        numbers.push_back(std::move(digits));
    }
    run = {};
}

// The length of an extension's mark at `at` ("转", "分机", "ext"), or 0.
std::size_t ExtensionMark(std::string_view text, std::size_t at) {
    // Only these first bytes can start a mark; the rest are not looked at.
    const char first = text[at];
    if (first != 'e' && first != '\xE8' && first != '\xE5') return 0;
    // The text is folded: "EXT" and "Ext" read "ext".
    for (const std::string_view mark :
         {std::string_view("转"), std::string_view("分机"), std::string_view("ext")}) {
        if (text.substr(at, mark.size()) == mark) return mark.size();
    }
    return 0;
}

template <typename Item>
void Deduplicate(std::vector<Item>& items) {
    std::sort(items.begin(), items.end());
    items.erase(std::unique(items.begin(), items.end()), items.end());
}

// The hash of the key text made of `parts` with kPart between them, without making the text.
std::uint64_t KeyHash(std::initializer_list<std::string_view> parts) {
    std::uint64_t hash = 0xCBF29CE484222325ULL;  // FNV-1a's offset basis and prime
    const auto add = [&](char c) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001B3ULL;
    };
    bool first = true;
    for (const std::string_view part : parts) {
        if (!first) add(kPart);
        first = false;
        for (const char c : part) add(c);
    }
    hash = (hash ^ (hash >> 30)) * 0xBF58476D1CE4E5B9ULL;
    hash = (hash ^ (hash >> 27)) * 0x94D049BB133111EBULL;
    return hash ^ (hash >> 31);
}

}  // namespace

std::string CompanyNameKey(std::string_view cleanedName) {
    std::string key = WithoutEnglishForms(WithoutPlaces(Folded(cleanedName)));
    std::erase_if(key, IsWordSeparator);
    return WithoutChineseForms(std::move(key));
}

std::vector<std::string> PhoneNumbers(std::string_view cleanedCell) {
    const std::string text = Folded(cleanedCell);
    std::vector<std::string> numbers;
    NumberRun run;
    // An extension's digits, after its mark, are skipped: before them (blanks and the like may
    // stand between) and through them.
    enum class Extension { kNone, kBeforeDigits, kDigits } extension = Extension::kNone;
    for (std::size_t at = 0; at < text.size();) {
        if (const std::size_t mark = ExtensionMark(text, at); mark != 0) {
            Finish(run, numbers);
            extension = Extension::kBeforeDigits;
            at += mark;
            continue;
        }
        const char32_t c = utf8::Next(text, at);
        if (IsDigit(c)) {
            if (extension != Extension::kNone) {
                extension = Extension::kDigits;
                continue;
            }
            if (!run.open) run.groups.emplace_back();
            run.open = true;
            run.groups.back() += static_cast<char>(c);
            continue;
        }
        const bool separator = c == ' ' || c == '-' || c == '.' || c == '(' || c == ')';
        if (extension == Extension::kBeforeDigits && (separator || c == ':')) continue;
        extension = Extension::kNone;
        if (c == ' ' && IsWholeNumber(run)) {
            Finish(run, numbers);
        } else if (separator) {
            run.open = false;
        } else {
            if (c != '+' || !run.groups.empty()) Finish(run, numbers);
            if (c == '+') run.plus = true;
        }
    }
    Finish(run, numbers);
    Deduplicate(numbers);
    return numbers;
}

std::vector<std::string> EmailAddresses(std::string_view cleanedCell) {
    const std::string text = Folded(cleanedCell);
    std::vector<std::string> addresses;
    const auto inAddress = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
               c == '%' || c == '+' || c == '-' || c == '@';
    };
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && !inAddress(text[at])) ++at;
        std::size_t end = at;
        while (end < text.size() && inAddress(text[end])) ++end;
        const std::string_view token = std::string_view(text).substr(at, end - at);
        const std::size_t atSign = token.find('@');
        if (atSign != std::string_view::npos && atSign > 0 &&
            token.find('@', atSign + 1) == std::string_view::npos) {
            const std::string_view domain = token.substr(atSign + 1);
            const std::size_t dot = domain.find('.');
            if (dot != std::string_view::npos && dot > 0 && domain.back() != '.') {
                addresses.emplace_back(token);
            }
        }
        at = end;
    }
    Deduplicate(addresses);
    return addresses;
}

std::vector<std::uint64_t> CleanCellKeyHashes(std::string_view link, std::string_view name,
                                              std::string_view telephone, std::string_view mobile,
                                              std::string_view email) {
    std::vector<std::uint64_t> keys;
    if (!link.empty()) keys.push_back(KeyHash({kLinkKey, link}));
    const std::string nameKey = CompanyNameKey(name);
    if (!nameKey.empty()) {
        for (const std::string_view cell : {telephone, mobile}) {
            for (const std::string& number : PhoneNumbers(cell)) {
                keys.push_back(KeyHash({kPhoneKey, nameKey, number}));
            }
        }
        for (const std::string& address : EmailAddresses(email)) {
            keys.push_back(KeyHash({kEmailKey, nameKey, address}));
        }
    }
    Deduplicate(keys);
    return keys;
}

std::vector<std::uint64_t> CompanyKeyHashes(std::string_view link, const ResultRow& raw) {
    const auto clean = [](const Text& cell, ResultColumn column) {
        return CleanCell(SystemToUtf8(cell), column);
    };
    return CleanCellKeyHashes(link, clean(raw.companyName, kCompanyNameColumn),
                              clean(raw.telephone, kTelephoneColumn),
                              clean(raw.mobile, kMobileColumn), clean(raw.email, kEmailColumn));
}

}  // namespace velmora
