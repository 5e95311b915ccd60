// The in-memory dialog templates and the PNG pictures of the Win32 window, checked byte by
// byte on any host.
#include <gtest/gtest.h>
#include <zlib.h>

#include "state/ResourceIds.h"
#include "ui/win32/DialogTemplate.h"
#include "ui/win32/PngFile.h"

using namespace ui::win32;

namespace {

// Reads a template back the way the dialog manager does.
class Reader {
public:
    explicit Reader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    uint16_t Word() {
        uint16_t value = static_cast<uint16_t>(bytes_.at(at_) | bytes_.at(at_ + 1) << 8);
        at_ += 2;
        return value;
    }
    uint32_t Dword() {
        uint32_t low = Word();
        return low | static_cast<uint32_t>(Word()) << 16;
    }
    int16_t Short() { return static_cast<int16_t>(Word()); }
    std::u16string Text() {
        std::u16string text;
        while (uint16_t c = Word()) text.push_back(static_cast<char16_t>(c));
        return text;
    }
    ui::Rect Rectangle() {
        int x = Short(), y = Short(), w = Short(), h = Short();
        return {x, y, w, h};
    }
    void AlignToDword() { at_ = (at_ + 3) & ~size_t{3}; }
    size_t At() const { return at_; }

private:
    const std::vector<uint8_t>& bytes_;
    size_t at_ = 0;
};

struct Item {
    uint32_t style, exStyle;
    ui::Rect rect;
    uint32_t id;
    uint16_t atom;
    std::u16string className, text;
};

std::vector<Item> ReadItems(Reader& in, int count) {
    std::vector<Item> items;
    for (int i = 0; i < count; ++i) {
        in.AlignToDword();
        EXPECT_EQ(in.At() % 4, 0u);
        Item item{};
        in.Dword();  // helpID
        item.exStyle = in.Dword();
        item.style = in.Dword();
        item.rect = in.Rectangle();
        item.id = in.Dword();
        if (uint16_t first = in.Word(); first == 0xFFFF) {
            item.atom = in.Word();
        } else {
            item.className.push_back(static_cast<char16_t>(first));
            item.className += in.Text();
        }
        item.text = in.Text();
        EXPECT_EQ(in.Word(), 0);  // no creation data
        items.push_back(item);
    }
    return items;
}

uint32_t BigEndian(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at] << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 | bytes[at + 3]);
}

}  // namespace

TEST(DialogTemplate, MainWindowHeaderControlsAndFontAreWhatTheDialogManagerReads) {
    std::vector<uint8_t> bytes = BuildDialogTemplate(TemplateFor(*ui::FindDialogResource(ids::kMainWindow)));
    Reader in(bytes);
    EXPECT_EQ(in.Word(), 1);       // dlgVer
    EXPECT_EQ(in.Word(), 0xFFFF);  // extended
    in.Dword();
    EXPECT_EQ(in.Dword(), 0u);  // exStyle: a normal window
    uint32_t style = in.Dword();
    EXPECT_EQ(style & (style::kDsSetFont | style::kMinimizeBox | style::kCaption | style::kSysMenu),
              style::kDsSetFont | style::kMinimizeBox | style::kCaption | style::kSysMenu);
    EXPECT_EQ(in.Word(), 17);  // the main window's controls
    ui::Rect size = in.Rectangle();
    EXPECT_EQ(size.width, 427);   // 640 pixels of 6-pixel cells in quarters, rounded up
    EXPECT_EQ(size.height, 296);  // 480 pixels of 13-pixel cells in eighths
    EXPECT_EQ(in.Word(), 0);      // menu: built by the window
    EXPECT_EQ(in.Word(), 0);      // class
    EXPECT_EQ(in.Text(), u"Veltrane");
    EXPECT_EQ(in.Word(), 9);
    EXPECT_EQ(in.Word(), 400);
    in.Word();
    EXPECT_EQ(in.Text(), u"MS UI Gothic");

    std::vector<Item> items = ReadItems(in, 17);
    EXPECT_EQ(in.At(), bytes.size());
    // The banner picture, the server list, the owner-drawn download button, in resource order.
    EXPECT_EQ(items[0].id, 1076u);
    EXPECT_EQ(items[0].atom, 0x0082);
    EXPECT_EQ(items[0].style & 0x1F, style::kSsBitmap);
    EXPECT_EQ(items[1].className, u"SysListView32");
    EXPECT_EQ(items[1].style & style::kLvsReport, style::kLvsReport);
    EXPECT_EQ(items[2].id, 1014u);
    EXPECT_EQ(items[2].atom, 0x0080);
    EXPECT_EQ(items[2].style & 0xF, style::kBsOwnerDraw);
    EXPECT_EQ(items[2].text, u"ﾀﾞｳﾝﾛｰﾄﾞ開始  ");
    EXPECT_EQ(items[2].rect.x, 324);  // 486 pixels
    EXPECT_EQ(items[2].rect.y, 37);   // 60 pixels
    // The link notifies its clicks; the delete button is a plain push button.
    const Item& link = items[16];
    EXPECT_EQ(link.id, 1074u);
    EXPECT_EQ(link.style & style::kSsNotify, style::kSsNotify);
    EXPECT_EQ(link.text, u"地図購入WEBサイトへ");
    EXPECT_EQ(items[9].id, 1012u);
    EXPECT_EQ(items[9].style & 0xF, style::kBsPushButton);
    for (const Item& item : items) EXPECT_EQ(item.style & style::kChild, style::kChild) << item.id;
}

