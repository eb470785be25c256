// What the client makes of responses: the raw header block, the getters, redirect chains, and
// the URL splitting and Location resolution behind them.

#include <ostream>

#include "ClientFixture.h"

namespace velmora::testing {
namespace {

std::string Redirect(std::string_view location, std::string_view extraHeaders = {}) {
    return "HTTP/1.1 302 Found\r\nLocation: " + std::string(location) + "\r\n" +
           std::string(extraHeaders) + "Content-Length: 5\r\n\r\nmoved";
}

struct UrlCase {
    const char* name;
    const char* url;
    const char* scheme;
    const char* host;
    int port;
    const char* path;
};

void PrintTo(const UrlCase& c, std::ostream* out) {
    *out << c.url;
}

class ParseUrlTest : public ::testing::TestWithParam<UrlCase> {};

TEST_P(ParseUrlTest, SplitsSchemeHostPortAndPath) {
    const UrlCase& expected = GetParam();
    std::optional<UrlParts> parts = HttpClient::ParseUrl(expected.url);
    ASSERT_TRUE(parts.has_value());
    EXPECT_EQ(parts->scheme, expected.scheme);
    EXPECT_EQ(parts->host, expected.host);
    EXPECT_EQ(parts->port, expected.port);
    EXPECT_EQ(parts->path, expected.path);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseUrlTest,
    ::testing::Values(
        UrlCase{"NoScheme", "www.example.com/a", "http://", "www.example.com", 80, "/a"},
        UrlCase{"NoSchemeNoPath", "a.cn", "http://", "a.cn", 80, "/"},
        UrlCase{"UpperCaseHttps", "HTTPS://Secure.example/x", "https://", "Secure.example", 443,
                "/x"},
        UrlCase{"MixedCaseHttpNoPath", "Http://h.example", "http://", "h.example", 80, "/"},
        UrlCase{"ExplicitPort", "http://h.example:81/p", "http://", "h.example", 81, "/p"},
        // A port below 11 is the scheme's default port.
        UrlCase{"LowPortBecomes80", "http://h.example:5/p", "http://", "h.example", 80, "/p"},
        UrlCase{"ZeroPortOnHttps", "https://h.example:0/p", "https://", "h.example", 443, "/p"},
        UrlCase{"PortTenOnHttps", "https://h.example:10/p", "https://", "h.example", 443, "/p"},
        UrlCase{"NonNumericPort", "https://h.example:ab/p", "https://", "h.example", 443, "/p"},
        UrlCase{"PortElevenStays", "https://h.example:11/p", "https://", "h.example", 11, "/p"},
        UrlCase{"ColonInPath", "http://h.example/a:b/c", "http://", "h.example", 80, "/a:b/c"},
        UrlCase{"QueryStaysInHost", "http://h.example?q=1", "http://", "h.example?q=1", 80, "/"},
        UrlCase{"LongHostWithPort", "http://longhostname.example:8080/x", "http://",
                "longhostname.example", 8080, "/x"}),
    [](const ::testing::TestParamInfo<UrlCase>& testInfo) { return testInfo.param.name; });

TEST(ParseUrl, EmptyUrlFails) {
    EXPECT_FALSE(HttpClient::ParseUrl("").has_value());
}

class ResponseTest : public ClientTest {};

TEST_F(ResponseTest, HeaderBlockIsTheFinalOneInCrLfFormWithoutTrailers) {
    Serve([](const std::string& request, int) {
        if (request.starts_with("GET /interim ")) {
            return ScriptedReply{
                "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nX-A: 1\r\n"
                "Content-Length: 2\r\n\r\nok"};
        }
        if (request.starts_with("GET /bare-lf ")) {
            return ScriptedReply{"HTTP/1.1 404 Not Found\nX-B:  two\nContent-Length: 2\n\nno"};
        }
        return ScriptedReply{
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
            "2\r\nab\r\n0\r\nX-Trailer: t\r\n\r\n"};
    });
    ASSERT_TRUE(client.Get(Url("/interim")));
    EXPECT_EQ(client.GetResponseHeaders(),
              "HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Length: 2\r\n\r\n");
    EXPECT_EQ(client.ReadBodyTextUtf8(), "ok");

    // An error status is a response like any other.
    ASSERT_TRUE(client.Get(Url("/bare-lf")));
    EXPECT_EQ(client.GetResponseHeaders(),
              "HTTP/1.1 404 Not Found\r\nX-B:  two\r\nContent-Length: 2\r\n\r\n");
    EXPECT_EQ(client.GetResponseHeader("x-b"), "two");
    EXPECT_EQ(client.GetResponseHeader("X-Missing"), "");
    EXPECT_EQ(client.GetResponseHeader(""), "");
    EXPECT_EQ(client.ReadBodyTextUtf8(), "no");

    ASSERT_TRUE(client.Get(Url("/chunked")));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "ab");
    EXPECT_EQ(client.GetResponseHeaders(), "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
}

TEST_F(ResponseTest, OversizedHeaderBlockFailsTheRequest) {
    Serve([](const std::string&, int) {
        return ScriptedReply{OkReply("ok", "X-Big: " + std::string(70 * 1024, 'b') + "\r\n")};
    });
    EXPECT_FALSE(client.Get(Url("/")));
    EXPECT_EQ(client.GetResponseHeaders(), "");
    EXPECT_EQ(client.ReadBodyTextUtf8(), "");
}

struct RedirectCase {
    const char* name;
    const char* from;
    // "{base}" stands for http://127.0.0.1:<port>, "{server}" for 127.0.0.1:<port>.
    const char* location;
    const char* expectedTarget;
};

void PrintTo(const RedirectCase& c, std::ostream* out) {
    *out << c.from << " to " << c.location;
}

// `text` with "{base}" replaced by `base` and "{server}" by base's part after "http://".
std::string WithBase(std::string_view text, std::string_view base) {
    std::string result(text);
    for (const auto& [placeholder, value] :
         {std::pair{std::string_view("{base}"), base},
          std::pair{std::string_view("{server}"), base.substr(base.find("//") + 2)}}) {
        std::size_t at = result.find(placeholder);
        if (at != std::string::npos) result.replace(at, placeholder.size(), value);
    }
    return result;
}

// "http://" and the value of the request's Host line.
std::string BaseOf(const std::string& request) {
    std::size_t host = request.find("\r\nHost: ") + 8;
    return "http://" + request.substr(host, request.find("\r\n", host) - host);
}

class RedirectTest : public ClientTest, public ::testing::WithParamInterface<RedirectCase> {
protected:
    std::string WithBase(std::string_view text) const { return testing::WithBase(text, Url("")); }
};

TEST_P(RedirectTest, LocationIsResolvedAndFollowedWithTheOriginalLines) {
    const RedirectCase& redirect = GetParam();
    Serve([location = std::string(redirect.location)](const std::string& request, int index) {
        return ScriptedReply{index == 0 ? Redirect(testing::WithBase(location, BaseOf(request)))
                                        : OkReply("final")};
    });
    ASSERT_TRUE(client.Get(WithBase(redirect.from)));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "final");
    EXPECT_EQ(client.GetRedirectUrl(), "");
    // The redirected GET names the first URL as Referer, as the first request did.
    EXPECT_EQ(server->WaitForRequest(1),
              Request("GET " + std::string(redirect.expectedTarget) + " HTTP/1.1",
                      StandardGetLines(WithBase(redirect.from))));
}

INSTANTIATE_TEST_SUITE_P(
    Locations, RedirectTest,
    ::testing::Values(
        RedirectCase{"RootRelative", "{base}/dir/page", "/root/next", "/root/next"},
        RedirectCase{"Relative", "{base}/dir/page", "sibling?x=1", "/dir/sibling?x=1"},
        RedirectCase{"Absolute", "{base}/dir/page", "  {base}/abs  ", "/abs"},
        RedirectCase{"RelativeToAUrlWithoutPath", "{base}", "next", "/next"},
        // As the URL standard resolves them.
        RedirectCase{"SchemeRelative", "{base}/dir/page", "//{server}/other/p", "/other/p"},
        RedirectCase{"RelativeAfterASlashInTheQuery", "{base}/dir/qr?next=/a/b", "c?d=1",
                     "/dir/c?d=1"}),
    [](const ::testing::TestParamInfo<RedirectCase>& testInfo) { return testInfo.param.name; });

TEST_F(ResponseTest, AbsoluteLocationInAnyLetterCaseIsUsedUnchanged) {
    Serve(
        [](const std::string&, int) { return ScriptedReply{Redirect("HTTPS://Other.example/x")}; });
    client.SetFollowRedirects(false);
    ASSERT_TRUE(client.Get(Url("/")));
    EXPECT_EQ(client.GetRedirectUrl(), "HTTPS://Other.example/x");
}

TEST_F(ResponseTest, RootRelativeLocationWritesTheSchemeHostAndPortOut) {
    Serve([](const std::string&, int) { return ScriptedReply{Redirect("/next")}; });
    client.SetFollowRedirects(false);
    ASSERT_TRUE(client.Get(Url("/start")));
    EXPECT_EQ(client.ResolveLocation(), Url("/next"));
}

TEST_F(ResponseTest, CookieSetByARedirectIsAlreadyInTheRedirectedRequest) {
    Serve([](const std::string&, int index) {
        return ScriptedReply{index == 0 ? Redirect("/home", "Set-Cookie: sid=abc\r\n")
                                        : OkReply("home")};
    });
    ASSERT_TRUE(client.Get(Url("/login")));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "home");
    EXPECT_EQ(server->WaitForRequest(1),
              Request("GET /home HTTP/1.1",
                      StandardGetLines(Url("/login")) + Lines({"Cookie: sid=abc"})));
}

