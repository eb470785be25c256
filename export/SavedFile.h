#pragma once
// What a replacement's outcome means to the one who asked for the file, and how a failed save is
// told: the one place of those texts, for both windows and the command line.

#include <filesystem>
#include <string>

#include "export/Workbook.h"
#include "platform/ReplaceFile.h"

namespace velmora {

[[nodiscard]] SaveResult SaveResultOf(const FileReplacement& replacement, ReplaceOutcome outcome,
                                      const std::filesystem::path& target);

// A save of `target` that failed in `status` for `failure`, with the reason told in one Chinese
// sentence (UTF-8) that names the file and says what the user can do.
[[nodiscard]] SaveResult FailedSave(SaveStatus status, const std::filesystem::path& target,
                                    WriteFailure failure);

}  // namespace velmora
