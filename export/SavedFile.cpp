#include "export/SavedFile.h"

#include <string_view>

#include "platform/Utf8Path.h"

namespace velmora {
namespace {

// Each reason's sentence: the quoted file name goes between its two halves.
struct ReasonText {
    std::string_view beforeName;
    std::string_view afterName;
};

ReasonText TextOf(WriteFailure failure) {
    switch (failure) {
        case WriteFailure::kHeldOpen:
            return {"文件“", "”被其他程序占用：请在那个程序里关闭它，然后重新保存。"};
        case WriteFailure::kReadOnlyFile:
            return {"文件“", "”是只读的，没有改动：请另选文件名，或去掉它的只读属性后重新保存。"};
        case WriteFailure::kNoFolder:
            return {"文件“", "”所在的文件夹不存在：请另选文件夹后重新保存。"};
        case WriteFailure::kFolderNotWritable:
            return {"没有权限在文件“", "”所在的文件夹里写入：请另选文件夹后重新保存。"};
        case WriteFailure::kFull:
            return {"磁盘已满，文件“", "”没有写成：请腾出空间后重新保存。"};
        case WriteFailure::kNameTooLong:
            return {"文件名“", "”太长，系统不接受：请选短一些的文件名或文件夹后重新保存。"};
        case WriteFailure::kNone:
        case WriteFailure::kOther:
            break;
    }
    return {"文件“", "”无法写入。"};
}

}  // namespace

SaveResult SaveResultOf(const FileReplacement& replacement, ReplaceOutcome outcome,
                        const std::filesystem::path& target) {
    switch (outcome) {
        case ReplaceOutcome::kReplaced:
            return {SaveStatus::kSaved, Utf8FromPath(target)};
        case ReplaceOutcome::kCannotCreate:
            return FailedSave(SaveStatus::kCannotCreate, target, replacement.failure());
        case ReplaceOutcome::kCannotWrite:
            break;
        case ReplaceOutcome::kCannotReplace:
            return FailedSave(SaveStatus::kCannotReplace, target, replacement.failure());
    }
    return FailedSave(SaveStatus::kCannotWrite, target, replacement.failure());
}

SaveResult FailedSave(SaveStatus status, const std::filesystem::path& target,
                      WriteFailure failure) {
    SaveResult saved{status, Utf8FromPath(target)};
    const ReasonText text = TextOf(failure);
    saved.failureReason.assign(text.beforeName).append(saved.path).append(text.afterName);
    return saved;
}

}  // namespace velmora
