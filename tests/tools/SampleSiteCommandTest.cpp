// velmora-sample-site as a command: its options reach the site, it prints where it listens,
// and it ends cleanly on an interrupt.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "LoopbackClient.h"
#include "tools/SiteContent.h"

extern char** environ;

namespace velmora::site {
namespace {

class Command {
public:
    explicit Command(const std::vector<std::string>& options) {
        std::vector<std::string> arguments{SAMPLE_SITE_COMMAND};
        arguments.insert(arguments.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        output_ = fdopen(out[0], "r");
    }
    ~Command() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            Wait();
        }
        if (output_) fclose(output_);
    }

    // The first line of standard output, without its line end.
    std::string FirstLine() {
        char line[256] = {};
        if (!output_ || !fgets(line, sizeof line, output_)) return {};
        std::string text(line);
        if (text.ends_with('\n')) text.pop_back();
        return text;
    }
    // The exit code, or -1 when it did not exit normally.
    int Wait() {
        int status = 0;
        if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Interrupt() { kill(pid_, SIGINT); }

private:
    pid_t pid_ = -1;
    FILE* output_ = nullptr;
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
