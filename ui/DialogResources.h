// The program's dialog resources: every window's title, size, controls (id, kind, text,
// rectangle), menus and painted bitmaps. Both front ends build their windows from these, so a
// control shows the same text on the headless front end as on the screen. Texts are CP932;
// rectangles are client pixels (the small dialogs are laid out in dialog units of their
// 8-point font and converted once here).
#pragma once

#include <string>
#include <vector>

namespace ui {

enum class ControlKind {
    PushButton,
    OwnerDrawButton,  // a push button whose face the window draws: an icon at (5, 5) and the text
    Static,           // text, wrapped at the rectangle
    StatusLine,       // the status line: a static drawn with its own colours
    Link,             // a static drawn as a hyperlink; a click is a command
    Icon,             // a static showing an icon resource
    Picture,          // a static showing a bitmap resource
    ListView,         // report-style list with grid lines
    CheckListView,    // the same with a check box in each row
};

struct Rect {
    int x, y, width, height;
};

// Controls without an id of their own (labels) carry kNoId and cannot be addressed.
constexpr int kNoId = -1;

struct ControlResource {
    int id;
    ControlKind kind;
    std::string text;
    Rect rect;
    int image = 0;  // icon or bitmap resource of an Icon / Picture control
};

struct MenuItemResource {
    int id;                   // 0: a separator
    std::string text;         // with its "&" mnemonic
    std::string accelerator;  // the key shown beside the text ("F12"); the key itself reaches the window
};

struct MenuResource {
    std::string title;
    std::vector<MenuItemResource> items;
};

// A bitmap the window paints onto its background, white being transparent.
struct BitmapPlacement {
    int bitmap;
    int x, y;
};

struct DialogResource {
    int id;
    std::string title;
    int width, height;  // client size in pixels
    std::vector<ControlResource> controls;
    std::vector<MenuResource> menus = {};
    std::vector<BitmapPlacement> bitmaps = {};
    int icon = 0;         // the window icon
    bool hidden = false;  // never shown (the device-change watcher)
};

// The resource of a window, or nullptr for an unknown id.
const DialogResource* FindDialogResource(int id);
// The control of a window's resource, or nullptr.
const ControlResource* FindControlResource(int window, int id);

}  // namespace ui
