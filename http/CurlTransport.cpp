#include "http/CurlTransport.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <utility>

#include "http/TransferControl.h"
#include "platform/Sockets.h"

namespace velmora {
namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

bool IsHostChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' || c == '_';
}

// A DNS name, an IPv4 address, or an IPv6 literal in brackets. Anything else (a query string
// left in the host by a URL without a path, spaces, "@") never reaches the connection.
bool IsValidHost(std::string_view host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        return std::all_of(host.begin() + 1, host.end() - 1, [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.';
        });
    }
    return !host.empty() && std::all_of(host.begin(), host.end(), IsHostChar);
}

constexpr int kMaxPort = 65535;

// The request line must stay one line: control bytes and spaces in a path become %XX, every
// other byte goes out as it is.
std::string EscapeRequestTarget(std::string_view path) {
    std::string target;
    target.reserve(path.size());
    for (char c : path) {
        auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            target += escaped;
        } else {
            target += c;
        }
    }
    return target;
}

// libcurl drops a custom header whose value is empty (that is how its own headers are
// removed); "Name;" is its way of sending "Name:" with no value.
std::string HeaderLineForCurl(std::string_view line) {
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::string(line);
    std::string_view value = line.substr(colon + 1);
    bool blank = std::all_of(value.begin(), value.end(),
                             [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
    if (!blank) return std::string(line);
    return std::string(line.substr(0, colon)) + ";";
}

curl_slist* BuildHeaderList(const TransferSetup& setup, std::string_view verb, bool viaProxy) {
    curl_slist* list = nullptr;
    bool hasAccept = false;
    bool hasContentType = false;
    std::string_view text = setup.headerText;
    while (!text.empty()) {
        std::size_t end = text.find("\r\n");
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 2);
        if (line.empty()) continue;
        hasAccept = hasAccept || StartsWithNoCase(line, "Accept:");
        hasContentType = hasContentType || StartsWithNoCase(line, "Content-Type:");
        list = curl_slist_append(list, HeaderLineForCurl(line).c_str());
    }
    // Empty values remove libcurl's own lines, so the request carries ours only.
    if (!hasAccept) list = curl_slist_append(list, "Accept:");
    list = curl_slist_append(list, "Expect:");
    if (verb == "POST" && !hasContentType) list = curl_slist_append(list, "Content-Type:");
    if (viaProxy) list = curl_slist_append(list, "Proxy-Connection:");
    return list;
}

size_t HeaderCallback(char* data, size_t size, size_t count, void* transfer) {
    return static_cast<HttpClient::Transfer*>(transfer)->OnHeader(data, size * count);
}

size_t BodyCallback(char* data, size_t size, size_t count, void* transfer) {
    return static_cast<HttpClient::Transfer*>(transfer)->OnBody(data, size * count);
}

curl_socket_t OpenSessionSocket(void* pool, curlsocktype, curl_sockaddr* address) {
    const SocketHandle opened = OpenSocket(address->family, address->socktype, address->protocol);
    if (opened == kNoSocket) return CURL_SOCKET_BAD;
    const auto socket = static_cast<curl_socket_t>(opened);
    static_cast<SocketPool*>(pool)->sockets.push_back(socket);
    return socket;
}

int CloseSessionSocket(void* pool, curl_socket_t socket) {
    auto& sockets = static_cast<SocketPool*>(pool)->sockets;
    sockets.erase(std::remove(sockets.begin(), sockets.end(), socket), sockets.end());
    return CloseSocket(static_cast<SocketHandle>(socket)) ? 0 : 1;
}

// The failure a libcurl result stands for. `easy` still holds the ended transfer's details: a
// time-out before the connection was made (for https, its handshake done) is a connect time-out.
HttpError ErrorOf(CURLcode result, CURL* easy, bool secure) {
    switch (result) {
        case CURLE_OK:
            return HttpError::kNone;
        case CURLE_FAILED_INIT:
            return HttpError::kNotOpen;
        case CURLE_URL_MALFORMAT:
            return HttpError::kInvalidRequest;
        // Only http and https URLs are ever asked for: libcurl says this of a reply that does
        // not begin as HTTP (it takes it for HTTP/0.9).
        case CURLE_UNSUPPORTED_PROTOCOL:
            return HttpError::kBadResponse;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return HttpError::kHostNotResolved;
        case CURLE_COULDNT_CONNECT: {
            long osError = 0;
            curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osError);
            return IsConnectionRefused(osError) ? HttpError::kConnectionRefused
                                                : HttpError::kNoRoute;
        }
        case CURLE_OPERATION_TIMEDOUT: {
            curl_off_t connected = 0;
            curl_easy_getinfo(easy, secure ? CURLINFO_APPCONNECT_TIME_T : CURLINFO_CONNECT_TIME_T,
                              &connected);
            return connected > 0 ? HttpError::kTimeout : HttpError::kConnectTimeout;
        }
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_CLIENTCERT:
        case CURLE_USE_SSL_FAILED:
            return HttpError::kTlsFailure;
        case CURLE_ABORTED_BY_CALLBACK:
            return HttpError::kStopped;
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:
            return HttpError::kConnectionLost;
        default:
            return HttpError::kBadResponse;
    }
}

