#pragma once
// A window's resolution on every Windows from 7 on: per monitor where Windows has it (10,
// version 1607 on), the system's resolution before. The newer functions are looked up at run
// time, here only, so that the program still loads where they are missing. Windows only; its
// types are named by their tags, so that this header needs no <windows.h>.

struct HWND__;
struct tagNONCLIENTMETRICSW;
struct tagRECT;

namespace velmora {

// The dots per inch `window` is drawn at.
unsigned WindowDpi(HWND__* window);
// The system's non-client metrics (fonts among them) at `dpi`; `metrics.cbSize` set by the caller.
bool NonClientMetricsAtDpi(tagNONCLIENTMETRICSW& metrics, unsigned dpi);
// The outer rectangle of a window without a menu whose client area is `rect`, at `dpi`.
bool OuterRectAtDpi(tagRECT& rect, unsigned long style, unsigned long extendedStyle, unsigned dpi);

}  // namespace velmora
