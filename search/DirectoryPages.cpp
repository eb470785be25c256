#include "search/DirectoryPages.h"

#include <algorithm>

#include "search/SearchTexts.h"
#include "text/TextOps.h"

namespace velmora {

namespace {

// The pager's label before the page numbers, on every result page ("页次: 3/12").
constexpr const char* kPagerMarker = "页次: ";

bool IsUnreserved(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.';
}

// The pattern's groups are the row's columns, 1-based.
constexpr int kEmailGroup = kEmailColumn + 1;

// A cell written as a link: the address is the anchor's text.
Text CleanEmail(const Text& cell) {
    if (FindText(cell, "href") == -1) return cell;
    return TextBetween(cell, "target=_blank>", "</a>");
}

}  // namespace

const Text& CompanyLinkPattern() {
    static const Text pattern = R"re(sup-name"><a href="(.*?)")re";
    return pattern;
}

Text EncodeKeyword(const Text& keyword, bool keepUnreserved) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    const std::string utf8 = SystemToUtf8(keyword);
    Text encoded;
    encoded.reserve(utf8.size() * 3);
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (keepUnreserved && IsUnreserved(byte)) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHexDigits[byte >> 4];
            encoded += kHexDigits[byte & 0x0F];
        }
    }
    return encoded;
}

std::vector<Text> CompanyLinksOnPage(Regex& regex, const Text& page) {
    return CompanyLinksOnPage(regex, SystemUtf8::FromSystem(page));
}

std::vector<Text> CompanyLinksOnPage(Regex& regex, const SystemUtf8& page) {
    regex.Create(CompanyLinkPattern(), page);
    std::vector<Text> links;
    for (int match = 1; match <= regex.MatchCount(); ++match) {
        Text link = regex.GetSubMatch(match, 1);
        if (!RemoveSpaces(link).empty()) links.push_back(std::move(link));
    }
    return links;
}

std::optional<int> PageCountOf(const Text& firstPage) {
    const Text count =
        TextBetween(firstPage, Utf8ToSystem(kPageCountMarker), kCountEndMarker, kMarkerSearchStart);
    const int claimed = ToInteger(count);
    // 0 is also what a text without digits reads as.
    const std::size_t firstShown = count.find_first_not_of(" \t");
    if (claimed < 0 || (claimed == 0 && (firstShown == Text::npos || count[firstShown] != '0'))) {
        return std::nullopt;
    }
    return std::min(claimed, kMaxPageCount);
}

FirstPageReading ReadFirstPage(Regex& regex, const Text& countPage, const Text& totalPage) {
    FirstPageReading reading;
    const std::optional<int> pageCount = PageCountOf(countPage);
    reading.pageCount = pageCount.value_or(0);
    reading.total =
        TextBetween(totalPage, Utf8ToSystem(kTotalMarker), kCountEndMarker, kMarkerSearchStart);
    reading.countUnreadable = !pageCount && !CompanyLinksOnPage(regex, countPage).empty();
    return reading;
}

bool IsListing(const std::vector<Text>& links, const SystemUtf8& page) {
    const std::string& utf8 = page.utf8();
    return !links.empty() || utf8.find(kPagerMarker) != std::string::npos ||
           utf8.find(kTotalMarker) != std::string::npos;
}

Text SearchUrl(const Text& siteBaseUrl, const Text& encodedKeyword) {
    return siteBaseUrl + kSearchPathAndQuery + encodedKeyword;
}

Text ResultPageUrl(const Text& searchUrl, int page) {
    return searchUrl + kPageParameter + ToText(page);
}

Text RequestedLink(const Text& link) {
    constexpr std::string_view kAsciiBlanks = " \t";
    const std::size_t first = link.find_first_not_of(kAsciiBlanks);
    if (first == Text::npos) return {};
    return link.substr(first, link.find_last_not_of(kAsciiBlanks) - first + 1);
}

const Text& CompanyDetailPattern() {
    // Between the e-mail label and group 6 the page form allowed one optional character of the
    // set [blank>|z]; greedy before a lazy group, it took the first letter of any address
    // beginning with one of them, so it is left out. The rest is the page's markup as is.
    static const Text pattern = Utf8ToSystem(
        R"(<div class="mp4"><b>(.*?)</b><br><br><span class="mtext">(.*?)</span><br><br></div>)"
        R"([\s]*?<div class="mp5">[\s]*?)"
        R"(<ul><li class="mp6">电话：</li><li class="mp7">(.*?)</li></ul>[\s]*?)"
        R"(<ul><li class="mp6">手机：</li><li class="mp7">(.*?)</li></ul>[\s]*?)"
        R"(<ul><li class="mp6">传真：</li><li class="mp7">(.*?)</li></ul>[\s]*?)"
        R"(<ul><li class="mp6">邮件：</li><li class="mp7">[\s|\S]*?(.*?)</li></ul>[\s]*?)"
        R"(<ul><li class="mp6">地址：</li><li class="mp7">(.*?)</li></ul>)");
    return pattern;
}

CompanyPageMatch MatchCompanyPage(const Text& page) {
    return MatchCompanyPage(SystemUtf8::FromSystem(page));
}

CompanyPageMatch MatchCompanyPage(const SystemUtf8& page) {
    Regex regex;
    const bool searchedToTheEnd = regex.Create(CompanyDetailPattern(), page);
    // The pattern is fixed and accepted, so a false Create is the work bound.
    if (regex.MatchCount() == 0) return {std::nullopt, !searchedToTheEnd};
    ResultRow row{regex.GetSubMatch(1, 1), regex.GetSubMatch(1, 2),
                  regex.GetSubMatch(1, 3), regex.GetSubMatch(1, 4),
                  regex.GetSubMatch(1, 5), CleanEmail(regex.GetSubMatch(1, kEmailGroup)),
                  regex.GetSubMatch(1, 7)};
    return {std::move(row), false};
}

std::optional<std::string> CompanyPageFailure(std::optional<std::string> fetchFailure,
                                              const CompanyPageMatch& match) {
    if (!fetchFailure && match.bounded) return search_text::kCompanyPageTooComplex;
    return fetchFailure;
}

}  // namespace velmora
