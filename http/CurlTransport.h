#pragma once
// The transport under HttpClient: libcurl, one easy handle per client reused for every request
// (so a keep-alive connection serves the next request to the same host), driven through the
// client's own multi handle so that another thread can wake it to pause or stop.
// Private to http/.

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/HttpClient.h"
#include "http/HttpError.h"

namespace velmora {

// A hostile server must not exhaust memory; no page of a directory site comes near this.
inline constexpr std::size_t kMaxBodyBytes = std::size_t{64} << 20;
// A body's Content-Length is the server's word: room for the body is set aside up front up to
// this size only (a directory page is well within it), beyond it the buffer grows as bytes come.
inline constexpr std::size_t kMaxBodyReserveBytes = std::size_t{1} << 20;
// Far above any real header block; bounds what a hostile server makes us hold and scan.
inline constexpr std::size_t kMaxResponseHeaderBytes = std::size_t{64} << 10;
// A redirect chain that loops must end somewhere; real sites need a handful of hops.
inline constexpr int kMaxRedirects = 20;
// A redirect's body is read and dropped up to this size so its connection serves the next hop.
inline constexpr std::size_t kRedirectDrainBytes = std::size_t{64} << 10;
// Unset time-outs never let a request hang: connecting, and no byte moving while not paused.
inline constexpr std::chrono::milliseconds kDefaultConnectTimeout{20000};
inline constexpr std::chrono::milliseconds kDefaultStallTimeout{30000};
// A transfer that moves fewer bytes than this a second, averaged over a whole window, fails: a
// server trickling a byte or a header line a second never trips the stall time-out and would
// hold a search for hours. Slow but working links move far more; a whole company page is
// about 30 KB.
inline constexpr std::size_t kDefaultLowSpeedBytesPerSecond = 1024;
inline constexpr std::chrono::milliseconds kDefaultLowSpeedWindow{30000};
// No request lasts longer than this, its redirects and its body included: at the low-speed
// floor a 100 KB result page arrives in under two minutes.
inline constexpr std::chrono::milliseconds kDefaultRequestDeadline{180000};
// Longest sleep in the poll, so that time-outs are checked even when nothing wakes us.
inline constexpr std::chrono::milliseconds kMaxPollWait{1000};
// An idle pooled connection older than this is not reused (servers drop idle ones).
inline constexpr long kMaxConnectionAgeSeconds = 60;
inline constexpr long kDefaultConnectionsPerServer = 50;

// What the easy handle is set up for: requests alike in all of it differ only in their URL,
// header lines, POST body and callbacks' data.
struct HandleSetup {
    Text verb;
    Text proxy;
    std::optional<Text> user;
    std::optional<Text> password;
    std::optional<Text> proxyUser;
    std::optional<Text> proxyPassword;
    bool decoding = false;
    std::chrono::milliseconds connectTimeout{};

    bool operator==(const HandleSetup&) const = default;
};

// Sockets libcurl opened and has not closed: the pooled connections of one session, or of
// every client an ExchangeLoop drives.
struct SocketPool {
    std::vector<curl_socket_t> sockets;
    // A pooled connection on which bytes arrived while idle (or whose peer closed it) is shut
    // down, so that libcurl drops it instead of reading those bytes as the next answer. The
    // sockets of `inUse` serve a transfer now and are left alone.
    void ShutDownIdleWithInput(const std::vector<curl_socket_t>& inUse = {}) const;
};

struct HttpClient::Session {
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    std::chrono::milliseconds connectTimeout = kDefaultConnectTimeout;
    std::chrono::milliseconds sendStallTimeout = kDefaultStallTimeout;
    std::chrono::milliseconds receiveStallTimeout = kDefaultStallTimeout;
    std::size_t lowSpeedBytesPerSecond = kDefaultLowSpeedBytesPerSecond;
    std::chrono::milliseconds lowSpeedWindow = kDefaultLowSpeedWindow;
    std::chrono::milliseconds requestDeadline = kDefaultRequestDeadline;
    Text proxy;  // empty: direct, whatever the environment says
    // What the easy handle was last set up for; none before the first request.
    std::optional<HandleSetup> configured;

    // The pool new connections join: the session's own, or an ExchangeLoop's while it drives
    // the session's transfers on its multi handle.
    SocketPool ownSockets;
    SocketPool* sockets = &ownSockets;
};

// What one request sends; built by the exchange, handed to the transport as is.
struct TransferSetup {
    Text headerText;  // the composed lines, each ended by CR LF
    Bytes body;       // sent only with POST
    bool decoding = false;
    std::optional<Text> user;
    std::optional<Text> password;
    std::optional<Text> proxyUser;
    std::optional<Text> proxyPassword;
    // What is left of the request's deadline: earlier hops of a redirect chain used the rest.
    std::chrono::milliseconds timeLeft = kDefaultRequestDeadline;
    // On a connection of its own, never one kept from an earlier request.
    bool freshConnection = false;
};

// libcurl's global set-up, once for the process, before any handle: false when it failed.
bool InitialiseCurlOnce();

// The status code of a response's status line; 0 when it has none.
int StatusOfLine(std::string_view statusLine);

enum class TransferOutcome {
    kComplete,   // the response ended normally
    kTruncated,  // the body reached the byte limit asked for; the bytes up to it are kept
    kFailed,     // connection, protocol or time-out failure
    kStopped,    // the control stopped it
};

class HttpClient::Transfer {
public:
    Transfer(Text verb, UrlParts target);
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    const Text& Verb() const { return verb_; }
    const UrlParts& Target() const { return target_; }
    bool Started() const { return session_ != nullptr; }