// Every option but those each request sets for itself (URL, request target, header lines,
// the POST body and the callbacks' data).
void ConfigureHandle(HttpClient::Session& session, const HandleSetup& setup) {
    CURL* easy = session.easy;
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_MAXAGE_CONN, kMaxConnectionAgeSeconds);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(setup.connectTimeout.count()));
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    // An empty proxy means direct, whatever http_proxy in the environment says.
    curl_easy_setopt(easy, CURLOPT_PROXY, setup.proxy.c_str());
    if (!setup.proxy.empty()) {
        curl_easy_setopt(easy, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
        curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        if (setup.proxyUser)
            curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, setup.proxyUser->c_str());
        if (setup.proxyPassword) {
            curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, setup.proxyPassword->c_str());
        }
    }
    if (setup.user || setup.password) {
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
        if (setup.user) curl_easy_setopt(easy, CURLOPT_USERNAME, setup.user->c_str());
        if (setup.password) curl_easy_setopt(easy, CURLOPT_PASSWORD, setup.password->c_str());
    }
    if (setup.decoding) {
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    }

    if (setup.verb == "GET") {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (setup.verb == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (setup.verb == "POST") {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, setup.verb.c_str());
    }

    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, HeaderCallback);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, BodyCallback);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, OpenSessionSocket);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, CloseSessionSocket);
}

}  // namespace

// curl_global_init is not safe to race with other libcurl calls; a function-local static runs
// it exactly once, before the first handle of the process exists.
bool InitialiseCurlOnce() {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return initialised;
}

int StatusOfLine(std::string_view statusLine) {
    std::size_t space = statusLine.find(' ');
    if (space == std::string_view::npos) return 0;
    int status = 0;
    for (std::size_t i = space + 1; i < statusLine.size() && i < space + 4; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(statusLine[i]))) return 0;
        status = status * 10 + (statusLine[i] - '0');
    }
    return status;
}

HttpClient::Session::Session() {
    if (!InitialiseCurlOnce()) return;
    easy = curl_easy_init();
    multi = curl_multi_init();
    if (multi != nullptr) {
        curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, kDefaultConnectionsPerServer);
    }
}

HttpClient::Session::~Session() {
    if (multi != nullptr) curl_multi_cleanup(multi);
    if (easy != nullptr) curl_easy_cleanup(easy);
}

void SocketPool::ShutDownIdleWithInput(const std::vector<curl_socket_t>& inUse) const {
    for (curl_socket_t socket : sockets) {
        if (std::find(inUse.begin(), inUse.end(), socket) != inUse.end()) continue;
        const auto handle = static_cast<SocketHandle>(socket);
        if (HasInputOrHangUp(handle)) ShutDownSocket(handle);
    }
}

HttpClient::Transfer::Transfer(Text verb, UrlParts target)
    : verb_(std::move(verb)), target_(std::move(target)) {}

HttpClient::Transfer::~Transfer() {
    Abandon();
    curl_slist_free_all(headerList_);
}

