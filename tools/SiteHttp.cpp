// Request heads read: the request line, the header lines and what they ask of the connection
// and its body; and the reason phrases of the statuses the site answers with.

#include "tools/SiteHttp.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "tools/SampleSite.h"

namespace velmora::site {
namespace {

// A head of more header lines than this is refused (431).
constexpr std::size_t kMaxHeaderLines = 100;
// The site takes no uploads; a request body beyond this is refused (413).
constexpr std::size_t kMaxBodyBytes = 1024 * 1024;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

bool ContainsIgnoringCase(std::string_view text, std::string_view word) {
    for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
        if (EqualsIgnoringCase(text.substr(i, word.size()), word)) return true;
    }
    return false;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

}  // namespace

std::optional<std::string> RecordedRequest::Header(std::string_view name) const {
    for (const std::string& line : headerLines) {
        std::size_t colon = line.find(':');
        if (EqualsIgnoringCase(Trim(std::string_view(line).substr(0, colon)), name)) {
            return std::string(Trim(std::string_view(line).substr(colon + 1)));
        }
    }
    return std::nullopt;
}

ParsedHead ParseHead(std::string_view head) {
    ParsedHead parsed;
    RecordedRequest& request = parsed.request;
    std::size_t lineEnd = head.find("\r\n");
    std::string_view requestLine = head.substr(0, lineEnd);
    std::size_t first = requestLine.find(' ');
    std::size_t second = first == std::string_view::npos ? first : requestLine.find(' ', first + 1);
    if (second == std::string_view::npos ||
        requestLine.find(' ', second + 1) != std::string::npos) {
        parsed.refusal = 400;
        return parsed;
    }
    request.method = requestLine.substr(0, first);
    request.target = requestLine.substr(first + 1, second - first - 1);
    request.version = requestLine.substr(second + 1);
    if (request.method.empty() || request.target.empty() ||
        (request.version != "HTTP/1.1" && request.version != "HTTP/1.0")) {
        parsed.refusal = 400;
        return parsed;
    }
    while (lineEnd != std::string_view::npos) {
        std::size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        std::string_view line = head.substr(start, lineEnd - start);
        if (line.empty()) continue;
        if (line.find(':') == std::string_view::npos) {
            parsed.refusal = 400;
            return parsed;
        }
        if (request.headerLines.size() == kMaxHeaderLines) {
            parsed.refusal = 431;
            return parsed;
        }
        request.headerLines.emplace_back(line);
    }
    parsed.recordable = true;
    std::optional<std::string> connection = request.Header("Connection");
    parsed.keepAlive = request.version == "HTTP/1.1"
                           ? !(connection && ContainsIgnoringCase(*connection, "close"))
                           : (connection && ContainsIgnoringCase(*connection, "keep-alive"));
    if (request.Header("Transfer-Encoding")) {
        parsed.refusal = 501;
    } else if (std::optional<std::string> length = request.Header("Content-Length")) {
        std::string_view digits = Trim(*length);
        std::size_t bytes = 0;
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), bytes);
        if (error != std::errc() || end != digits.data() + digits.size() || digits.empty()) {
            parsed.refusal = 400;
        } else if (bytes > kMaxBodyBytes) {
            parsed.refusal = 413;
        } else {
            parsed.bodyBytes = bytes;
        }
    }
    return parsed;
}

std::string_view ReasonOf(int status) {
    switch (status) {
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 400:
            return "Bad Request";
        case 405:
            return "Method Not Allowed";
        case 413:
            return "Content Too Large";
        case 429:
            return "Too Many Requests";
        case 403:
            return "Forbidden";
        case 431:
            return "Request Header Fields Too Large";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 503:
            return "Service Unavailable";
        default:
            return "Error";
    }
}

}  // namespace velmora::site