TEST_F(ResponseTest, RedirectedPostBecomesAGetWithoutContentTypeOrLength) {
    Serve([](const std::string&, int index) {
        return ScriptedReply{index == 0 ? Redirect("/done") : OkReply("done")};
    });
    client.SetHeader("X-Mine", "m");
    Bytes body;
    ASSERT_TRUE(client.Post(Url("/form"), Text("a=1"), body));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "done");
    EXPECT_EQ(server->WaitForRequest(1),
              Request("GET /done HTTP/1.1",
                      Lines({"X-Mine: m", "Accept: text/html, application/xhtml+xml, */*",
                             "Referer: " + Url("/form"), "Accept-Language: zh-cn",
                             "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)",
                             "Connection: Keep-Alive"})));
    // The next request composes its own lines again.
    ASSERT_TRUE(client.Get(Url("/after")));
    EXPECT_EQ(server->WaitForRequest(2),
              Request("GET /after HTTP/1.1", StandardGetLines(Url("/after"))));
}

TEST(RedirectKeepsOrigin, OnlyTheSameServerWithoutADropFromHttps) {
    struct Case {
        UrlParts from;
        UrlParts to;
        bool keeps;
    };
    const Case cases[] = {
        {{"http://", "h.example", 80, "/a"}, {"http://", "H.Example", 80, "/b"}, true},
        {{"http://", "h.example", 80, "/"}, {"https://", "h.example", 80, "/"}, true},
        {{"https://", "h.example", 443, "/"}, {"https://", "h.example", 443, "/x"}, true},
        {{"http://", "h.example", 80, "/"}, {"http://", "other.example", 80, "/"}, false},
        {{"http://", "h.example", 80, "/"}, {"http://", "h.example", 8080, "/"}, false},
        {{"https://", "h.example", 443, "/"}, {"http://", "h.example", 443, "/"}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HttpClient::RedirectKeepsOrigin(c.from, c.to), c.keeps)
            << c.from.scheme << c.from.host << ":" << c.from.port << " to " << c.to.scheme
            << c.to.host << ":" << c.to.port;
    }
}