bool HttpClient::Transfer::Prepare(Session& session, const TransferSetup& setup, Bytes& sink) {
    session_ = &session;
    sink_ = &sink;
    limit_ = kMaxBodyBytes;
    timeAllowed_ = setup.timeLeft;
    if (session.easy == nullptr || session.multi == nullptr) {
        Finish(CURLE_FAILED_INIT);
        return false;
    }
    if (!IsValidHost(target_.host) || target_.port > kMaxPort) {
        Finish(CURLE_URL_MALFORMAT);
        return false;
    }
    CURL* easy = session.easy;
    const bool viaProxy = !session.proxy.empty();
    HandleSetup wanted{verb_,          session.proxy,         setup.user,
                       setup.password, setup.proxyUser,       setup.proxyPassword,
                       setup.decoding, session.connectTimeout};
    if (session.configured != wanted) {
        // Anything set for another kind of request goes; a handle kept for requests of one
        // kind only changes what each request has of its own.
        curl_easy_reset(easy);
        ConfigureHandle(session, wanted);
        session.configured = std::move(wanted);
    }

    connectUrl_ = target_.scheme + target_.host + ":" + std::to_string(target_.port) + "/";
    // A plain-HTTP proxy wants the absolute form; everything else the path as composed.
    requestTarget_ = EscapeRequestTarget(target_.path);
    if (viaProxy && target_.scheme == "http://") {
        requestTarget_ = connectUrl_.substr(0, connectUrl_.size() - 1) + requestTarget_;
    }
    curl_easy_setopt(easy, CURLOPT_URL, connectUrl_.c_str());
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, setup.freshConnection ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_REQUEST_TARGET, requestTarget_.c_str());
    if (verb_ == "POST") {
        requestBody_ = setup.body;
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(requestBody_.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, requestBody_.data());
    }
    headerList_ = BuildHeaderList(setup, verb_, viaProxy);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList_);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, session.sockets);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, session.sockets);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, this);
    return true;
}

bool HttpClient::Transfer::Start(Session& session, const TransferSetup& setup, Bytes& sink,
                                 TransferControl* control) {
    if (!Prepare(session, setup, sink)) return false;
    // No transfer of this session runs now, so every connection it holds is idle.
    session.sockets->ShutDownIdleWithInput();
    multi_ = session.multi;
    if (curl_multi_add_handle(multi_, session.easy) != CURLM_OK) {
        Finish(CURLE_FAILED_INIT);
        return false;
    }
    attached_ = true;
    Drive(Phase::kHeaders, control);
    return Responded();
}

bool HttpClient::Transfer::Attach(Session& session, const TransferSetup& setup, Bytes& sink,
                                  std::size_t limit, CURLM* multi) {
    if (!Prepare(session, setup, sink)) return false;
    limit_ = limit;
    multi_ = multi;
    if (curl_multi_add_handle(multi_, session.easy) != CURLM_OK) {
        Finish(CURLE_FAILED_INIT);
        return false;
    }
    attached_ = true;
    RestartTimeKeeping();
    return true;
}

bool HttpClient::Transfer::Responded() {
    if (!headersDone_ || stopped_) {
        finalHeaders_.clear();
        return false;
    }
    return true;
}

void HttpClient::Transfer::Stop() {
    Abandon();
    stopped_ = true;
}

TransferOutcome HttpClient::Transfer::ReadRest(std::size_t limit, TransferControl* control) {
    if (!Started()) return TransferOutcome::kFailed;
    limit_ = limit;
    TransferOutcome outcome = OutcomeOfResult();
    if (!finished_ && sink_->size() < limit_) outcome = Drive(Phase::kBody, control);
    if (outcome == TransferOutcome::kFailed || outcome == TransferOutcome::kStopped) {
        if (sink_->size() < limit_) return outcome;
    }
    if (sink_->size() >= limit_) {
        sink_->resize(limit_);
        if (!finished_) Abandon();
        return TransferOutcome::kTruncated;
    }
    return outcome;
}

