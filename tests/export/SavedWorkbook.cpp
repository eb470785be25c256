#include "SavedWorkbook.h"

#include <fstream>
#include <sstream>

#include "platform/ChildProcess.h"
#include "platform/LoopbackListener.h"

namespace velmora::test {
namespace {

// Each step of the reader's work: long enough for a large workbook under a sanitizer, short
// enough that a reader that never answers fails the test instead of hanging it.
constexpr std::chrono::seconds kReaderTimeout{60};

std::string Unhex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// What the reader says about `bytes`; empty when it could not be asked. The file's bytes and
// the answer go over a loopback connection, not pipes or a path: a Windows build's tests run
// under Wine, which starts the Linux python but hands it none of a child's pipes, and whose
// paths mean nothing to it.
std::string AskReader(const std::string& bytes) {
    LoopbackListener listener;
    if (!listener.Listen(0)) return {};
    ChildProcess reader;
    if (!reader.Start(VELMORA_PYTHON, {VELMORA_WORKBOOK_READER, std::to_string(listener.port())})) {
        return {};
    }
    if (listener.WaitForConnection(nullptr, kReaderTimeout) != SocketStatus::kOk) return {};
    LoopbackConnection connection = listener.Accept();
    if (connection.SendAll(bytes) != SocketStatus::kOk) return {};
    connection.ShutdownSend();
    std::string answer;
    char chunk[16384];
    LoopbackConnection::Received received;
    while ((received = connection.Receive(chunk, sizeof chunk, nullptr, kReaderTimeout)).status ==
           SocketStatus::kOk) {
        answer.append(chunk, received.bytes);
    }
    reader.Wait();
    return received.status == SocketStatus::kEnd ? answer : std::string();
}

}  // namespace

std::string SavedWorkbook::Text(const std::string& address) const {
    auto found = cells.find(address);
    return found == cells.end() ? std::string() : found->second.utf8;
}

std::optional<SavedWorkbook> ReadSavedWorkbook(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();

    SavedWorkbook workbook;
    std::istringstream lines(AskReader(bytes.str()));
    std::string word;
    if (!(lines >> word) || word != "sheets" || !(lines >> workbook.sheets)) return std::nullopt;
    // The reader ends with "end" once it has read every cell; without it, it failed midway.
    std::string address, type, hex;
    while (lines >> address) {
        if (address == "end") return workbook;
        lines >> type;
        std::getline(lines, hex);
        if (!hex.empty() && hex.front() == ' ') hex.erase(0, 1);
        workbook.cells[address] = {type.empty() ? '?' : type[0], Unhex(hex)};
    }
    return std::nullopt;
}

}  // namespace velmora::test