TEST_F(ResponseTest, CookiesAndCredentialsStayWithTheServerTheyWereFor) {
    // The other server challenges, so credentials carried over would be answered with.
    LoopbackServer other([](const std::string& request, int) {
        if (request.find("\r\nAuthorization:") == std::string::npos) {
            return ScriptedReply{
                "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
                "Content-Length: 0\r\n\r\n"};
        }
        return ScriptedReply{OkReply("leaked")};
    });
    Serve([&other](const std::string& request, int) {
        const std::string target = request.substr(4, request.find(' ', 4) - 4);
        if (target == "/same") return ScriptedReply{Redirect("/landed")};
        if (target == "/port") return ScriptedReply{Redirect(other.Url("/landed"))};
        if (target == "/host") {
            const std::string port = BaseOf(request).substr(BaseOf(request).rfind(':'));
            return ScriptedReply{Redirect("http://localhost" + port + "/landed")};
        }
        return ScriptedReply{OkReply("landed")};
    });
    struct Case {
        const char* from;
        bool keeps;
        LoopbackServer* lands;
    };
    const Case cases[] = {
        {"/same", true, server.get()}, {"/port", false, &other}, {"/host", false, server.get()}};
    client.SetCookies("sid=1");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from);
        const std::size_t landed = c.lands->Requests().size() + (c.lands == server.get() ? 1 : 0);
        client.SetHeader("Authorization", "Bearer t");
        client.SetHeader("X-Trace", "7");
        ASSERT_TRUE(client.OpenRequest("GET", Url(c.from)));
        ASSERT_TRUE(client.SetCredentials("u", "p"));
        ASSERT_TRUE(client.Send({}));
        const std::string request = c.lands->WaitForRequest(landed);
        EXPECT_EQ(request.find("GET /landed "), 0u);
        EXPECT_NE(request.find("\r\nX-Trace: 7\r\n"), std::string::npos);
        EXPECT_EQ(request.find("\r\nCookie: sid=1\r\n") != std::string::npos, c.keeps);
        EXPECT_EQ(request.find("\r\nAuthorization: Bearer t\r\n") != std::string::npos, c.keeps);
        EXPECT_NE(client.ReadBodyTextUtf8(), "leaked");
    }
    EXPECT_EQ(other.Requests().size(), 1u) << "the challenge was not answered";
}

