// velmora-sample-site as a command: its options reach the site, it prints where it listens,
// and it ends cleanly on an interrupt.

#include <gtest/gtest.h>

#include <charconv>
#include <string>
#include <vector>

#include "LoopbackClient.h"
#include "platform/ChildProcess.h"
#include "tools/SiteContent.h"

namespace velmora::site {
namespace {

// velmora-sample-site running; killed, if it still runs, when the object goes.
class Command {
public:
    explicit Command(const std::vector<std::string>& options) {
        ChildOptions streams;
        streams.output = ChildStream::kPipe;
        streams.error = ChildStream::kDiscard;
        EXPECT_TRUE(child_.Start(SAMPLE_SITE_COMMAND, options, streams)) << child_.error();
    }

    // The first line of standard output, without its line end.
    std::string FirstLine() {
        std::size_t end;
        while ((end = output_.find('\n')) == std::string::npos) {
            const std::optional<ChildOutput> more = child_.ReadOutput();
            if (!more || more->bytes.empty()) return {};
            output_ += more->bytes;
        }
        return output_.substr(0, end);
    }
    // The exit code, or -1 when it did not exit normally.
    int Wait() {
        const ChildExit exit = child_.Wait();
        return exit.exited ? exit.code : -1;
    }
    void Interrupt() { EXPECT_TRUE(child_.Interrupt()); }

private:
    ChildProcess child_;
    std::string output_;
};

TEST(SampleSiteCommand, ServesWithItsOptionsAndEndsOnInterrupt) {
    Command command({"--pages", "2", "--links-per-page", "3", "--company-page-bytes", "1000",
                     "--fault", "500:company=2", "--no-hits", "无货", "--log"});
    std::string url = command.FirstLine();
    ASSERT_TRUE(url.starts_with("http://127.0.0.1:")) << url;
    std::uint16_t port = 0;
    std::from_chars(url.data() + 17, url.data() + url.size(), port);

    LoopbackClient client(port);
    ASSERT_TRUE(client.Send(GetRequest(SearchTarget("机械")) + GetRequest(SearchTarget("无货")) +
                            GetRequest(CompanyTarget(KeywordSeed("机械"), 2))));
    std::optional<Reply> listing = client.Receive();
    std::optional<Reply> nothing = client.Receive();
    std::optional<Reply> failed = client.Receive();
    ASSERT_TRUE(listing && nothing && failed);
    EXPECT_NE(listing->body.find("总数: 6&nbsp;&nbsp;页次: 1/2&nbsp;&nbsp;"), std::string::npos);
    EXPECT_NE(listing->body.find(url + CompanyTarget(KeywordSeed("机械"), 3)), std::string::npos);
    EXPECT_EQ(nothing->body.find("总数: "), std::string::npos);
    EXPECT_EQ(failed->status, 500);

    command.Interrupt();
    EXPECT_EQ(command.Wait(), 0);
}

TEST(SampleSiteCommand, RejectsBadOptionsWithUsage) {
    const std::vector<std::vector<std::string>> bad{
        {"--pages", "x"},    {"--pages", "-1"},   {"--links-per-page", "1001"},
        {"--port", "70000"}, {"--fault", "boom"}, {"--frobnicate"},
        {"--latency-ms"},
    };
    for (const std::vector<std::string>& arguments : bad) {
        Command command(arguments);
        EXPECT_EQ(command.FirstLine(), "") << arguments[0];
        EXPECT_EQ(command.Wait(), 1) << arguments[0];
    }
    Command help({"--help"});
    EXPECT_TRUE(help.FirstLine().starts_with("Usage: velmora-sample-site"));
    EXPECT_EQ(help.Wait(), 0);
}

}  // namespace
}  // namespace velmora::site
