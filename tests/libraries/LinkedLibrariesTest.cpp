// The features of the linked libraries that the engine relies on without checking at run time:
// a library built without one still links, and the engine would fail far from the cause.

#define PCRE2_CODE_UNIT_WIDTH 8
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <pcre2.h>
#include <sqlite3.h>
#include <xlsxwriter.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

namespace {

namespace fs = std::filesystem;

class Folder {
public:
    Folder() : path_(fs::temp_directory_path() / ("linked-libraries-" + Unique())) {
        fs::create_directories(path_);
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    const fs::path& path() const { return path_; }

private:
    static std::string Unique() { return std::to_string(std::random_device{}()); }
    fs::path path_;
};

TEST(LinkedLibraries, CurlSpeaksHttpsAndGzip) {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    EXPECT_NE(info->features & CURL_VERSION_SSL, 0) << "no TLS backend";
    EXPECT_NE(info->features & CURL_VERSION_LIBZ, 0) << "no zlib: compressed bodies fail";
    bool http = false;
    bool https = false;
    for (const char* const* protocol = info->protocols; *protocol != nullptr; ++protocol) {
        http = http || std::string_view(*protocol) == "http";
        https = https || std::string_view(*protocol) == "https";
    }
    EXPECT_TRUE(http && https);
}

TEST(LinkedLibraries, Pcre2CompilesUtfPatternsWithItsJit) {
    uint32_t jit = 0;
    ASSERT_GE(pcre2_config(PCRE2_CONFIG_JIT, &jit), 0);
    ASSERT_EQ(jit, 1u);
    int error = 0;
    PCRE2_SIZE offset = 0;
    const std::string_view pattern = "联系人：(\\S+)";
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                     PCRE2_UTF, &error, &offset, nullptr);
    ASSERT_NE(code, nullptr);
    // The JIT needs executable memory, which a hardened host may refuse at run time.
    EXPECT_EQ(pcre2_jit_compile(code, PCRE2_JIT_COMPLETE), 0);
    pcre2_match_data* match = pcre2_match_data_create_from_pattern(code, nullptr);
    const std::string_view subject = "<td>联系人：王先生</td>";
    EXPECT_EQ(pcre2_jit_match(code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0,
                              0, match, nullptr),
              2);
    pcre2_match_data_free(match);
    pcre2_code_free(code);
}

TEST(LinkedLibraries, SqliteSharesAWalJournalBetweenConnections) {
    EXPECT_EQ(sqlite3_threadsafe(), 1) << "the journal is written from several threads";
    Folder folder;
    const std::string file = (folder.path() / "wal.sqlite3").string();
    sqlite3* writer = nullptr;
    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &writer), SQLITE_OK);
    ASSERT_EQ(sqlite3_open(file.c_str(), &reader), SQLITE_OK);
    std::string mode;
    auto keep_mode = [](void* out, int, char** values, char**) {
        *static_cast<std::string*>(out) = values[0];
        return 0;
    };
    ASSERT_EQ(sqlite3_exec(writer, "PRAGMA journal_mode=WAL", keep_mode, &mode, nullptr),
              SQLITE_OK);
    EXPECT_EQ(mode, "wal");
    ASSERT_EQ(sqlite3_exec(writer, "CREATE TABLE row(x); INSERT INTO row VALUES (7)", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    // The second connection finds the row through the WAL index in shared memory.
    std::string seen;
    EXPECT_EQ(sqlite3_exec(reader, "SELECT x FROM row", keep_mode, &seen, nullptr), SQLITE_OK);
    EXPECT_EQ(seen, "7");
    sqlite3_close(reader);
    sqlite3_close(writer);
}

TEST(LinkedLibraries, XlsxwriterSavesAZipOverItsTemporaryFiles) {
    Folder folder;
    const std::string tmpdir = folder.path().string();
    const std::string file = (folder.path() / "book.xlsx").string();
    lxw_workbook_options options = {};
    options.tmpdir = const_cast<char*>(tmpdir.c_str());
    lxw_workbook* book = workbook_new_opt(file.c_str(), &options);
    ASSERT_NE(book, nullptr);
    worksheet_write_string(workbook_add_worksheet(book, nullptr), 0, 0, "公司", nullptr);
    ASSERT_EQ(workbook_close(book), LXW_NO_ERROR);
    std::ifstream saved(file, std::ios::binary);
    std::string start(4, '\0');
    saved.read(start.data(), 4);
    EXPECT_EQ(start, std::string("PK\3\4", 4));
}

}  // namespace