TEST(DialogTemplate, SmallDialogsUseTheDialogFontAndLabelsCarryNoId) {
    std::vector<uint8_t> bytes = BuildDialogTemplate(TemplateFor(*ui::FindDialogResource(ids::kExitDialog)));
    Reader in(bytes);
    in.Word();
    in.Word();
    in.Dword();
    in.Dword();
    EXPECT_EQ(in.Dword() & style::kMinimizeBox, 0u);
    EXPECT_EQ(in.Word(), 4);
    in.Rectangle();
    in.Word();
    in.Word();
    EXPECT_EQ(in.Text(), u"ヴェルトレーン終了確認");
    EXPECT_EQ(in.Word(), 8);
    in.Word();
    in.Word();
    EXPECT_EQ(in.Text(), u"MS Shell Dlg");
    std::vector<Item> items = ReadItems(in, 4);
    EXPECT_EQ(items[0].id, 0xFFFFu);
    EXPECT_EQ(items[0].text, u"ヴェルトレーンを終了します。");
    // OK is the default button of a dialog; Cancel is not.
    EXPECT_EQ(items[2].id, 1u);
    EXPECT_EQ(items[2].style & 0xF, style::kBsDefPushButton);
    EXPECT_EQ(items[3].id, 2u);
    EXPECT_EQ(items[3].text, u"キャンセル");
    EXPECT_EQ(items[3].style & 0xF, style::kBsPushButton);

    // The hidden watcher is a tool window, kept off the task bar.
    std::vector<uint8_t> watcher = BuildDialogTemplate(TemplateFor(*ui::FindDialogResource(ids::kWatcherDialog)));
    Reader w(watcher);
    w.Word();
    w.Word();
    w.Dword();
    EXPECT_EQ(w.Dword(), style::kWsExToolWindow);
}

TEST(DialogTemplate, PixelsBecomeDialogUnitsThatCoverThem) {
    EXPECT_EQ(ToDialogUnits({6, 13, 60, 26}).x, 4);
    EXPECT_EQ(ToDialogUnits({6, 13, 60, 26}).y, 8);
    EXPECT_EQ(ToDialogUnits({6, 13, 60, 26}).width, 40);
    EXPECT_EQ(ToDialogUnits({6, 13, 60, 26}).height, 16);
    // A part of a cell still takes a whole unit.
    EXPECT_EQ(ToDialogUnits({1, 1, 7, 14}).x, 1);
    EXPECT_EQ(ToDialogUnits({1, 1, 7, 14}).y, 1);
    EXPECT_EQ(ToDialogUnits({1, 1, 7, 14}).width, 5);
    EXPECT_EQ(ToDialogUnits({1, 1, 7, 14}).height, 9);
}

TEST(PngFile, EncodesRowsOfRgbWithValidChunks) {
    // Two by two: blue-green-red-x pixels as a DIB holds them.
    std::vector<uint8_t> png = EncodePng(2, 2, {0x000000FF, 0x0000FF00, 0x00FF0000, 0x00102030});
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(png.begin(), png.begin() + 8),
              (std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
    // Every chunk's CRC covers its type and data.
    size_t at = 8;
    std::vector<std::string> types;
    std::vector<uint8_t> idat;
    while (at < png.size()) {
        uint32_t length = BigEndian(png, at);
        std::string type(png.begin() + static_cast<long>(at) + 4, png.begin() + static_cast<long>(at) + 8);
        types.push_back(type);
        uLong crc = crc32(0L, png.data() + at + 4, 4 + length);
        EXPECT_EQ(BigEndian(png, at + 8 + length), crc) << type;
        if (type == "IHDR") {
            EXPECT_EQ(BigEndian(png, at + 8), 2u);
            EXPECT_EQ(BigEndian(png, at + 12), 2u);
            EXPECT_EQ(png[at + 16], 8);  // bits
            EXPECT_EQ(png[at + 17], 2);  // truecolour
        }
        if (type == "IDAT")
            idat.assign(png.begin() + static_cast<long>(at) + 8, png.begin() + static_cast<long>(at + 8 + length));
        at += 12 + length;
    }
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    std::vector<uint8_t> raw(14);
    uLongf rawSize = static_cast<uLongf>(raw.size());
    ASSERT_EQ(uncompress(raw.data(), &rawSize, idat.data(), static_cast<uLong>(idat.size())), Z_OK);
    EXPECT_EQ(rawSize, 14u);
    // Filter byte, then red, green, blue per pixel.
    EXPECT_EQ(raw, (std::vector<uint8_t>{0, 0, 0, 0xFF, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0x10, 0x20, 0x30}));
}

TEST(PngFile, SizeAndPixelsMustAgree) {
    EXPECT_TRUE(EncodePng(2, 2, {1, 2, 3}).empty());
    EXPECT_TRUE(EncodePng(0, 0, {}).empty());
    EXPECT_TRUE(EncodePng(-1, 2, {1, 2}).empty());
}
