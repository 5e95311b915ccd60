// In-memory dialog templates (the extended DLGTEMPLATEEX layout) built from the dialog
// resources, so the Win32 front end runs every window through the dialog manager without a
// compiled .rc. The bytes are laid out here without <windows.h>, so the layout is checked on
// any host. Rectangles go into the template in dialog units of the 6 × 13 pixel character
// cell the resources were drawn with; the window places each control on its exact pixels once
// it exists, whatever font the system picked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/DialogResources.h"

namespace ui::win32 {

// Predefined window classes by their atom.
enum class ControlClass : uint16_t { Button = 0x0080, Edit = 0x0081, Static = 0x0082 };

struct TemplateItem {
    uint16_t classAtom = 0;    // a predefined class, or 0 with className
    std::u16string className;  // a registered class ("SysListView32")
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int id = 0;
    std::u16string text;
    Rect dialogUnits{};
};

struct DialogTemplateDescription {
    std::u16string title;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    Rect dialogUnits{};
    uint16_t pointSize = 8;
    uint16_t weight = 400;
    std::u16string fontFace;
    std::vector<TemplateItem> items;
};

// Window and control styles the templates use (the Windows numbers).
namespace style {
constexpr uint32_t kChild = 0x40000000, kVisible = 0x10000000, kPopup = 0x80000000, kCaption = 0x00C00000,
                   kSysMenu = 0x00080000, kMinimizeBox = 0x00020000, kBorder = 0x00800000, kTabStop = 0x00010000,
                   kVScroll = 0x00200000;
constexpr uint32_t kDsSetFont = 0x40, kDsModalFrame = 0x80, kDsShellFont = 0x48;
constexpr uint32_t kBsPushButton = 0x0, kBsDefPushButton = 0x1, kBsOwnerDraw = 0xB;
constexpr uint32_t kSsLeft = 0x0, kSsIcon = 0x3, kSsBitmap = 0xE, kSsNotify = 0x100, kSsCenterImage = 0x200,
                   kSsRealSizeControl = 0x40;
constexpr uint32_t kEsAutoHScroll = 0x80, kEsPassword = 0x20;
constexpr uint32_t kLvsReport = 0x1, kLvsSingleSel = 0x4, kLvsShowSelAlways = 0x8, kLvsNoSortHeader = 0x8000;
constexpr uint32_t kWsExToolWindow = 0x80, kWsExClientEdge = 0x200;
}  // namespace style

// The bytes of a DLGTEMPLATEEX with its items, each item on a 4-byte boundary.
std::vector<uint8_t> BuildDialogTemplate(const DialogTemplateDescription& description);
// A window of the program as a template: its title, size and controls (ids, texts, kinds).
// The main window uses the 9-point "MS UI Gothic", the dialogs the 8-point "MS Shell Dlg".
DialogTemplateDescription TemplateFor(const DialogResource& resource);
// Client pixels to dialog units of the 6 × 13 cell (the inverse of the resources' conversion).
Rect ToDialogUnits(const Rect& pixels);

}  // namespace ui::win32
