#include "text/FatalHandler.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "text/CodePage.h"

namespace velmora {
namespace {

std::atomic<FatalHandler> installedHandler{nullptr};

}  // namespace

void SetFatalHandler(FatalHandler handler) {
    installedHandler.store(handler);
}

void RaiseFatal(const Text& message) {
    if (const FatalHandler handler = installedHandler.load()) handler(message);
    std::fwrite(message.data(), 1, message.size(), stderr);
    std::fputc('\n', stderr);
    std::abort();
}

void RaiseAllocationFailure(std::size_t byteCount) {
    RaiseFatal(Utf8ToSystem("分配 ") + std::to_string(byteCount) + Utf8ToSystem(" 字节内存失败!"));
}

}  // namespace velmora
