// The response header block as libcurl hands it over line by line, and the cookie jar that
// folds its Set-Cookie lines in. Fields: header bytes, jar text, pairs to add, names to remove,
// a cookie name.

#include "FuzzInput.h"
#include "http/CookieJar.h"
#include "http/CurlTransport.h"

using velmora::Text;
using velmora::fuzz::Check;
namespace cookie_jar = velmora::cookie_jar;

namespace {

void CheckJar(const Text& jar, const char* after) {
    Check(jar.starts_with(velmora::kEmptyCookieJar), after);
}

// A change must not take a jar within the cap past it.
void CheckGrowth(std::size_t before, const Text& jar) {
    if (before <= velmora::kMaxCookieJarBytes) {
        Check(jar.size() <= velmora::kMaxCookieJarBytes, "jar stays within its cap");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velmora::fuzz::FuzzInput input(data, size);
    const std::string_view received = input.Text();

    velmora::HttpClient::Transfer transfer("GET", velmora::UrlParts{});
    for (std::string_view rest = received; !rest.empty();) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end == std::string_view::npos ? end : end + 1);
        rest.remove_prefix(line.size());
        if (transfer.OnHeader(line.data(), line.size()) != line.size()) break;
    }
    const Text& headers = transfer.ResponseHeaders();
    if (!headers.empty()) {
        Check(headers.starts_with("HTTP/") && headers.ends_with("\r\n\r\n"), "one whole block");
        Check(headers.size() <= velmora::kMaxResponseHeaderBytes, "block within its cap");
    }

    Text jar = cookie_jar::JarFromText(input.Text());
    CheckJar(jar, "jar from text");
    std::size_t before = jar.size();
    cookie_jar::MergeSetCookies(jar, headers);
    cookie_jar::MergeSetCookies(jar, received);
    CheckJar(jar, "jar after merging");
    CheckGrowth(before, jar);
    before = jar.size();
    cookie_jar::AddCookies(jar, input.Text());
    cookie_jar::RemoveCookies(jar, input.Text());
    CheckJar(jar, "jar after adding and removing");
    CheckGrowth(before, jar);
    const Text value = cookie_jar::GetCookie(jar, input.Text(), input.Flag());
    Check(value.size() <= jar.size(), "a cookie is part of its jar");
    const Text line = cookie_jar::CookieLineValue(jar);
    Check(line.size() <= jar.size(), "the Cookie line is part of the jar");
    return 0;
}
