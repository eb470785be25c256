#pragma once
// A client opened as start-up opens it, in front of a loopback server with a scripted handler,
// and the wire-format helpers the request tests compare against.

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "LoopbackServer.h"
#include "http/HttpClient.h"

namespace velmora::testing {

// Each line followed by CR LF.
inline std::string Lines(std::initializer_list<std::string_view> lines) {
    std::string text;
    for (std::string_view line : lines) text.append(line).append("\r\n");
    return text;
}

inline std::string AsText(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override { client.Open(Text(kDefaultUserAgent)); }

    // Starts the server; until then every test gets "ok" for every request.
    void Serve(LoopbackServer::Handler handler) {
        server = std::make_unique<LoopbackServer>(std::move(handler));
    }
    void ServeOk() {
        Serve([](const std::string& request, int) {
            if (request.starts_with("HEAD ")) {
                return ScriptedReply{"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n"};
            }
            return ScriptedReply{OkReply("ok")};
        });
    }
    std::string Url(std::string_view path) const { return server->Url(path); }
    std::string HostLine() const { return "Host: 127.0.0.1:" + std::to_string(server->Port()); }
    // The request line and Host line that libcurl always writes, then `lines`, then the blank.
    std::string Request(std::string_view requestLine, const std::string& lines) const {
        return std::string(requestLine) + "\r\n" + HostLine() + "\r\n" + lines + "\r\n";
    }
    // The five standard lines of a GET whose Referer is `referer`.
    static std::string StandardGetLines(std::string_view referer) {
        std::string refererLine = "Referer: " + std::string(referer);
        return Lines({"Accept: text/html, application/xhtml+xml, */*", refererLine,
                      "Accept-Language: zh-cn",
                      "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)",
                      "Connection: Keep-Alive"});
    }

    std::unique_ptr<LoopbackServer> server;
    HttpClient client;
};

}  // namespace velmora::testing
