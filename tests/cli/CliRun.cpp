#include "CliRun.h"

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "cli/CliWindow.h"
#include "journal/JournalFiles.h"

extern char** environ;

namespace velmora::cli {

namespace {

// The test's environment with `entries` (NAME=value) put over it, and the test process's own
// journal unless they name one.
std::vector<std::string> Environment(std::vector<std::string> entries) {
    static const test::ScratchFolder folder;
    const std::string journal = std::string(kJournalVariable) + "=";
    if (std::none_of(entries.begin(), entries.end(),
                     [&](const std::string& entry) { return entry.rfind(journal, 0) == 0; })) {
        entries.push_back(journal + (folder.path() / "journal.sqlite3").string());
    }
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string inherited(*entry);
        const std::string name = inherited.substr(0, inherited.find('=') + 1);
        bool replaced = false;
        for (const std::string& given : entries) replaced |= given.rfind(name, 0) == 0;
        if (!replaced) environment.push_back(inherited);
    }
    environment.insert(environment.end(), entries.begin(), entries.end());
    return environment;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& string : strings) pointers.push_back(string.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

CliRun RunCli(std::vector<std::string> args, const CliSpawn& spawn) {
    int outPipe[2];
    int errPipe[2];
    CliRun run;
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, outPipe[0]);
    posix_spawn_file_actions_addclose(&actions, errPipe[0]);
    args.insert(args.begin(), VELMORA_CLI_PATH);
    args.insert(args.begin(), spawn.wrapper.begin(), spawn.wrapper.end());
    std::vector<char*> argv = Pointers(args);
    std::vector<std::string> environment = Environment(spawn.environment);
    std::vector<char*> envp = Pointers(environment);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (spawned == 0 && spawn.whileRunning) spawn.whileRunning(child);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    for (int open = 2; open > 0;) {
        if (poll(fds, 2, -1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
                if (i == 0 && spawned == 0 && spawn.onOutput) spawn.onOutput(child, run.out);
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    if (spawned == 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
        run.exitCode = WEXITSTATUS(status);
    }
    return run;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

std::string RowLine(const site::CompanyRecord& c) {
    std::string line;
    for (const std::string* field :
         {&c.companyName, &c.contact, &c.telephone, &c.mobile, &c.fax, &c.email, &c.address}) {
        if (!line.empty() || field != &c.companyName) line += '\t';
        line += EscapeField(*field);
    }
    return line;
}

std::vector<std::string> SavedRowLines(const test::SavedWorkbook& saved, int first, int last) {
    std::vector<std::string> lines;
    for (int row = first; row <= last; ++row) {
        std::string line;
        for (char column = 'A'; column <= 'G'; ++column) {
            line +=
                (column == 'A' ? "" : "\t") + EscapeField(saved.Text(column + std::to_string(row)));
        }
        lines.push_back(line);
    }
    return lines;
}

}  // namespace velmora::cli
