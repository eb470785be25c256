#pragma once
// What a replacement's outcome means to the one who asked for the file.

#include <filesystem>

#include "export/Workbook.h"
#include "platform/ReplaceFile.h"

namespace velmora {

[[nodiscard]] SaveResult SaveResultOf(ReplaceOutcome outcome, const std::filesystem::path& target);

}  // namespace velmora
