// Reading bodies: caching, chunk limits, transfer and content encodings, decoding into the
// system code page, failures and what they leave, the size cap and connection reuse.

#include <zlib.h>

#include "ClientFixture.h"
#include "http/HttpClient.h"
#include "platform/LoopbackListener.h"
#include "text/CodePage.h"

namespace velmora::testing {
namespace {

std::string Gzip(std::string_view data) {
    z_stream stream{};
    constexpr int kGzipWindowBits = 15 + 16;
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, kGzipWindowBits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// A loopback port with nothing listening on it.
int ClosedPort() {
    LoopbackListener probe;
    EXPECT_TRUE(probe.Listen(0)) << probe.error();
    return probe.port();
}

class BodyTest : public ClientTest {};

TEST_F(BodyTest, BodyIsReadOnceAndCachedAndMaxChunksCountsKilobytes) {
    const std::string page(5000, 'p');
    Serve([&page](const std::string&, int) { return ScriptedReply{OkReply(page)}; });
    ASSERT_TRUE(client.Get(Url("/")));
    EXPECT_EQ(AsText(client.ReadBody()), page);
    EXPECT_EQ(AsText(client.ReadBody(1)), page);  // the cached copy, whatever the limit

    ASSERT_TRUE(client.Get(Url("/")));
    Bytes firstTwo = client.ReadBody(2);
    EXPECT_EQ(AsText(firstTwo), page.substr(0, 2048));
    EXPECT_EQ(client.ReadBody(), firstTwo);
    EXPECT_EQ(server->Requests().size(), 2u);
}

TEST_F(BodyTest, BodyOfALargePageArrivesWholeAcrossManyReads) {
    std::string page;
    for (int i = 0; page.size() < 3'000'000; ++i) page += std::to_string(i) + ",";
    Serve([&page](const std::string&, int) { return ScriptedReply{OkReply(page)}; });
    ASSERT_TRUE(client.Get(Url("/big")));
    EXPECT_EQ(client.ReadBodyText(), page);
}

TEST_F(BodyTest, ContentEncodingIsUndoneOnlyWhenDecodingIsOn) {
    const std::string compressed = Gzip("hello gzip world");
    Serve([&compressed](const std::string&, int) {
        std::string chunked =
            "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n"
            "Transfer-Encoding: chunked\r\n\r\n";
        for (std::size_t at = 0; at < compressed.size(); at += 7) {
            std::string piece = compressed.substr(at, 7);
            char size[16];
            std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
            chunked += size + piece + "\r\n";
        }
        return ScriptedReply{chunked + "0\r\n\r\n"};
    });
    ASSERT_TRUE(client.Get(Url("/raw")));
    EXPECT_EQ(AsText(client.ReadBody()), compressed);
    EXPECT_EQ(server->WaitForRequest(0).find("Accept-Encoding"), std::string::npos);

    client.SetDecoding();
    ASSERT_TRUE(client.Get(Url("/decoded")));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "hello gzip world");
    EXPECT_NE(server->WaitForRequest(1).find("\r\nAccept-Encoding: gzip, deflate\r\n"),
              std::string::npos);
}

TEST_F(BodyTest, BodyIsDecodedFromUtf8WhateverItDeclares) {
    Serve([](const std::string& request, int) {
        if (request.starts_with("GET /gbk ")) {
            // "中文" in code page 936, declared as such: still decoded as UTF-8.
            return ScriptedReply{OkReply("a\xD6\xD0\xCE\xC4",
                                         "Content-Type: text/html; "
                                         "charset=gbk\r\n")};
        }
        if (request.starts_with("GET /zero "))
            return ScriptedReply{OkReply(std::string("ab\0cd", 5))};
        if (request.starts_with("GET /empty ")) return ScriptedReply{OkReply("")};
        return ScriptedReply{OkReply("公司名称：星辰贸易 😀")};
    });
    ASSERT_TRUE(client.Get(Url("/utf8")));
    Text text = client.ReadBodyTextUtf8();
    EXPECT_EQ(text, Utf8ToSystem("公司名称：星辰贸易 😀"));
    EXPECT_EQ(SystemToUtf8(text), "公司名称：星辰贸易 😀");

    ASSERT_TRUE(client.Get(Url("/gbk")));
    EXPECT_EQ(client.ReadBodyTextUtf8(), Utf8ToSystem("a\uFFFD\uFFFD\uFFFD\uFFFD"));

    ASSERT_TRUE(client.Get(Url("/zero")));
    EXPECT_EQ(client.ReadBodyText(), "ab");
    EXPECT_EQ(client.ReadBody().size(), 5u);

    ASSERT_TRUE(client.Get(Url("/empty")));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "");
}

// A loopback port whose listening queue is full: a connection attempt gets no answer at all.
class UnansweredPort {
public:
    UnansweredPort() {
        EXPECT_TRUE(listener_.Listen(0, 0)) << listener_.error();
        for (LoopbackConnection& filler : fillers_) {
            filler = LoopbackConnection::StartConnecting(listener_.port());
        }
    }
    int Port() const { return listener_.port(); }

private:
    LoopbackListener listener_;
    LoopbackConnection fillers_[2];  // closed before the listener
};

TEST_F(BodyTest, RequestThatReachesNoServerFailsAndSaysWhy) {
    UnansweredPort unanswered;
    client.SetTimeouts(200, 0, 0);
    const struct {
        std::string url;
        HttpError error;
    } cases[] = {
        {"http://127.0.0.1:" + std::to_string(ClosedPort()) + "/", HttpError::kConnectionRefused},
        {"http://127.0.0.1:" + std::to_string(unanswered.Port()) + "/", HttpError::kConnectTimeout},
        // A label longer than 63 bytes: no resolver is ever asked.
        {"http://" + std::string(64, 'a') + ".example/", HttpError::kHostNotResolved},
        {"http://bad host/", HttpError::kInvalidRequest},
        {"http://127.0.0.1:70000/", HttpError::kInvalidRequest},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_FALSE(client.Get(c.url));
        EXPECT_EQ(client.LastError(), c.error);
        EXPECT_TRUE(IsConnectFailure(client.LastError()));
        EXPECT_EQ(client.GetResponseHeaders(), "");
        EXPECT_EQ(client.ReadBodyTextUtf8(), "");
        EXPECT_EQ(client.LastError(), c.error) << "the body read keeps the reason";
    }
}

TEST_F(BodyTest, BodyCutShortKeepsWhatArrivedAndTheClientGoesOn) {
    Serve([](const std::string& request, int) {
        if (request.starts_with("GET /cut ")) {
            return ScriptedReply{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789",
                                 ScriptedReply::Then::kClose};
        }
        return ScriptedReply{OkReply("whole")};
    });
    ASSERT_TRUE(client.Get(Url("/cut")));
    EXPECT_EQ(client.LastError(), HttpError::kNone);
    EXPECT_EQ(client.GetResponseHeader("Content-Length"), "100");
    EXPECT_EQ(client.ReadBodyTextUtf8(), "0123456789");
    EXPECT_EQ(client.LastError(), HttpError::kConnectionLost);
    EXPECT_FALSE(IsConnectFailure(client.LastError()));
    ASSERT_TRUE(client.Get(Url("/next")));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "whole");
    EXPECT_EQ(client.LastError(), HttpError::kNone);
}

