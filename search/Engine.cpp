#include "search/Engine.h"

#include <utility>

#include "results/ResultSink.h"

namespace velmora {
namespace {

HttpClient& Opened(HttpClient& client) {
    client.Open(Text(kDefaultUserAgent));
    return client;
}

}  // namespace

Engine::Engine(ResultSink& frontend, JournalSettings journal, std::string_view siteOverride,
               std::optional<std::string_view> parallelOverride)
    : site(FindDirectorySite(siteOverride, parallelOverride)),
      session(frontend, Opened(client), site.baseUrl, std::move(journal), site.parallel) {
    if (!site.settingsProblem.empty()) {
        frontend.SetStatusText(kNoticeStatusField, site.settingsProblem);
    }
}

}  // namespace velmora
