// HttpClient's life, session options, pending header lines and cookie methods.

#include "http/HttpClient.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "http/CookieJar.h"
#include "http/CurlTransport.h"
#include "http/TextSearch.h"
#include "http/TransferControl.h"

namespace velmora {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

struct HeaderName {
    Text prefix;  // the name as written in the block, ending with ": "
    Text key;     // its lower-case form
};

// "Accept", "Accept:" and "Accept: " all give the prefix "Accept: ".
HeaderName NormaliseHeaderName(const Text& name) {
    Text prefix = name;
    if (prefix.back() == ':') {
        prefix += ' ';
    } else if (!prefix.ends_with(": ")) {
        prefix += ": ";
    }
    return {prefix, ToLowerText(prefix)};
}

// A line break inside a name or value would start a header line of its own (a URL taken from
// a page becomes the Referer); such bytes are sent as blanks. Appends `value` so to `line`.
Text& AppendAsOneLine(Text& line, std::string_view value) {
    const std::size_t start = line.size();
    line.append(value);
    std::replace_if(
        line.begin() + static_cast<std::ptrdiff_t>(start), line.end(),
        [](char c) { return c == '\r' || c == '\n' || c == '\0'; }, ' ');
    return line;
}

Text SingleLine(std::string_view value) {
    Text line;
    return AppendAsOneLine(line, value);
}

std::optional<std::int32_t> Int32Of(const Bytes& value) {
    if (value.size() != sizeof(std::int32_t)) return std::nullopt;
    std::uint32_t number = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        number |= static_cast<std::uint32_t>(value[i]) << (8 * i);
    }
    return static_cast<std::int32_t>(number);
}

Text TextOf(const Bytes& value) {
    Text text(value.begin(), value.end());
    return text.substr(0, text.find('\0'));
}

std::chrono::milliseconds TimeoutOr(int milliseconds, std::chrono::milliseconds fallback) {
    return milliseconds > 0 ? std::chrono::milliseconds(milliseconds) : fallback;
}

constexpr std::array<std::string_view, 4> kForgedClientIpHeaders = {
    "X-Forwarded-For: ", "CLIENT_IP: ", "VIA: ", "REMOTE_ADDR: "};
// Lines in which a caller hands a server its credentials.
constexpr std::array<std::string_view, 2> kCredentialHeaders = {"Authorization: ",
                                                                "Proxy-Authorization: "};

}  // namespace

HttpClient::HttpClient() = default;

HttpClient::~HttpClient() {
    Close();
}

// The agent names the session only: requests carry the composed User-Agent line or none.
void HttpClient::Open([[maybe_unused]] const Text& agent) {
    requestHandle.reset();
    requestCredentials.reset();
    sessionHandle = std::make_unique<Session>();
    if (sessionHandle->easy == nullptr || sessionHandle->multi == nullptr) sessionHandle.reset();
    readBuffer.clear();
    sharedJar.reset();
    cookieJar = Text(kEmptyCookieJar);
    headerBlock = Text(kLineEnd);
    ResetHeaders();
    autoHeaders = true;
    followRedirects = true;
    httpDecoding = false;
}

void HttpClient::Close() {
    requestHandle.reset();
    requestCredentials.reset();
    sessionHandle.reset();
    sharedJar.reset();
    readBuffer = Bytes();
    for (Text* text : {&scheme, &host, &currentUrl, &headerBlock, &responseHeaders, &cookieJar,
                       &accept, &referer, &acceptLanguage, &userAgent, &contentType, &connection}) {
        text->clear();
    }
    responseBody.clear();
}

void HttpClient::ResetHeaders() {
    accept = Text(kDefaultAccept);
    acceptLanguage = Text(kDefaultAcceptLanguage);
    referer.clear();
    userAgent = Text(kDefaultUserAgent);
    contentType = Text(kDefaultContentType);
    connection = Text(kDefaultConnection);
    refererFixed = false;
    ClearAddedFlags();
}

void HttpClient::Reopen(const std::optional<Text>& agent) {
    Close();
    Open(agent.value_or(Text(kDefaultUserAgent)));
}

void HttpClient::SetAutoHeaders(bool on) {
    autoHeaders = on;
}

void HttpClient::SetFollowRedirects(bool on) {
    followRedirects = on;
}

void HttpClient::SetDecoding(bool on) {
    httpDecoding = on;
}