void HttpClient::Transfer::Abandon() {
    if (!attached_) return;
    curl_multi_remove_handle(multi_, session_->easy);
    attached_ = false;
    if (!finished_) {
        finished_ = true;
        result_ = CURLE_ABORTED_BY_CALLBACK;
        error_ = HttpError::kStopped;
    }
}

std::size_t HttpClient::Transfer::OnHeader(const char* data, std::size_t size) {
    // Trailers of a chunked body, and anything else after the body began, are not headers.
    if (bodyStarted_) return size;
    headerBytes_ += size;
    std::string_view line(data, size);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.starts_with("HTTP/")) {
        pendingHeaders_.clear();
        inHeaderBlock_ = true;
    }
    if (!inHeaderBlock_) return size;
    if (pendingHeaders_.size() + line.size() + 2 > kMaxResponseHeaderBytes) {
        return 0;
    }
    pendingHeaders_.append(line).append("\r\n");
    if (line.empty()) {
        inHeaderBlock_ = false;
        finalHeaders_ = pendingHeaders_;
        // An authentication challenge may be answered within the same transfer, and an interim
        // 1xx block is always followed by another; either way the block is not final yet.
        int status =
            StatusOfLine(std::string_view(finalHeaders_).substr(0, finalHeaders_.find("\r\n")));
        if (status >= 200 && status != 401 && status != 407) headersDone_ = true;
    }
    return size;
}

std::size_t HttpClient::Transfer::OnBody(const char* data, std::size_t size) {
    if (!bodyStarted_) ReserveBody();
    bodyStarted_ = true;
    headersDone_ = true;
    bodyBytes_ += size;
    std::size_t room = limit_ > sink_->size() ? limit_ - sink_->size() : 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    if (size > room) {
        sink_->insert(sink_->end(), bytes, bytes + room);
        limitReached_ = true;
        return 0;  // ends the transfer; the bytes up to the limit are kept
    }
    sink_->insert(sink_->end(), bytes, bytes + size);
    return size;
}

void HttpClient::Transfer::ReserveBody() {
    curl_off_t length = -1;
    if (curl_easy_getinfo(session_->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) !=
            CURLE_OK ||
        length <= 0) {
        return;
    }
    const std::size_t room =
        std::min({static_cast<std::size_t>(length), limit_, kMaxBodyReserveBytes});
    if (room > sink_->size()) sink_->reserve(room);
}

bool HttpClient::Transfer::PhaseDone(Phase phase) const {
    if (finished_) return true;
    return phase == Phase::kHeaders ? headersDone_ : sink_->size() >= limit_;
}

std::uint64_t HttpClient::Transfer::BytesMoved() const {
    curl_off_t uploaded = 0;
    curl_easy_getinfo(session_->easy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    return headerBytes_ + bodyBytes_ + static_cast<std::uint64_t>(uploaded);
}

std::chrono::milliseconds HttpClient::Transfer::ActiveTime() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(activeTime_);
}

// Checked as each window of active time closes: too few bytes in it fail the transfer. The
// first window opens with the first response byte; until then the connection may still be in
// the making, which the connect and stall time-outs bound.
bool HttpClient::Transfer::TooSlow(std::uint64_t moved) {
    if (headerBytes_ == 0) {
        windowStart_ = activeTime_;
        windowStartBytes_ = moved;
        return false;
    }
    if (activeTime_ - windowStart_ < session_->lowSpeedWindow) return false;
    const std::uint64_t floor = session_->lowSpeedBytesPerSecond *
                                static_cast<std::uint64_t>(session_->lowSpeedWindow.count()) / 1000;
    if (moved - windowStartBytes_ < floor) return true;
    windowStart_ = activeTime_;
    windowStartBytes_ = moved;
    return false;
}

std::chrono::milliseconds HttpClient::Transfer::StallLimit() const {
    curl_off_t uploaded = 0;
    curl_easy_getinfo(session_->easy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    bool sending = static_cast<std::size_t>(uploaded) < requestBody_.size();
    auto stall = sending ? session_->sendStallTimeout : session_->receiveStallTimeout;
    // Before the first response byte the connection may still be in the making.
    return headerBytes_ == 0 ? session_->connectTimeout + stall : stall;
}

void HttpClient::Transfer::CollectFinished() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == session_->easy) {
            Finish(message->data.result);
        }
    }
}

