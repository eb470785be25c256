#pragma once
// The program's entry sequence and its end.
//
// Order of the end: the window's loop returns, the window goes (it stops a running batch and
// detaches the skin as it closes), then ExitCleanup ends and joins every search thread before
// the session, the shared HttpClient and the port they write through are freed.

namespace velmora {

class WindowPort;
class SearchSession;
class SkinEngine;

// The process-wide state; exists between InitGlobals and ExitCleanup.
WindowPort& GlobalPort();
SearchSession& GlobalSession();
SkinEngine& GlobalSkinEngine();

// Needs the application object. Creates the port, the shared HttpClient (opened with its default
// user agent), the search session over both, and the skin engine of the run directory, its
// library installed there.
void InitGlobals();
// Ends and joins every search thread, then frees what InitGlobals made. Does nothing when
// there is nothing to free, so running it twice is harmless.
void ExitCleanup();
// Needs the application object. Shows the fatal report as a message box from now on, always on
// the window's thread: a report from another thread waits there until the box is closed.
void InstallFatalErrorPresenter();
// Needs the application object. Qt's own texts (dialog buttons, the save dialog) in Chinese,
// whatever the system's language; false when Qt's translations are not installed.
bool InstallQtTranslations();

// The whole run: start-up, the window's loop, the clean-up. Returns the process's exit code.
int StartUp(int& argc, char** argv);

}  // namespace velmora