bool HttpClient::SetOption(int option, const Bytes& value) {
    if (!sessionHandle) return false;
    Session& session = *sessionHandle;
    const std::optional<std::int32_t> number = Int32Of(value);
    const bool isNumber = number.has_value();
    // Credentials belong to the request's connection, as SetCredentials' do.
    auto setCredential = [&](std::optional<Text> Credentials::*field) {
        if (!requestCredentials) return false;
        (*requestCredentials).*field = TextOf(value);
        return true;
    };
    switch (option) {
        case kOptionConnectTimeout:
            if (isNumber) session.connectTimeout = TimeoutOr(*number, kDefaultConnectTimeout);
            return isNumber;
        case kOptionSendTimeout:
            if (isNumber) session.sendStallTimeout = TimeoutOr(*number, kDefaultStallTimeout);
            return isNumber;
        case kOptionReceiveTimeout:
            if (isNumber) session.receiveStallTimeout = TimeoutOr(*number, kDefaultStallTimeout);
            return isNumber;
        case kOptionHttpDecoding:
            if (isNumber) httpDecoding = *number != 0;
            return isNumber;
        case kOptionMaxConnsPerServer:
            return isNumber && *number > 0 &&
                   curl_multi_setopt(session.multi, CURLMOPT_MAX_HOST_CONNECTIONS,
                                     static_cast<long>(*number)) == CURLM_OK;
        case kOptionProxy:
            session.proxy = TextOf(value);
            return true;
        case kOptionUserName:
            return setCredential(&Credentials::user);
        case kOptionPassword:
            return setCredential(&Credentials::password);
        case kOptionProxyUserName:
            return setCredential(&Credentials::proxyUser);
        case kOptionProxyPassword:
            return setCredential(&Credentials::proxyPassword);
        default:
            return false;
    }
}

void HttpClient::SetTimeouts(int connectMs, int sendMs, int receiveMs) {
    if (!sessionHandle) return;
    sessionHandle->connectTimeout = TimeoutOr(connectMs, kDefaultConnectTimeout);
    sessionHandle->sendStallTimeout = TimeoutOr(sendMs, kDefaultStallTimeout);
    sessionHandle->receiveStallTimeout = TimeoutOr(receiveMs, kDefaultStallTimeout);
}

void HttpClient::SetSpeedLimits(int bytesPerSecond, int windowMs, int deadlineMs) {
    if (!sessionHandle) return;
    sessionHandle->lowSpeedBytesPerSecond = bytesPerSecond > 0
                                                ? static_cast<std::size_t>(bytesPerSecond)
                                                : kDefaultLowSpeedBytesPerSecond;
    sessionHandle->lowSpeedWindow = TimeoutOr(windowMs, kDefaultLowSpeedWindow);
    sessionHandle->requestDeadline = TimeoutOr(deadlineMs, kDefaultRequestDeadline);
}

void HttpClient::SetProxy(const Text& server, const std::optional<Text>& user,
                          const std::optional<Text>& password) {
    if (!sessionHandle) return;
    sessionHandle->proxy = server;
    if (!requestCredentials) return;
    if (user) requestCredentials->proxyUser = user;
    if (password) requestCredentials->proxyPassword = password;
}

bool HttpClient::SetCredentials(const std::optional<Text>& user,
                                const std::optional<Text>& password) {
    if (!requestCredentials) return false;
    if (user) requestCredentials->user = user;
    if (password) requestCredentials->password = password;
    return true;
}

void HttpClient::SetTransferControl(std::shared_ptr<TransferControl> control) {
    transferControl = std::move(control);
}

void HttpClient::ClearAddedFlags() {
    acceptAdded = refererAdded = acceptLanguageAdded = userAgentAdded = contentTypeAdded =
        connectionAdded = false;
}

void HttpClient::MarkStandardHeader(const Text& key) {
    if (!autoHeaders) return;
    const std::array<std::pair<std::string_view, bool*>, 6> flags = {{
        {"accept: ", &acceptAdded},
        {"referer: ", &refererAdded},
        {"accept-language: ", &acceptLanguageAdded},
        {"user-agent: ", &userAgentAdded},
        {"content-type: ", &contentTypeAdded},
        {"connection: ", &connectionAdded},
    }};
    for (const auto& [standardKey, flag] : flags) {
        if (key == standardKey) *flag = true;
    }
}

void HttpClient::AppendHeaderLine(std::string_view prefix, std::string_view value) {
    AppendAsOneLine(AppendAsOneLine(headerBlock, prefix), value).append(kLineEnd);
}

void HttpClient::PlaceHeaderLine(const Text& prefix, const Text& value) {
    Text linePrefix = SingleLine(prefix);
    std::size_t found = FindAt(headerBlock, Text(kLineEnd) + linePrefix, 0, true);
    if (found == kNotFound) {
        AppendHeaderLine(prefix, value);
        return;
    }
    // Only the value changes: the name keeps the letter case it has in the block.
    std::size_t valueStart = found + kLineEnd.size() + linePrefix.size();
    std::size_t valueEnd = FindAt(headerBlock, kLineEnd, valueStart);
    if (valueEnd == kNotFound) valueEnd = headerBlock.size();
    headerBlock.replace(valueStart, valueEnd - valueStart, SingleLine(value));
}

