// velmora-cli: one search of the directory site without a window, on the same engine.

#include <cstdio>
#include <iostream>
#include <memory>
#include <string_view>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/CliWindow.h"
#include "cli/JournalCommands.h"
#include "export/Export.h"
#include "http/HttpClient.h"
#include "journal/JournalFiles.h"
#include "platform/FatalError.h"
#include "platform/InterruptWatcher.h"
#include "platform/ThisProcess.h"
#include "platform/ThreadStack.h"
#include "search/DirectorySite.h"
#include "search/SearchSession.h"
#include "text/CodePage.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitUsage = 1;
constexpr int kExitNotExported = 2;
constexpr int kExitSiteUnreachable = 3;
constexpr int kExitJournal = 4;
constexpr int kExitIncomplete = 5;
// 128 + SIGINT, as shells report a command ended by Ctrl-C; the same on every system.
constexpr int kExitInterrupted = 130;

// The full export of the front end's rows, its messages on standard error.
int Export(velmora::Frontend& frontend, const std::string& fileName) {
    using namespace velmora;
    Exporter exporter(frontend, Text());
    const ExportResult exported = exporter.ExportAllToFile(Utf8ToSystem(fileName));
    return exported.outcome == ExportOutcome::kExported ? kExitDone : kExitNotExported;
}

int ShowRows(const velmora::cli::Options& options) {
    using namespace velmora;
    Journal journal(JournalPath());
    // With --export the rows go to the workbook only.
    std::ostream nowhere(nullptr);
    cli::CliWindow window(Text(), options.exportFile ? nowhere : std::cout, std::cerr);
    if (!cli::ShowSearchRows(journal, options.searchId, window, std::cerr)) return kExitJournal;
    return options.exportFile ? Export(window, *options.exportFile) : kExitDone;
}

// A search, or the resumption of one.
int RunSearch(const velmora::cli::Options& options) {
    using namespace velmora;
    Text keyword = Utf8ToSystem(options.keyword);
    Text siteOverride = options.site.value_or("");
    std::unique_ptr<Journal> resumed;
    if (options.command == cli::Command::kResume) {
        resumed = std::make_unique<Journal>(JournalPath());
        const std::optional<StoredSearch> search =
            cli::TakeOverSearch(*resumed, options.searchId, std::cerr);
        if (!search) return kExitJournal;
        keyword = search->keyword;
        if (!options.site) siteOverride = search->site;
    }

    // Made before any thread starts, so that the interrupts reach only the watcher.
    InterruptWatcher watcher;

    cli::CliWindow window(keyword, std::cout, std::cerr);
    const DirectorySite site = FindDirectorySite(
        siteOverride,
        options.parallel ? std::optional<std::string_view>(*options.parallel) : std::nullopt);
    if (!site.settingsProblem.empty())
        window.SetStatusText(kNoticeStatusField, site.settingsProblem);
    HttpClient client;
    client.Open(Text(kDefaultUserAgent));
    SearchSession session(window, client, site.baseUrl,
                          {options.noJournal ? std::string() : JournalPath(), SearchOrigin::kCli},
                          site.parallel);

    if (resumed) {
        ContinueSearch(session, std::move(resumed), options.searchId);
    } else {
        StartSearch(session);
    }
    // The stop button acts only during a batch of two or more workers; Ctrl-C must end the
    // search whatever it is doing, so it runs the stop routine itself rather than pressing the
    // button. Rows already complete have been printed; an unfinished one is not. The watcher
    // starts after the search, so that an early Ctrl-C, held pending, cannot precede the start.
    bool interrupted = false;
    watcher.Start([&] {
        interrupted = true;
        TerminateSearchThreads(session);
    });

    WaitForSearchEnd(session);
    watcher.Stop();
    EndSearchThreads(session);
    std::cout.flush();
    if (interrupted) return kExitInterrupted;
    if (session.siteUnreachable) return kExitSiteUnreachable;
    const int exported = options.exportFile ? Export(window, *options.exportFile) : kExitDone;
    if (exported != kExitDone) return exported;
    return session.lastEnd == SearchState::kIncomplete ? kExitIncomplete : kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace velmora;
    // Before any thread starts; without it the threads keep the system's stack size.
    static_cast<void>(UseThreadStackSize());
    InstallAsTextFatalHandler();
    UseUtf8StandardStreams();
    const std::vector<std::string> arguments = CommandLineArguments(argc, argv);
    std::vector<std::string_view> args(arguments.begin() + (arguments.empty() ? 0 : 1),
                                       arguments.end());
    const cli::ParseResult parsed = cli::ParseOptions(args);
    if (!parsed.options) {
        std::cerr << "velmora-cli: " << cli::EscapeField(parsed.error) << '\n' << cli::kUsage;
        return kExitUsage;
    }
    const cli::Options& options = *parsed.options;
    if (options.help) {
        std::cout << cli::kUsage;
        return kExitDone;
    }
    switch (options.command) {
        case cli::Command::kHistory: {
            Journal journal(JournalPath());
            return cli::PrintHistory(journal, std::cout, std::cerr) ? kExitDone : kExitJournal;
        }
        case cli::Command::kRows:
            return ShowRows(options);
        case cli::Command::kForget: {
            Journal journal(JournalPath());
            return cli::ForgetSearches(journal, options.searchId, std::cerr) ? kExitDone
                                                                             : kExitJournal;
        }
        case cli::Command::kSearch:
        case cli::Command::kResume:
            break;
    }
    return RunSearch(options);
}
