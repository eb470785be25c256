#pragma once
// Runs of velmora-cli as a separate program, and its output read back.

#include <functional>
#include <string>
#include <vector>

#include "SavedWorkbook.h"
#include "platform/ChildProcess.h"
#include "tools/SiteContent.h"

namespace velmora::cli {

// One run of the program: its exit status (-1 when it was killed) and what it wrote.
struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
    // Why the program did not start, when it did not.
    ChildStartError startError = ChildStartError::kNone;
    std::string startFailure;
};

struct CliSpawn {
    // NAME=value entries over the test's own environment. Without a VELMORA_JOURNAL entry the
    // program keeps its searches in a journal of the test process's own.
    std::vector<std::string> environment;
    // What the program runs under: a file size limit, an unprivileged user.
    ChildLimits limits;
    // Gets the running program before the output is collected.
    std::function<void(ChildProcess&)> whileRunning;
    // Gets the running program and the standard output so far, each time more of it arrives.
    std::function<void(ChildProcess&, const std::string&)> onOutput;
};

CliRun RunCli(std::vector<std::string> args, const CliSpawn& spawn = {});

// The complete lines of a text, without their ends.
std::vector<std::string> Lines(const std::string& text);

// A company's row as velmora-cli prints it.
std::string RowLine(const site::CompanyRecord& company);

// Rows first..last (1-based) of a saved workbook's sheet, columns A to G, as velmora-cli prints
// rows.
std::vector<std::string> SavedRowLines(const test::SavedWorkbook& saved, int first, int last);

}  // namespace velmora::cli
