#pragma once
// The engine a front end runs its searches on, assembled alike for the Qt window, the Win32
// window and velmora-cli: the directory site and the parallel width from the settings file
// (or the command line), one HTTP client opened with the default user agent, and the search
// session over both, writing to the front end. A setting that is not used is told once in the
// front end's notice field. Members go in reverse order: the session (ending and joining its
// threads) before the client.

#include <optional>
#include <string_view>

#include "http/HttpClient.h"
#include "search/DirectorySite.h"
#include "search/SearchSession.h"

namespace velmora {

class ResultSink;

struct Engine {
    // siteOverride and parallelOverride as FindDirectorySite takes them (velmora-cli's --site
    // and --parallel).
    Engine(ResultSink& frontend, JournalSettings journal, std::string_view siteOverride = {},
           std::optional<std::string_view> parallelOverride = std::nullopt);

    const DirectorySite site;
    HttpClient client;
    SearchSession session;
};

}  // namespace velmora