TEST_F(ResponseTest, RedirectIsNotFollowedWhenSwitchedOffButStillReported) {
    Serve([](const std::string&, int) {
        return ScriptedReply{Redirect("/elsewhere", "Set-Cookie: k=v; path=/\r\n")};
    });
    client.SetFollowRedirects(false);
    ASSERT_TRUE(client.Get(Url("/here")));
    EXPECT_EQ(client.GetRedirectUrl(), Url("/elsewhere"));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "moved");
    EXPECT_EQ(client.GetCookie("k"), "v");
    EXPECT_EQ(server->Requests().size(), 1u);
}

TEST_F(ResponseTest, FailedRedirectHopFailsTheRequest) {
    Serve([](const std::string&, int) { return ScriptedReply{Redirect("http://bad host/x")}; });
    EXPECT_FALSE(client.Get(Url("/")));
    EXPECT_EQ(client.LastError(), HttpError::kInvalidRequest);
}

TEST_F(ResponseTest, RedirectLoopStopsAfterTwentyHopsKeepingTheLastResponse) {
    Serve([](const std::string&, int index) {
        return ScriptedReply{"HTTP/1.1 302 Found\r\nLocation: /loop\r\nContent-Length: " +
                             std::to_string(std::to_string(index).size()) + "\r\n\r\n" +
                             std::to_string(index)};
    });
    ASSERT_TRUE(client.Get(Url("/loop")));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "20");
    EXPECT_EQ(client.GetRedirectUrl(), Url("/loop"));
    EXPECT_EQ(server->Requests().size(), 21u);
    // Drained redirect bodies leave their connection reusable.
    EXPECT_EQ(server->ConnectionsAccepted(), 1);
}

}  // namespace
}  // namespace velmora::testing
