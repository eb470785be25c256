#pragma once
// HttpClient: one HTTP session with six standard request header values, a block of pending
// header lines, a cookie jar in one text and the state of the last exchange.
//
// Requests carry exactly the header lines composed here (plus Host); the transport keeps no
// cookies and follows no redirects of its own. One exchange at a time per client: callers on
// several threads take turns. A TransferControl given with SetTransferControl lets other threads
// pause, resume or stop the exchange in flight.

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "http/HttpError.h"
#include "text/CodePage.h"
#include "text/Text.h"
#include "text/TextOps.h"

namespace velmora {

class SharedCookieJar;
class TransferControl;
struct TransferSetup;

inline constexpr std::string_view kDefaultUserAgent =
    "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
inline constexpr std::string_view kDefaultAccept = "text/html, application/xhtml+xml, */*";
inline constexpr std::string_view kDefaultAcceptLanguage = "zh-cn";
inline constexpr std::string_view kDefaultContentType = "application/x-www-form-urlencoded";
inline constexpr std::string_view kDefaultConnection = "Keep-Alive";

// Option numbers accepted by HttpClient::SetOption (the values are raw bytes: a 4-byte
// little-endian integer for numbers and flags, the text itself for names and servers).
enum HttpOption : int {
    kOptionConnectTimeout = 2,  // milliseconds
    kOptionSendTimeout = 5,     // milliseconds without progress while sending
    kOptionReceiveTimeout = 6,  // milliseconds without progress while receiving
    kOptionUserName = 28,       // for a server's authentication challenge
    kOptionPassword = 29,
    kOptionProxy = 38,  // proxy server text; empty means direct
    kOptionProxyUserName = 43,
    kOptionProxyPassword = 44,
    kOptionHttpDecoding = 65,       // nonzero: ask for and undo gzip/deflate
    kOptionMaxConnsPerServer = 73,  // connections kept per host
};

struct UrlParts {
    Text scheme;  // "http://" or "https://"
    Text host;
    int port = 0;
    Text path;  // always begins with "/"
};

class HttpClient {
public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Session life. A client does nothing before Open; Close ends the session, Reopen starts over.
    void Open(const Text& agent);
    void Close();
    void ResetHeaders();
    void Reopen(const std::optional<Text>& agent = std::nullopt);

    // Session options.
    void SetAutoHeaders(bool on);
    void SetFollowRedirects(bool on);
    [[nodiscard]] bool SetOption(int option, const Bytes& value);
    // Milliseconds; a value of 0 or less keeps the built-in limit.
    void SetTimeouts(int connectMs, int sendMs, int receiveMs);
    // The pace every request must keep (built in: 1 KB a second over 30 s, 3 minutes in all):
    // a transfer that moves fewer than bytesPerSecond on average over a whole window fails, and
    // so does a request, its redirects and body included, at the deadline. Paused time counts
    // for neither. A value of 0 or less keeps the built-in limit.
    void SetSpeedLimits(int bytesPerSecond, int windowMs, int deadlineMs);
    void SetProxy(const Text& server, const std::optional<Text>& user = std::nullopt,
                  const std::optional<Text>& password = std::nullopt);
    // Only between OpenRequest and Send: false when no request has been opened.
    bool SetCredentials(const std::optional<Text>& user = std::nullopt,
                        const std::optional<Text>& password = std::nullopt);
    void SetDecoding(bool on = true);

    // Pending header lines: they go with the next request only.
    void SetHeader(const Text& name, const Text& value);
    void RemoveHeader(const Text& name);
    void SetUserAgent(const std::optional<Text>& value = std::nullopt);
    // A value fixes the Referer for later requests; no value returns to each request naming the
    // previous URL once, then its own.
    void SetReferer(const std::optional<Text>& value = std::nullopt);
    void SetContentType(const std::optional<Text>& value = std::nullopt);
    void SetAccept(const std::optional<Text>& value = std::nullopt);
    void SetForgedClientIp(const Text& address);