void HttpClient::SetHeader(const Text& name, const Text& value) {
    if (name.empty()) return;
    HeaderName header = NormaliseHeaderName(name);
    if (!value.empty()) MarkStandardHeader(header.key);
    if (header.key == "cookie: ") {
        if (!value.empty()) AddCookies(value);
        return;  // an empty value would go to RemoveCookies, which ignores the empty text
    }
    PlaceHeaderLine(header.prefix, value);
}

void HttpClient::RemoveHeader(const Text& name) {
    if (name.empty()) return;
    HeaderName header = NormaliseHeaderName(name);
    // Marked whatever follows: removing a standard header keeps Send from adding it.
    MarkStandardHeader(header.key);
    std::size_t found = FindAt(headerBlock, Text(kLineEnd) + header.prefix, 0, true);
    if (found == kNotFound) return;
    std::size_t lineStart = found + kLineEnd.size();
    std::size_t lineEnd = FindAt(headerBlock, kLineEnd, lineStart + header.prefix.size());
    if (lineEnd == kNotFound) {
        headerBlock.erase(lineStart);
        return;
    }
    headerBlock.erase(lineStart, lineEnd + kLineEnd.size() - lineStart);
}

void HttpClient::RemoveCredentialLines() {
    for (std::string_view name : kCredentialHeaders) RemoveHeader(Text(name));
}

void HttpClient::SetStandardValue(Text& field, bool& added, const Text& prefix, const Text& value) {
    if (!value.empty()) field = value;
    if (autoHeaders) added = true;
    if (value.empty()) return;  // with autoHeaders on, the next request has no such line
    PlaceHeaderLine(prefix, value);
}

void HttpClient::SetUserAgent(const std::optional<Text>& value) {
    SetStandardValue(userAgent, userAgentAdded,
                     "User-Agent: ", value.value_or(Text(kDefaultUserAgent)));
}

void HttpClient::SetContentType(const std::optional<Text>& value) {
    SetStandardValue(contentType, contentTypeAdded,
                     "Content-Type: ", value.value_or(Text(kDefaultContentType)));
}

void HttpClient::SetAccept(const std::optional<Text>& value) {
    SetStandardValue(accept, acceptAdded, "Accept: ", value.value_or(Text(kDefaultAccept)));
}

void HttpClient::SetReferer(const std::optional<Text>& value) {
    if (value) {
        refererFixed = true;
        SetStandardValue(referer, refererAdded, "Referer: ", *value);
        return;
    }
    // No value: this request names the previous URL, and the automatic Referer resumes.
    refererFixed = false;
    Text keep = referer;
    SetStandardValue(referer, refererAdded, "Referer: ", currentUrl);
    referer = keep;
}

void HttpClient::SetForgedClientIp(const Text& address) {
    for (std::string_view name : kForgedClientIpHeaders) {
        if (address.empty()) {
            RemoveHeader(Text(name));
        } else {
            SetHeader(Text(name), address);
        }
    }
}

template <typename Use>
auto HttpClient::WithJar(Use use) {
    if (sharedJar) return sharedJar->With(use);
    return use(cookieJar);
}

template <typename Use>
auto HttpClient::ReadJar(Use use) const {
    if (sharedJar) return sharedJar->With([&](const Text& jar) { return use(jar); });
    return use(cookieJar);
}

bool HttpClient::AddCookies(const Text& text) {
    return WithJar([&](Text& jar) { return cookie_jar::AddCookies(jar, text); });
}

bool HttpClient::RemoveCookies(const Text& text) {
    return WithJar([&](Text& jar) { return cookie_jar::RemoveCookies(jar, text); });
}

Text HttpClient::GetCookie(const Text& name, bool withName) const {
    return ReadJar([&](const Text& jar) { return cookie_jar::GetCookie(jar, name, withName); });
}

Text HttpClient::GetCookies() const {
    return ReadJar([](const Text& jar) { return cookie_jar::CookieLineValue(jar); });
}

Text HttpClient::CookieLine() const {
    Text cookies = GetCookies();
    if (cookies.empty()) return {};
    return Text("Cookie: ").append(SingleLine(cookies)).append(kLineEnd);
}

void HttpClient::SetCookies(const Text& text) {
    WithJar([&](Text& jar) { jar = cookie_jar::JarFromText(text); });
}

void HttpClient::ShareCookieJar(std::shared_ptr<SharedCookieJar> jar) {
    sharedJar = std::move(jar);
    if (!sharedJar) cookieJar = Text(kEmptyCookieJar);
}

void HttpClient::MergeIntoJar(std::string_view headers, int mergeOption) {
    WithJar([&](Text& jar) { cookie_jar::MergeSetCookies(jar, headers, mergeOption); });
}

}  // namespace velmora
