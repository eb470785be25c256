// URL parsing and Location resolution. Fields: url, Location value, raw header text.

#include "FuzzInput.h"
#include "http/HttpClient.h"

using velmora::HttpClient;
using velmora::Text;
using velmora::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velmora::fuzz::FuzzInput input(data, size);
    const std::string_view url = input.Text();
    const std::string_view location = input.Text();
    const std::string_view rawHeaders = input.Text();

    const std::optional<velmora::UrlParts> parts = HttpClient::ParseUrl(url);
    Check(parts.has_value() == !url.empty(), "only the empty url has no parts");
    if (parts) {
        Check(parts->scheme == "http://" || parts->scheme == "https://", "scheme");
        Check(!parts->path.empty() && parts->path.front() == '/', "path begins with /");
        Check(parts->port > 0 && parts->port <= 65536, "port in range");
        Check(parts->host.size() <= url.size(), "host inside the url");
    }

    const Text headers = "HTTP/1.1 302 Found\r\nLocation:" + Text(location) + "\r\n\r\n";
    const Text resolved = HttpClient::ResolveLocation(headers, url);
    if (!resolved.empty()) Check(HttpClient::ParseUrl(resolved).has_value(), "resolved parses");
    static_cast<void>(HttpClient::ResolveLocation(rawHeaders, url));
    return 0;
}
