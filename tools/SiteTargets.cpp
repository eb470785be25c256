// The site's request targets: the search's and the company pages', and percent-decoding.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "tools/SiteContent.h"

namespace velmora::site {

std::string CompanyTarget(std::uint64_t seed, int number) {
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(seed));
    return std::string(kCompanyPath) + hex + "/" + std::to_string(number) + ".html";
}

std::string SearchTarget(std::string_view keyword, int page) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string target(kSearchPath);
    target += '?';
    target += kSearchQuery;
    for (char c : keyword) {
        auto byte = static_cast<unsigned char>(c);
        bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                          (byte >= '0' && byte <= '9') || byte == '-' || byte == '.';
        if (unreserved) {
            target += c;
        } else {
            target += '%';
            target += kHex[byte >> 4];
            target += kHex[byte & 0x0F];
        }
    }
    if (page > 0) {
        target += kPageParameter;
        target += std::to_string(page);
    }
    return target;
}

std::string PercentDecode(std::string_view text) {
    auto hexValue = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace velmora::site
