#pragma once
// The sample site's HTTP/1.1 framing: what a request head says and how an answer's status reads.
// Only tools/ includes it.

#include <cstddef>
#include <string>
#include <string_view>

#include "tools/SampleSite.h"

namespace velmora::site {

// An answer's status and body.
struct Response {
    int status = 200;
    std::string_view reason = "OK";
    std::string body;
};

// A request head as read, and what it asks of the connection.
struct ParsedHead {
    RecordedRequest request;
    bool keepAlive = true;
    std::size_t bodyBytes = 0;
    bool recordable = false;  // the request line and header lines could be read
    int refusal = 0;          // a status that answers the request instead of the site, then closes
};

// Reads a request head without its closing empty line.
ParsedHead ParseHead(std::string_view head);

// The reason phrase of a status the site sends.
std::string_view ReasonOf(int status);

}  // namespace velmora::site