    // Requests. False when no request could be opened or no response arrived; HTTP error
    // statuses are responses like any other. `mergeOption` is there for callers that pass one:
    // it is handed on to the cookie merge and to every redirect hop, and no rule reads it.
    // A GET that a kept-alive connection left without a response (dropped before the first
    // byte, or answered with bytes that are not HTTP) is sent once more on a new connection; a
    // request on a new connection is never repeated.
    bool Get(const Text& url, int mergeOption = 0);
    // With a bodyText, its bytes replace `body` before sending.
    bool Post(const Text& url, const std::optional<Text>& bodyText, Bytes& body,
              int mergeOption = 0);
    bool Head(const Text& url, int mergeOption = 0);
    bool OpenRequest(const Text& verb, const Text& url);
    bool SendText(const Text& bodyText, int mergeOption = 0);
    bool Send(const Bytes& body, int mergeOption = 0);
    // Why the last request (its last redirect hop), or the body read after it, failed; kNone
    // when it went through. A response with an HTTP error status is no failure.
    HttpError LastError() const { return lastError; }

    // The body of the last response of the exchange, read once and then cached. `maxChunks` > 0
    // reads at most that many 1 024-byte chunks. A body cut short (the peer, a time-out) keeps
    // the bytes that arrived, and LastError says why it ended; one beyond the size cap keeps the
    // bytes up to the cap. The body stays the client's, until the next request or Close.
    const Bytes& ReadBody(int maxChunks = 0);
    // The body up to its first zero byte, unconverted.
    Text ReadBodyText(int maxChunks = 0);
    // The body decoded as UTF-8 into the system code page, whatever charset it declares.
    Text ReadBodyTextUtf8(int maxChunks = 0);
    // The same text kept in UTF-8.
    SystemUtf8 ReadBodyUtf8(int maxChunks = 0);

    // The status code of the last response of the exchange; 0 when none arrived.
    int ResponseStatus() const;
    Text GetResponseHeader(const Text& name);
    // The raw header text of the final response: status line, header lines, empty line, CR LF.
    Text GetResponseHeaders();
    Text GetRedirectUrl();
    Text ResolveLocation() const;

    // The cookie jar (one for every host the client talks to).
    bool AddCookies(const Text& text);
    bool RemoveCookies(const Text& text);
    Text GetCookie(const Text& name, bool withName = false) const;
    Text GetCookies() const;
    // An empty text empties the jar.
    void SetCookies(const Text& text);
    // From now on this client keeps its cookies in `jar` (nullptr: a jar of its own again,
    // empty), which other clients may share: each cookie method, each request's Cookie line
    // and each response's Set-Cookie lines go to it. Open and Close end the sharing.
    void ShareCookieJar(std::shared_ptr<SharedCookieJar> jar);

    // Requests of this client from now on obey `control` (nullptr: none). While it is paused a
    // request waits before it starts and a transfer in flight moves no bytes; when it is stopped
    // no request goes out and the one in flight ends within milliseconds, failing, with an empty
    // body. The client stays usable either way. Like every method, not while an exchange runs.
    void SetTransferControl(std::shared_ptr<TransferControl> control);

    // Splits a URL without touching a client; nullopt for an empty url.
    static std::optional<UrlParts> ParseUrl(std::string_view url);
    // True when a redirect from `from` to `to` stays with the same server (host in any letter
    // case, and port) and does not drop from https to http. Only such a hop carries the Cookie
    // line and the caller's Authorization-like lines.
    static bool RedirectKeepsOrigin(const UrlParts& from, const UrlParts& to);
    // The Location of a response header block made absolute against the URL it answered; empty
    // when there is none. ResolveLocation() is this for the last exchange.
    static Text ResolveLocation(std::string_view responseHeaders, std::string_view requestUrl);
    // UTF-8 bytes to system-code-page text; malformed input becomes replacement characters.
    static Text Utf8ToAnsi(const Bytes& bytes);

    struct Session;
    class Transfer;

private:
    // Drives GETs of clients hop by hop, through the steps SendHop takes (ExchangeLoop.h).
    friend class ExchangeLoop;