    // Sends the request and runs until the final response's header block is complete (or the
    // transfer ends). Body bytes that arrive meanwhile go to `sink`. False: no response.
    bool Start(Session& session, const TransferSetup& setup, Bytes& sink, TransferControl* control);
    // Hands the request to `multi`, whose owner drives it: up to `limit` body bytes go to
    // `sink`, and the owner calls Completed when libcurl has finished it and KeepTime as it
    // waits. False: it could not start, and has failed.
    bool Attach(Session& session, const TransferSetup& setup, Bytes& sink, std::size_t limit,
                CURLM* multi);
    void Completed(CURLcode result) { Finish(result); }
    // Whether a final response came, as Start answers it, once the transfer has ended.
    bool Responded();
    // Moves the time-keeping on to now: fails the transfer when it stalled, crawled or ran out
    // of time (nothing), else answers how long the owner may wait before the next check.
    std::optional<std::chrono::milliseconds> KeepTime();
    // Time-keeping starts over from now: the time since was not the transfer's to use.
    void RestartTimeKeeping();
    // Ends the transfer as a stop does.
    void Stop();
    // The final response's header block in CR LF form; empty when none arrived.
    const Text& ResponseHeaders() const { return finalHeaders_; }
    // Runs until the body is complete or `sink` holds `limit` bytes.
    TransferOutcome ReadRest(std::size_t limit, TransferControl* control);
    // Ends the transfer if it still runs; an unfinished one takes its connection with it.
    void Abandon();
    // Why the transfer failed; kNone while it has not.
    HttpError Error() const { return error_; }
    // Time spent driving the transfer, paused time left out.
    std::chrono::milliseconds ActiveTime() const;
    // A GET that went on a kept-alive connection and got no response from it, the connection
    // closed or reset before the first byte or answered with bytes that are not HTTP: the
    // server most likely dropped or garbled an idle connection, and a browser would send the
    // request once more on a connection of its own.
    bool MayRetryOnFreshConnection() const;

    // libcurl callbacks.
    std::size_t OnHeader(const char* data, std::size_t size);
    std::size_t OnBody(const char* data, std::size_t size);

private:
    enum class Phase { kHeaders, kBody };
    // Sets the easy handle up for this request; false, failed, when it cannot be sent.
    bool Prepare(Session& session, const TransferSetup& setup, Bytes& sink);
    TransferOutcome Drive(Phase phase, TransferControl* control);
    // Room in the sink for the body its Content-Length announces, before its first bytes.
    void ReserveBody();
    bool PhaseDone(Phase phase) const;
    std::chrono::milliseconds StallLimit() const;
    bool TooSlow(std::uint64_t moved);
    std::uint64_t BytesMoved() const;
    void CollectFinished();
    // Ends the transfer with `result`, noting why it failed if it did.
    void Finish(CURLcode result);
    TransferOutcome OutcomeOfResult() const;

    Text verb_;
    UrlParts target_;
    Session* session_ = nullptr;
    CURLM* multi_ = nullptr;  // the multi handle driving it
    bool attached_ = false;
    bool finished_ = false;
    CURLcode result_ = CURLE_OK;
    HttpError error_ = HttpError::kNone;
    bool headersDone_ = false;
    bool bodyStarted_ = false;
    bool limitReached_ = false;
    bool stopped_ = false;           // the control stopped it
    bool reusedConnection_ = false;  // no connection was made for it: a pooled one served it
    bool inHeaderBlock_ = false;
    Text pendingHeaders_;
    Text finalHeaders_;
    std::uint64_t headerBytes_ = 0;
    std::uint64_t bodyBytes_ = 0;
    Bytes* sink_ = nullptr;
    std::size_t limit_ = kMaxBodyBytes;
    std::chrono::steady_clock::duration timeAllowed_{};
    std::chrono::steady_clock::duration activeTime_{};
    // The stall clock: bytes moved at the last check, when they last moved, the last check.
    std::uint64_t lastMoved_ = 0;
    std::chrono::steady_clock::time_point lastProgress_{};
    std::chrono::steady_clock::time_point lastTick_{};
    // The low-speed window running: when it began (in active time) and the bytes moved then.
    std::chrono::steady_clock::duration windowStart_{};
    std::uint64_t windowStartBytes_ = 0;
    curl_slist* headerList_ = nullptr;
    Bytes requestBody_;
    std::string connectUrl_;
    std::string requestTarget_;
};

}  // namespace velmora
