#pragma once
// Where the main window's controls go at a given client size. The form's rectangles hold at the
// designed size; a larger window gives its extra room to the list (the address column takes the
// width) and the status bar (its notice part takes the width), and the elapsed-time label keeps
// its distance from the right edge. Every other control keeps its place.

#include "window/MainWindowForm.h"

namespace velmora {

struct MainWindowLayout {
    Rect list;
    // The journal's line, where it goes while it is shown; the list gives up its height then.
    Rect journalField;
    Rect statusBar;
    Rect elapsedLabel;
    // The column that takes a wider window's room. The others keep the widths they were made
    // with (the form's), or that the user gave them.
    struct ColumnWidth {
        int column;
        int width;
        bool operator==(const ColumnWidth&) const = default;
    } widenedColumn;
    // Side by side from the status bar's left edge, without spacing.
    std::array<int, kStatusPartCount> statusPartWidths;

    bool operator==(const MainWindowLayout&) const = default;
};

// A client smaller than the designed one is laid out as the designed one.
MainWindowLayout LayOutMainWindow(Size client, bool journalFieldShown);

}  // namespace velmora
