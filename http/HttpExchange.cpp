// HttpClient's exchange: opening and sending a request, redirects, the body and the response
// header getters.

#include <algorithm>
#include <cctype>

#include "http/CookieJar.h"
#include "http/CurlTransport.h"
#include "http/HttpClient.h"
#include "http/TextSearch.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kHttpScheme = "http://";
constexpr std::string_view kHttpsScheme = "https://";
// The unit of maxChunks: the body was read in calls of this size.
constexpr std::size_t kReadChunkBytes = 1024;
// The port separator is looked for among this many bytes before the path's "/".
constexpr std::size_t kPortSearchWindow = 7;
// Explicit ports below this are taken for a typing slip and replaced by the scheme's default.
constexpr int kLowestExplicitPort = 11;
constexpr int kDefaultHttpPort = 80;
constexpr int kDefaultHttpsPort = 443;
// Digits beyond this value cannot make a port; parsing stops there.
constexpr int kPortParseCeiling = 65536;

bool IsTokenChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// A verb goes into the request line as it is, so it must be an HTTP token.
bool IsValidVerb(std::string_view verb) {
    return !verb.empty() && std::all_of(verb.begin(), verb.end(), IsTokenChar);
}

// Leading decimal digits; 0 when there are none.
int PortOf(std::string_view digits) {
    int port = 0;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) break;
        port = std::min(port * 10 + (c - '0'), kPortParseCeiling);
    }
    return port;
}

// Bytes of the scheme part in any letter case; 0 when the url has none. URLs shorter than
// "https://" are taken to have none.
std::size_t SchemeLength(std::string_view url) {
    if (url.size() < kHttpsScheme.size()) return 0;
    Text head = ToLowerText(url.substr(0, kHttpsScheme.size()));
    if (head == kHttpsScheme) return kHttpsScheme.size();
    if (head.starts_with(kHttpScheme)) return kHttpScheme.size();
    return 0;
}

int DefaultPort(std::string_view scheme) {
    return scheme == kHttpsScheme ? kDefaultHttpsPort : kDefaultHttpPort;
}

}  // namespace

std::optional<UrlParts> HttpClient::ParseUrl(std::string_view url) {
    if (url.empty()) return std::nullopt;
    UrlParts parts;
    std::size_t hostStart = SchemeLength(url);
    parts.scheme = Text(hostStart == kHttpsScheme.size() ? kHttpsScheme : kHttpScheme);
    Text working(url);
    std::size_t slash = working.find('/', hostStart);
    if (slash == Text::npos) {
        working += '/';
        slash = working.size() - 1;
    }
    parts.path = working.substr(slash);

    std::size_t windowStart =
        std::max(hostStart, slash > kPortSearchWindow ? slash - kPortSearchWindow : std::size_t{0});
    std::size_t colon = working.find(':', windowStart);
    std::size_t hostEnd = slash;
    if (colon == Text::npos || colon > slash) {
        parts.port = DefaultPort(parts.scheme);
    } else {
        parts.port = PortOf(std::string_view(working).substr(colon + 1, slash - colon - 1));
        if (parts.port < kLowestExplicitPort) parts.port = DefaultPort(parts.scheme);
        hostEnd = colon;
    }
    parts.host = working.substr(hostStart, hostEnd - hostStart);
    return parts;
}

bool HttpClient::RedirectKeepsOrigin(const UrlParts& from, const UrlParts& to) {
    const bool dropsSecurity = from.scheme == kHttpsScheme && to.scheme != kHttpsScheme;
    return ToLowerText(from.host) == ToLowerText(to.host) && from.port == to.port && !dropsSecurity;
}