    struct Credentials {
        std::optional<Text> user;
        std::optional<Text> password;
        std::optional<Text> proxyUser;
        std::optional<Text> proxyPassword;
    };

    // keepsOrigin: every hop so far stayed with the first request's server and security, so
    // the Cookie line and the caller's credential lines go along. timeLeft: what the earlier
    // hops left of the request's deadline.
    bool SendHop(const Bytes& body, int mergeOption, int redirectsLeft, bool keepsOrigin,
                 std::chrono::milliseconds timeLeft);
    // A hop's steps. PrepareHop composes the opened request's transfer (false: none can be
    // sent); PrepareRetry makes it again for a connection of its own; TakeHopResponse keeps
    // what the transfer brought and answers whether it is a redirect to follow; OpenRedirect
    // opens the redirect's GET (false: it cannot be), narrowing keepsOrigin and timeLeft for it;
    // EndHop clears the request's lines once the exchange is over.
    bool PrepareHop(const Bytes& body, bool keepsOrigin, std::chrono::milliseconds timeLeft,
                    TransferSetup& setup);
    void PrepareRetry(TransferSetup& setup);
    bool TakeHopResponse(bool responded, int mergeOption);
    bool OpenRedirect(bool& keepsOrigin, std::chrono::milliseconds& timeLeft);
    void EndHop();
    // The bytes of body that ReadBody(maxChunks) reads at most.
    static std::size_t BodyLimit(int maxChunks);
    const Bytes& LoadBody(int maxChunks);
    void MergeResponseCookies(int mergeOption);
    void AppendStandardHeaders();
    // withCookies: the jar's Cookie line goes along.
    Text ComposeRequestHeaders(std::size_t bodySize, bool withCookies) const;
    // "Cookie: " and the jar's cookies, CR LF ended; empty for an empty jar. Line breaks put into
    // a cookie go out as blanks, as in every other header value.
    Text CookieLine() const;
    // Runs `use` over the jar this client keeps its cookies in, to change it or to read it.
    template <typename Use>
    auto WithJar(Use use);
    template <typename Use>
    auto ReadJar(Use use) const;
    // Folds a response's Set-Cookie lines into the jar.
    void MergeIntoJar(std::string_view headers, int mergeOption);
    // Drops the caller's Authorization-like lines from the pending block.
    void RemoveCredentialLines();
    void ClearAddedFlags();
    void MarkStandardHeader(const Text& key);
    void AppendHeaderLine(std::string_view prefix, std::string_view value);
    void PlaceHeaderLine(const Text& prefix, const Text& value);
    void SetStandardValue(Text& field, bool& added, const Text& prefix, const Text& value);

    // The transport: easy and multi handles plus session-wide options; none after Close.
    std::unique_ptr<Session> sessionHandle;
    // The opened request's credentials, present from OpenRequest until the next one.
    std::optional<Credentials> requestCredentials;
    // The request opened by OpenRequest and its transfer, until the next one.
    std::unique_ptr<Transfer> requestHandle;
    bool followRedirects = false;
    bool httpDecoding = false;
    Text scheme;
    Text host;
    int port = 0;
    Text currentUrl;
    Text headerBlock;
    Bytes responseBody;
    Text responseHeaders;
    Text cookieJar;
    // When set, the jar in place of cookieJar.
    std::shared_ptr<SharedCookieJar> sharedJar;
    bool cookiesMerged = false;
    bool autoHeaders = false;
    bool acceptAdded = false;
    Text accept;
    bool refererAdded = false;
    bool refererFixed = false;
    Text referer;
    bool acceptLanguageAdded = false;
    Text acceptLanguage;
    bool userAgentAdded = false;
    Text userAgent;
    bool contentTypeAdded = false;
    Text contentType;
    bool connectionAdded = false;
    Text connection;
    bool isPost = false;
    HttpError lastError = HttpError::kNone;
    // Body bytes of the transfer in flight, moved to responseBody when read; its size and
    // capacity are the read length and read capacity.
    Bytes readBuffer;
    std::shared_ptr<TransferControl> transferControl;
};

}  // namespace velmora