TEST_F(BodyTest, BodyThatNeverEndsStopsAtTheCapKeepingWhatArrived) {
    Serve([](const std::string&, int) {
        return ScriptedReply{"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n",
                             ScriptedReply::Then::kStreamForever};
    });
    ASSERT_TRUE(client.Get(Url("/endless")));
    Bytes body = client.ReadBody();
    EXPECT_EQ(body.size(), std::size_t{64} << 20);
    EXPECT_EQ(body.front(), 'x');
    EXPECT_EQ(body.back(), 'x');
}

TEST_F(BodyTest, StalledServerEndsAtTheTimeOutsBeforeAndAfterTheHeaders) {
    Serve([](const std::string& request, int) {
        if (request.starts_with("GET /silent ")) {
            return ScriptedReply{"", ScriptedReply::Then::kHoldOpen};
        }
        return ScriptedReply{"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n01234",
                             ScriptedReply::Then::kHoldOpen};
    });
    client.SetTimeouts(100, 200, 200);
    EXPECT_FALSE(client.Get(Url("/silent")));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "");
    EXPECT_EQ(client.LastError(), HttpError::kTimeout) << "connected, so no connect failure";
    ASSERT_TRUE(client.Get(Url("/stall")));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "01234");
    EXPECT_EQ(client.LastError(), HttpError::kTimeout);
}