Text HttpClient::Utf8ToAnsi(const Bytes& bytes) {
    if (bytes.empty()) return {};
    return Utf8ToSystem(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

bool HttpClient::Get(const Text& url, int mergeOption) {
    return OpenRequest("GET", url) && Send({}, mergeOption);
}

bool HttpClient::Head(const Text& url, int mergeOption) {
    return OpenRequest("HEAD", url) && Send({}, mergeOption);
}

bool HttpClient::Post(const Text& url, const std::optional<Text>& bodyText, Bytes& body,
                      int mergeOption) {
    if (bodyText) body.assign(bodyText->begin(), bodyText->end());
    return OpenRequest("POST", url) && Send(body, mergeOption);
}

bool HttpClient::SendText(const Text& bodyText, int mergeOption) {
    return Send(Bytes(bodyText.begin(), bodyText.end()), mergeOption);
}

bool HttpClient::OpenRequest(const Text& verb, const Text& url) {
    if (!sessionHandle) {
        lastError = HttpError::kNotOpen;
        return false;
    }
    std::optional<UrlParts> parts = ParseUrl(url);
    if (!parts) {
        lastError = HttpError::kInvalidRequest;
        return false;
    }
    scheme = parts->scheme;
    host = parts->host;
    port = parts->port;
    Text normalisedVerb = ToUpperText(TrimBoth(verb));

    responseBody.clear();
    responseHeaders.clear();
    cookiesMerged = true;
    requestHandle.reset();
    readBuffer.clear();
    requestCredentials.emplace();
    if (!IsValidVerb(normalisedVerb)) {
        lastError = HttpError::kInvalidRequest;
        return false;
    }
    requestHandle = std::make_unique<Transfer>(normalisedVerb, std::move(*parts));
    lastError = HttpError::kNone;

    currentUrl = url;
    isPost = normalisedVerb == "POST";
    if (autoHeaders && !refererFixed) referer = url;
    return true;
}

void HttpClient::AppendStandardHeaders() {
    struct StandardHeader {
        std::string_view name;
        const Text& value;
        bool& added;
        bool wanted;
    };
    const StandardHeader headers[] = {
        {"Accept: ", accept, acceptAdded, true},
        {"Referer: ", referer, refererAdded, true},
        {"Accept-Language: ", acceptLanguage, acceptLanguageAdded, true},
        {"User-Agent: ", userAgent, userAgentAdded, true},
        {"Content-Type: ", contentType, contentTypeAdded, isPost},
        {"Connection: ", connection, connectionAdded, true},
    };
    for (const StandardHeader& header : headers) {
        if (header.added || header.value.empty() || !header.wanted) continue;
        header.added = true;
        AppendHeaderLine(header.name, header.value);
    }
}

Text HttpClient::ComposeRequestHeaders(std::size_t bodySize, bool withCookies) const {
    Text text = headerBlock.substr(std::min(headerBlock.size(), kLineEnd.size()));
    if (withCookies) text.append(CookieLine());
    if (isPost) text.append("Content-Length: ").append(std::to_string(bodySize)).append(kLineEnd);
    return text;
}

void HttpClient::MergeResponseCookies(int mergeOption) {
    if (cookiesMerged || responseHeaders.empty()) return;
    MergeIntoJar(responseHeaders, mergeOption);
    cookiesMerged = true;
}

bool HttpClient::Send(const Bytes& body, int mergeOption) {
    if (!sessionHandle) {
        lastError = HttpError::kNotOpen;
        return false;
    }
    return SendHop(body, mergeOption, kMaxRedirects, true, sessionHandle->requestDeadline);
}

bool HttpClient::SendHop(const Bytes& body, int mergeOption, int redirectsLeft, bool keepsOrigin,
                         std::chrono::milliseconds timeLeft) {
    TransferSetup setup;
    if (!PrepareHop(body, keepsOrigin, timeLeft, setup)) return false;
    bool responded = requestHandle->Start(*sessionHandle, setup, readBuffer, transferControl.get());
    if (!responded && requestHandle->MayRetryOnFreshConnection()) {
        PrepareRetry(setup);
        responded = requestHandle->Start(*sessionHandle, setup, readBuffer, transferControl.get());
    }
    bool result = responded;
    // At the bound the last response is kept as it is, Location and all.
    if (TakeHopResponse(responded, mergeOption) && redirectsLeft > 0) {
        requestHandle->ReadRest(kRedirectDrainBytes, transferControl.get());
        const bool restoreAutoHeaders = autoHeaders;
        result = OpenRedirect(keepsOrigin, timeLeft);
        if (result) result = SendHop({}, mergeOption, redirectsLeft - 1, keepsOrigin, timeLeft);
        autoHeaders = restoreAutoHeaders;
    }
    EndHop();
    return result;
}

bool HttpClient::PrepareHop(const Bytes& body, bool keepsOrigin, std::chrono::milliseconds timeLeft,
                            TransferSetup& setup) {
    if (!sessionHandle || !requestHandle) {
        lastError = sessionHandle ? HttpError::kInvalidRequest : HttpError::kNotOpen;
        return false;
    }
    if (autoHeaders) AppendStandardHeaders();
    setup.headerText = ComposeRequestHeaders(body.size(), keepsOrigin);
    if (isPost) setup.body = body;
    setup.decoding = httpDecoding;
    setup.timeLeft = timeLeft;
    if (requestCredentials) {
        setup.user = requestCredentials->user;
        setup.password = requestCredentials->password;
        setup.proxyUser = requestCredentials->proxyUser;
        setup.proxyPassword = requestCredentials->proxyPassword;
    }
    // Sending an opened request again runs a new transfer of it.
    if (requestHandle->Started()) {
        requestHandle = std::make_unique<Transfer>(requestHandle->Verb(), requestHandle->Target());
    }
    responseBody.clear();
    readBuffer.clear();
    return true;
}

void HttpClient::PrepareRetry(TransferSetup& setup) {
    setup.timeLeft -= requestHandle->ActiveTime();
    setup.freshConnection = true;
    requestHandle = std::make_unique<Transfer>(requestHandle->Verb(), requestHandle->Target());
    readBuffer.clear();
}

bool HttpClient::TakeHopResponse(bool responded, int mergeOption) {
    responseHeaders = responded ? requestHandle->ResponseHeaders() : Text();
    // A transfer that ended cleanly without a final response brought nothing usable either.
    const HttpError error = requestHandle->Error();
    lastError = responded                   ? HttpError::kNone
                : error != HttpError::kNone ? error
                                            : HttpError::kBadResponse;
    cookiesMerged = false;
    if (responseHeaders.empty()) return false;
    // Before any redirect: the redirected request already carries the cookies set here.
    MergeResponseCookies(mergeOption);
    return followRedirects && !ResolveLocation().empty();
}

bool HttpClient::OpenRedirect(bool& keepsOrigin, std::chrono::milliseconds& timeLeft) {
    const Text location = ResolveLocation();
    readBuffer.clear();
    if (isPost) RemoveHeader("Content-Type: ");
    // The redirected GET carries this request's lines as they are: no new standard lines, no
    // new Referer; but no cookies or credentials for another server.
    const UrlParts from = requestHandle->Target();
    autoHeaders = false;
    timeLeft -= requestHandle->ActiveTime();
    if (!OpenRequest("GET", location)) return false;
    keepsOrigin = keepsOrigin && RedirectKeepsOrigin(from, requestHandle->Target());
    if (!keepsOrigin) RemoveCredentialLines();
    return true;
}

void HttpClient::EndHop() {
    headerBlock = Text(kLineEnd);
    if (autoHeaders) ClearAddedFlags();
}

std::size_t HttpClient::BodyLimit(int maxChunks) {
    std::size_t limit = kMaxBodyBytes;
    if (maxChunks > 0) {
        limit = std::min(limit, static_cast<std::size_t>(maxChunks) * kReadChunkBytes);
    }
    return limit;
}

const Bytes& HttpClient::LoadBody(int maxChunks) {
    if (!requestHandle || !responseBody.empty()) return responseBody;
    TransferOutcome outcome = requestHandle->ReadRest(BodyLimit(maxChunks), transferControl.get());
    // A body cut short by the peer or a time-out keeps what arrived: a read that fails counts
    // as the end of the body. A stopped one is dropped, since nobody reads it.
    if (outcome == TransferOutcome::kFailed || outcome == TransferOutcome::kStopped) {
        lastError = requestHandle->Error();
    }
    if (outcome == TransferOutcome::kStopped) readBuffer.clear();
    responseBody = std::move(readBuffer);
    readBuffer = Bytes();
    return responseBody;
}

const Bytes& HttpClient::ReadBody(int maxChunks) {
    return LoadBody(maxChunks);
}

Text HttpClient::ReadBodyText(int maxChunks) {
    const Bytes& body = LoadBody(maxChunks);
    auto end = std::find(body.begin(), body.end(), 0);
    return Text(body.begin(), end);
}

Text HttpClient::ReadBodyTextUtf8(int maxChunks) {
    return Utf8ToAnsi(LoadBody(maxChunks));
}

SystemUtf8 HttpClient::ReadBodyUtf8(int maxChunks) {
    const Bytes& body = LoadBody(maxChunks);
    return SystemUtf8::FromUtf8(
        std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
}

Text HttpClient::ResolveLocation() const {
    return ResolveLocation(responseHeaders, currentUrl);
}

Text HttpClient::ResolveLocation(std::string_view responseHeaders, std::string_view requestUrl) {
    constexpr std::string_view kLocation = "\r\nLocation:";
    std::size_t found = FindAt(responseHeaders, kLocation, 0, true);
    if (found == kNotFound) return {};
    std::size_t valueStart = found + kLocation.size();
    std::size_t valueEnd = FindAt(responseHeaders, kLineEnd, valueStart);
    if (valueEnd == kNotFound) return {};
    Text location = TrimBoth(responseHeaders.substr(valueStart, valueEnd - valueStart));
    if (location.empty()) return {};
    const UrlParts request = ParseUrl(requestUrl).value_or(UrlParts{});
    // Scheme-relative: another server, reached over the current scheme.
    if (location.starts_with("//")) return request.scheme + location.substr(2);
    if (location.front() == '/') {
        return request.scheme + request.host + ":" + std::to_string(request.port) + location;
    }
    Text lower = ToLowerText(location);
    if (lower.starts_with(kHttpScheme) || lower.starts_with(kHttpsScheme)) return location;
    // Relative to the directory of the request URL's path: its query and fragment are no part
    // of it, whatever slashes they hold. A URL without a path is its own directory (its last
    // "/" is the scheme's, which must not be cut into).
    const std::size_t schemeLength = SchemeLength(requestUrl);
    const Text base(requestUrl.substr(0, requestUrl.find_first_of("?#", schemeLength)));
    std::size_t lastSlash = base.rfind('/');
    if (lastSlash == Text::npos || lastSlash < schemeLength) return base + "/" + location;
    return base.substr(0, lastSlash + 1) + location;
}

int HttpClient::ResponseStatus() const {
    return StatusOfLine(
        std::string_view(responseHeaders).substr(0, responseHeaders.find(kLineEnd)));
}

Text HttpClient::GetResponseHeader(const Text& name) {
    if (name.empty()) return {};
    Text value;
    if (!responseHeaders.empty()) {
        Text searched = Text(kLineEnd) + name + ":";
        std::size_t found = FindAt(responseHeaders, searched, 0, true);
        if (found != kNotFound) {
            std::size_t valueStart = found + searched.size();
            std::size_t valueEnd = FindAt(responseHeaders, kLineEnd, valueStart);
            if (valueEnd == kNotFound) valueEnd = responseHeaders.size();
            value = TrimLeading(
                std::string_view(responseHeaders).substr(valueStart, valueEnd - valueStart));
        }
    }
    MergeResponseCookies(0);
    return value;
}

Text HttpClient::GetResponseHeaders() {
    MergeResponseCookies(0);
    return responseHeaders;
}

Text HttpClient::GetRedirectUrl() {
    Text location = responseHeaders.empty() ? Text() : ResolveLocation();
    MergeResponseCookies(0);
    return location;
}

}  // namespace velmora
