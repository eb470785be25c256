#include "window/MainWindowLayout.h"

#include <algorithm>

namespace velmora {
namespace {

Rect Grown(Rect rect, int width, int height) {
    return {rect.left, rect.top, rect.width + width, rect.height + height};
}

Rect Moved(Rect rect, int right, int down) {
    return {rect.left + right, rect.top + down, rect.width, rect.height};
}

}  // namespace

MainWindowLayout LayOutMainWindow(Size client, bool journalFieldShown) {
    const int wider = std::max(0, client.width - kClientSize.width);
    const int taller = std::max(0, client.height - kClientSize.height);
    const Rect statusBar = FormOf(Control::状态条1).rect;
    const Rect journalField = FormOf(Control::journalField).rect;
    // The journal's line sits between the list and the status bar, whose parts keep their
    // widths: the list gives up the room.
    const int journalHeight = journalFieldShown ? statusBar.top - journalField.top : 0;

    MainWindowLayout layout{
        .list = Grown(FormOf(Control::超级列表框1).rect, wider, taller - journalHeight),
        .journalField = Grown(Moved(journalField, 0, taller), wider, 0),
        .statusBar = Grown(Moved(statusBar, 0, taller), wider, 0),
        .elapsedLabel = Moved(FormOf(Control::标签2).rect, wider, 0),
        .widenedColumn = {kAddressColumn, kListColumns[kAddressColumn].width + wider},
        .statusPartWidths = {},
    };
    for (int part = 0; part < kStatusPartCount; ++part)
        layout.statusPartWidths[part] = kStatusParts[part].width;
    layout.statusPartWidths[kNoticeStatusField] += wider;
    return layout;
}

}  // namespace velmora
