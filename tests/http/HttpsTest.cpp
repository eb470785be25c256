// HTTPS is verified: a server whose certificate no trusted authority signed gets no request
// through, while the same server answers a client that skips verification.

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <thread>

#include "http/HttpClient.h"

namespace velmora {
namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateFree {
    void operator()(X509* certificate) const { X509_free(certificate); }
};

// A certificate for 127.0.0.1, valid now, signed by its own key.
std::pair<std::unique_ptr<X509, CertificateFree>, std::unique_ptr<EVP_PKEY, KeyFree>>
SelfSignedCertificate() {
    std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_EC_gen("P-256"));
    std::unique_ptr<X509, CertificateFree> certificate(X509_new());
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -60);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 3600);
    X509_set_pubkey(certificate.get(), key.get());
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    X509_sign(certificate.get(), key.get(), EVP_sha256());
    return {std::move(certificate), std::move(key)};
}

// Serves "secret" on "/" until destroyed.
class ServerThread {
public:
    explicit ServerThread(httplib::Server& server) : server_(server) {
        server_.Get("/", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("secret", "text/plain");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~ServerThread() {
        server_.stop();
        thread_.join();
    }
    int Port() const { return port_; }

private:
    httplib::Server& server_;
    int port_ = 0;
    std::thread thread_;
};

size_t Append(char* data, size_t size, size_t count, void* sink) {
    static_cast<std::string*>(sink)->append(data, size * count);
    return size * count;
}

std::string FetchWithoutVerification(const std::string& url) {
    std::string body;
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    curl_easy_perform(easy);
    curl_easy_cleanup(easy);
    return body;
}

TEST(Https, UntrustedCertificateGetsNoRequestThrough) {
    auto [certificate, key] = SelfSignedCertificate();
    httplib::SSLServer server(certificate.get(), key.get());
    ASSERT_TRUE(server.is_valid());
    ServerThread thread(server);
    const std::string url = "https://127.0.0.1:" + std::to_string(thread.Port()) + "/";
    ASSERT_EQ(FetchWithoutVerification(url), "secret");

    HttpClient client;
    client.Open(Text(kDefaultUserAgent));
    EXPECT_FALSE(client.Get(url));
    EXPECT_EQ(client.LastError(), HttpError::kTlsFailure);
    EXPECT_TRUE(IsConnectFailure(client.LastError()));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "");
}

}  // namespace
}  // namespace velmora