TEST_F(BodyTest, KeepAliveConnectionServesEveryRequestUntilABodyIsLeftUnread) {
    const std::string page(10000, 'k');
    std::promise<void> partialRead;
    std::shared_future<void> gate = partialRead.get_future().share();
    Serve([&page, gate](const std::string& request, int) {
        if (!request.starts_with("GET /partial ")) return ScriptedReply{OkReply(page)};
        ScriptedReply reply{"HTTP/1.1 200 OK\r\nContent-Length: 4000\r\n\r\n" +
                            std::string(2000, 'h')};
        reply.gate = gate;
        reply.afterGate = std::string(2000, 't');
        return reply;
    });
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(client.Get(Url("/same")));
        EXPECT_EQ(client.ReadBodyTextUtf8(), page);
    }
    EXPECT_EQ(server->ConnectionsAccepted(), 1);
    ASSERT_TRUE(client.Get(Url("/partial")));
    EXPECT_EQ(AsText(client.ReadBody(1)), std::string(1024, 'h'));
    partialRead.set_value();
    ASSERT_TRUE(client.Get(Url("/fresh")));
    EXPECT_EQ(client.ReadBodyTextUtf8(), page);
    EXPECT_EQ(server->ConnectionsAccepted(), 2);
}

TEST_F(BodyTest, AKeptAliveConnectionLeftWithoutAnAnswerIsAskedOnceMoreOnANewOne) {
    const ScriptedReply dropped{"", ScriptedReply::Then::kClose};
    const ScriptedReply garbled{"SSH-2.0 nothing like HTTP\r\n\r\n", ScriptedReply::Then::kClose};
    const ScriptedReply ok{OkReply("ok")};
    const struct {
        const char* name;
        std::vector<ScriptedReply> replies;  // to the requests in their order
        bool answered;
        int requests;
        int connections;
    } cases[] = {
        {"dropped after the request", {ok, dropped, ok}, true, 3, 2},
        {"garbled", {ok, garbled, ok}, true, 3, 2},
        {"garbled again on the new connection", {ok, garbled, garbled}, false, 3, 2},
        {"garbled on a new connection", {garbled, ok}, false, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.reset();
        client.Reopen();
        Serve([&c](const std::string&, int index) {
            return c.replies[std::min(static_cast<std::size_t>(index), c.replies.size() - 1)];
        });
        if (c.replies.size() == 3) {
            ASSERT_TRUE(client.Get(Url("/first")));
            EXPECT_EQ(client.ReadBodyTextUtf8(), "ok");
        }
        EXPECT_EQ(client.Get(Url("/page")), c.answered);
        EXPECT_EQ(client.ReadBodyTextUtf8(), c.answered ? "ok" : "");
        EXPECT_EQ(client.LastError(), c.answered ? HttpError::kNone : HttpError::kBadResponse);
        EXPECT_EQ(server->ConnectionsAccepted(), c.connections);
        const std::vector<std::string> requests = server->Requests();
        ASSERT_EQ(requests.size(), static_cast<std::size_t>(c.requests));
        if (c.requests == 3) {
            EXPECT_EQ(requests[2], requests[1]) << "the same request again";
        }
    }
    EXPECT_STREQ(HttpErrorText(HttpError::kBadResponse), "网站的回应无法识别");
    EXPECT_FALSE(IsConnectFailure(HttpError::kBadResponse));
}

}  // namespace
}  // namespace velmora::testing
