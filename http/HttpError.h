#pragma once
// Why a request failed, as a value with a text for each, so that a caller can tell a site that
// cannot be reached from one that answered badly.

namespace velmora {

enum class HttpError {
    kNone,               // the exchange went through
    kNotOpen,            // the client has no session
    kInvalidRequest,     // no usable host, port or verb
    kHostNotResolved,    // the host name has no address
    kConnectionRefused,  // nothing listens at the address
    kNoRoute,            // the address cannot be reached over the network
    kConnectTimeout,     // no connection (TLS handshake included) within the connect time-out
    kTlsFailure,         // the secure connection could not be set up or verified
    kTimeout,            // connected, but the response stalled, crawled or outran the deadline
    kConnectionLost,     // the connection broke before the response was complete
    kBadResponse,        // what came back cannot be read as an HTTP response
    kStopped,            // the transfer control stopped it
};

// A few plain Chinese words for the user (UTF-8), one text for each value.
const char* HttpErrorText(HttpError error);

// True when no connection to the server could be made at all, as opposed to one that was made
// and then failed or was stopped.
bool IsConnectFailure(HttpError error);

}  // namespace velmora
