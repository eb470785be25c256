#pragma once
// A search session against the sample site on loopback, seen through a recording window.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "RecordingWindow.h"
#include "http/HttpClient.h"
#include "search/SearchSession.h"
#include "tools/SampleSite.h"

namespace velmora::testing {

inline constexpr const char* kKeyword = "机械";

class SearchFixture : public ::testing::Test {
protected:
    // Small company pages keep the sanitizer runs quick; the markup is the same.
    static site::SiteOptions SmallSite(int pages, int linksPerPage);

    // Starts the site and a session over it; the window's keyword is kKeyword.
    void Open(site::SiteOptions options, JournalSettings journal = {});
    void TearDown() override;

    // Paths and queries of the requests the site has seen, in arrival order.
    std::vector<std::string> Targets() const;
    std::string CompanyTarget(int number, const std::string& keyword = kKeyword) const;
    // The company pages' records as the window should show them, for companies first..last.
    std::vector<Cells> ExpectedRows(int first, int last,
                                    const std::string& keyword = kKeyword) const;

    // Starts a search for the keyword typed into window_.
    void StartTyped() { StartSearch(*session_, {window_.Keyword()}); }

    // Presses until the press is taken, which happens once two workers are listed.
    bool PressUntilAccepted(bool (*press)(SearchSession&));

    std::unique_ptr<site::SampleSite> site_;
    RecordingWindow window_{kKeyword};
    HttpClient client_;
    std::unique_ptr<SearchSession> session_;
};

// Rows in a fixed order, for comparing rows of a batch, which may come in any order.
std::vector<Cells> Sorted(std::vector<Cells> rows);

}  // namespace velmora::testing
