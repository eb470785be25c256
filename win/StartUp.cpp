#include "win/StartUp.h"

#include <windows.h>

#include <memory>
#include <stdexcept>

#include "journal/JournalFiles.h"
#include "platform/FatalError.h"
#include "platform/ThisProcess.h"
#include "platform/ThreadStack.h"
#include "search/Engine.h"
#include "win/MainWindow.h"
#include "win/SkinEngine.h"
#include "win/WideText.h"
#include "window/WindowPort.h"

namespace velmora {
namespace {

// Made in the order of start-up: the search state and the shared HttpClient, then the skin
// engine's library installed. Members are freed in reverse order: the engine (whose threads are
// ended and joined first) before the port that the threads write through.
struct AppGlobals {
    WindowPort port;
    Engine engine{port, {JournalPath(), SearchOrigin::kWindow}};
    SkinEngine skinEngine{InstallSkinEngine(ThisProgram().parent_path())};
};

}  // namespace

int StartUp() {
    // Before any thread starts; without it the threads keep the system's stack size.
    static_cast<void>(UseThreadStackSize());
    InstallAsTextFatalHandler();
    // A message box may be shown from any thread; the report's own thread waits for it.
    SetFatalErrorPresenter([](const Text& report) {
        MessageBoxW(nullptr, WideFromSystem(report).c_str(), Wide(kDefaultMessageCaption).c_str(),
                    MB_OK | MB_TASKMODAL);
    });
    const std::filesystem::path runDirectory = ThisProgram().parent_path();
    SetCurrentDirectoryW(runDirectory.c_str());
    AppGlobals globals;

    std::unique_ptr<MainWindow> window;
    try {
        window =
            std::make_unique<MainWindow>(globals.port, globals.engine.session, globals.skinEngine);
    } catch (const std::exception&) {
        ReportFatalError(Utf8ToSystem("载入启动窗口失败"));
    }
    ShowWindow(window->Handle(), SW_SHOWNORMAL);

    MSG message{};
    int exitCode = 0;
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            exitCode = got == 0 ? static_cast<int>(message.wParam) : 1;
            break;
        }
        if (window->HandledAsDialogKey(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    window.reset();
    return exitCode;
}

}  // namespace velmora
