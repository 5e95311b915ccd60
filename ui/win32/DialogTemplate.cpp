// The DLGTEMPLATEEX bytes of a dialog resource: the header, each control's item with its class
// and text, and the sizes converted from pixels to dialog units.
#include "ui/win32/DialogTemplate.h"

#include "platform/CodePage.h"
#include "platform/View.h"

namespace ui::win32 {
namespace {

class Writer {
public:
    void Word(uint16_t value) {
        bytes_.push_back(static_cast<uint8_t>(value & 0xFF));
        bytes_.push_back(static_cast<uint8_t>(value >> 8));
    }
    void Dword(uint32_t value) {
        Word(static_cast<uint16_t>(value & 0xFFFF));
        Word(static_cast<uint16_t>(value >> 16));
    }
    void Short(int value) { Word(static_cast<uint16_t>(static_cast<int16_t>(value))); }
    void Text(const std::u16string& text) {
        for (char16_t c : text) Word(static_cast<uint16_t>(c));
        Word(0);
    }
    // A class or menu field: a predefined atom, else a name.
    void NameOrAtom(uint16_t atom, const std::u16string& name) {
        if (atom != 0) {
            Word(0xFFFF);
            Word(atom);
        } else {
            Text(name);
        }
    }
    void Rectangle(const Rect& r) {
        Short(r.x);
        Short(r.y);
        Short(r.width);
        Short(r.height);
    }
    void AlignToDword() {
        while (bytes_.size() % 4 != 0) bytes_.push_back(0);
    }
    std::vector<uint8_t> Take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};

std::u16string Wide(const std::string& cp932) { return platform::Cp932ToUtf16(cp932).value_or(std::u16string()); }

TemplateItem ItemFor(const ControlResource& control, bool mainWindow) {
    using namespace style;
    TemplateItem item;
    item.id = control.id == kNoId ? 0xFFFF : control.id;  // labels take the "no id" value, as in a .rc
    item.text = Wide(control.text);
    item.dialogUnits = ToDialogUnits(control.rect);
    item.style = kChild | kVisible;
    switch (control.kind) {
    case ControlKind::PushButton:
        item.classAtom = static_cast<uint16_t>(ControlClass::Button);
        item.style |= kTabStop | (control.id == platform::IDOK && !mainWindow ? kBsDefPushButton : kBsPushButton);
        break;
    case ControlKind::OwnerDrawButton:
        item.classAtom = static_cast<uint16_t>(ControlClass::Button);
        item.style |= kTabStop | kBsOwnerDraw;
        break;
    case ControlKind::Static:
    case ControlKind::StatusLine:
        item.classAtom = static_cast<uint16_t>(ControlClass::Static);
        item.style |= kSsLeft;
        break;
    case ControlKind::Link:
        item.classAtom = static_cast<uint16_t>(ControlClass::Static);
        item.style |= kSsLeft | kSsNotify;
        break;
    case ControlKind::Icon:
        item.classAtom = static_cast<uint16_t>(ControlClass::Static);
        item.style |= kSsIcon | kSsCenterImage | kSsRealSizeControl;
        item.text.clear();
        break;
    case ControlKind::Picture:
        item.classAtom = static_cast<uint16_t>(ControlClass::Static);
        item.style |= kSsBitmap;
        item.text.clear();
        break;
    case ControlKind::ListView:
    case ControlKind::CheckListView:
        item.className = u"SysListView32";
        item.style |= kTabStop | kBorder | kLvsReport | kLvsSingleSel | kLvsShowSelAlways | kLvsNoSortHeader;
        item.text.clear();
        break;
    }
    return item;
}

}  // namespace

Rect ToDialogUnits(const Rect& pixels) {
    // Rounded up, so that converting back never loses a pixel of a control.
    auto x = [](int v) { return (v * 4 + 5) / 6; };
    auto y = [](int v) { return (v * 8 + 12) / 13; };
    return {x(pixels.x), y(pixels.y), x(pixels.width), y(pixels.height)};
}

std::vector<uint8_t> BuildDialogTemplate(const DialogTemplateDescription& description) {
    Writer out;
    out.Word(1);       // dlgVer
    out.Word(0xFFFF);  // signature: the extended layout
    out.Dword(0);      // helpID
    out.Dword(description.exStyle);
    out.Dword(description.style | style::kDsSetFont);
    out.Word(static_cast<uint16_t>(description.items.size()));
    out.Rectangle(description.dialogUnits);
    out.Word(0);  // no menu: the window builds its menu bar itself
    out.Word(0);  // the dialog class
    out.Text(description.title);
    out.Word(description.pointSize);
    out.Word(description.weight);
    out.Word(0x0100);  // italic 0, charset 1 (DEFAULT_CHARSET)
    out.Text(description.fontFace);
    for (const TemplateItem& item : description.items) {
        out.AlignToDword();
        out.Dword(0);  // helpID
        out.Dword(item.exStyle);
        out.Dword(item.style);
        out.Rectangle(item.dialogUnits);
        out.Dword(static_cast<uint32_t>(item.id));
        out.NameOrAtom(item.classAtom, item.className);
        out.Text(item.text);
        out.Word(0);  // no creation data
    }
    return out.Take();
}

DialogTemplateDescription TemplateFor(const DialogResource& resource) {
    using namespace style;
    bool mainWindow = resource.id == platform::IDD_MAIN_WINDOW;
    DialogTemplateDescription description;
    description.title = Wide(resource.title);
    description.style = kPopup | kCaption | kSysMenu | kDsModalFrame | (mainWindow ? kMinimizeBox : 0);
    description.exStyle = resource.hidden ? kWsExToolWindow : 0;
    description.dialogUnits = ToDialogUnits({0, 0, resource.width, resource.height});
    description.pointSize = mainWindow ? 9 : 8;
    description.fontFace = mainWindow ? u"MS UI Gothic" : u"MS Shell Dlg";
    for (const ControlResource& control : resource.controls) description.items.push_back(ItemFor(control, mainWindow));
    return description;
}

}  // namespace ui::win32