void HttpClient::Transfer::Finish(CURLcode result) {
    Abandon();
    finished_ = true;
    result_ = result;
    error_ = ErrorOf(result, session_->easy, target_.scheme == "https://");
    if (result == CURLE_OK && !finalHeaders_.empty()) headersDone_ = true;
    long connectionsMade = 0;
    curl_easy_getinfo(session_->easy, CURLINFO_NUM_CONNECTS, &connectionsMade);
    reusedConnection_ = connectionsMade == 0;
}

bool HttpClient::Transfer::MayRetryOnFreshConnection() const {
    // libcurl itself sends again a request whose kept-alive connection closed without a byte;
    // a reply that does not begin as HTTP it takes for a failure of the server.
    return verb_ == "GET" && finished_ && reusedConnection_ && !stopped_ && headerBytes_ == 0 &&
           (error_ == HttpError::kConnectionLost || error_ == HttpError::kBadResponse);
}

TransferOutcome HttpClient::Transfer::OutcomeOfResult() const {
    if (!finished_ || result_ == CURLE_OK) return TransferOutcome::kComplete;
    // A stop in the header phase is read back as a stop when the body is asked for.
    if (stopped_) return TransferOutcome::kStopped;
    if (result_ == CURLE_WRITE_ERROR && limitReached_) return TransferOutcome::kTruncated;
    return TransferOutcome::kFailed;
}

void HttpClient::Transfer::RestartTimeKeeping() {
    lastMoved_ = BytesMoved();
    lastProgress_ = lastTick_ = std::chrono::steady_clock::now();
}

std::optional<std::chrono::milliseconds> HttpClient::Transfer::KeepTime() {
    using std::chrono::milliseconds;
    const auto now = std::chrono::steady_clock::now();
    activeTime_ += now - lastTick_;
    lastTick_ = now;
    const std::uint64_t moved = BytesMoved();
    if (moved != lastMoved_) {
        lastMoved_ = moved;
        lastProgress_ = now;
    }
    const auto stalled = std::chrono::duration_cast<milliseconds>(now - lastProgress_);
    const auto limit = StallLimit();
    if (stalled >= limit || TooSlow(moved) || activeTime_ >= timeAllowed_) {
        Finish(CURLE_OPERATION_TIMEDOUT);
        return std::nullopt;
    }
    // Woken in time for whichever bound comes first.
    return std::min(
        {kMaxPollWait, limit - stalled,
         std::chrono::duration_cast<milliseconds>(timeAllowed_ - activeTime_) + milliseconds(1),
         std::chrono::duration_cast<milliseconds>(windowStart_ + session_->lowSpeedWindow -
                                                  activeTime_) +
             milliseconds(1)});
}

TransferOutcome HttpClient::Transfer::Drive(Phase phase, TransferControl* control) {
    std::optional<TransferControl::Subscription> wakeOnChange;
    if (control != nullptr) {
        CURLM* multi = multi_;
        wakeOnChange.emplace(*control, [multi] { curl_multi_wakeup(multi); });
    }
    RestartTimeKeeping();
    while (!PhaseDone(phase)) {
        if (control != nullptr) {
            if (control->IsPaused()) {
                activeTime_ += std::chrono::steady_clock::now() - lastTick_;
                if (!control->WaitWhilePaused()) break;
                // Paused time is neither a stall nor part of the deadline.
                RestartTimeKeeping();
            }
            if (control->IsStopped()) break;
        }
        int running = 0;
        curl_multi_perform(multi_, &running);
        CollectFinished();
        if (PhaseDone(phase)) break;
        const std::optional<std::chrono::milliseconds> wait = KeepTime();
        if (!wait) return TransferOutcome::kFailed;
        curl_multi_poll(multi_, nullptr, 0, static_cast<int>(wait->count()), nullptr);
    }
    if (control != nullptr && control->IsStopped() && !finished_) {
        Stop();
        return TransferOutcome::kStopped;
    }
    return OutcomeOfResult();
}

}  // namespace velmora
