// The Win32 window under Wine (null graphics driver) or Windows: the real dialog manager,
// list views, message boxes and timers behind the view seam.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "state/ResourceIds.h"
#include "ui/DialogResources.h"
#include "ui/win32/Prompts.h"
#include "ui/win32/Win32View.h"
#include "ui/win32/WideText.h"
#include "ui/win32/WindowPicture.h"

#include "platform/win32/Windows.h"
#include <commctrl.h>
#include <dbt.h>
#include <exdisp.h>
#include <shlobj.h>
#undef MessageBox

using ui::win32::Win32View;

namespace {

// A window logic that records what the front end hands it, and on which thread.
class TestWindow : public platform::ViewHandler {
public:
    TestWindow(Win32View& frontEnd, int window) : view(frontEnd), id(window) {}
    void OnInitDialog() override {
        if (onInit) onInit();
    }
    void OnNotify(uintptr_t wParam, intptr_t lParam) override {
        notifies.emplace_back(wParam, lParam);
        notifyThread = GetCurrentThreadId();
    }
    void OnTimer(uint32_t timer) override {
        timers.push_back(timer);
        if (onTimer) onTimer(timer);
    }
    void OnCommand(uint32_t command) override {
        commands.push_back(command);
        if (command == IDOK || command == IDCANCEL) view.EndDialog(id, static_cast<int>(command));
    }
    void OnListItemChanged(const platform::ListItemChange& change) override { changes.push_back(change); }
    void OnInitMenu() override {
        menuInits++;
        view.EnableMenuItem(id, ids::kMenuFolder, false);
    }
    void OnKeyDown(uint32_t key) override { keys.push_back(key); }
    void OnDeviceChange() override { deviceChanges++; }
    bool OnQueryRemoveVolume(platform::HANDLE volume) override {
        removalEvents.push_back({"query", volume});
        return allowRemoval;
    }
    bool OnQueryCancelAutoPlay() override { return cancelAutoPlay; }
    void OnVolumeRemoveFailed(platform::HANDLE volume) override { removalEvents.push_back({"failed", volume}); }
    void OnVolumeRemoved(platform::HANDLE volume) override { removalEvents.push_back({"removed", volume}); }

    Win32View& view;
    int id;
    std::function<void()> onInit;
    std::function<void(uint32_t)> onTimer;
    std::vector<uint32_t> commands, keys, timers;
    std::vector<std::pair<uintptr_t, intptr_t>> notifies;
    std::vector<platform::ListItemChange> changes;
    DWORD notifyThread = 0;
    int menuInits = 0;
    int deviceChanges = 0;
    std::vector<std::pair<std::string, platform::HANDLE>> removalEvents;
    bool allowRemoval = true;
    bool cancelAutoPlay = false;
};

// Lets the window thread handle what is queued until done() holds (or the time is up).
bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds = 2000) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > milliseconds) return false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(1);
    }
    return true;
}

// Runs actions once the window is up (from the automation's step), then ends the window.
void RunWith(Win32View& view, TestWindow& window, const std::function<void()>& actions) {
    bool done = false;
    view.SetDriver([&] {
        if (done) return false;
        done = true;
        actions();
        view.EndDialog(window.id, IDOK);
        return true;
    });
    view.RunDialog(window.id, window);
    view.SetDriver(nullptr);
}

HWND Handle(Win32View& view, int window) { return view.Window(window)->Handle(); }
HWND Control(Win32View& view, int window, int id) { return GetDlgItem(Handle(view, window), id); }

std::wstring WindowText(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

RECT ClientRectOf(HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

class Recorder : public ui::AutomationObserver {
public:
    void OnBox(const platform::MessageBoxRequest& request, int answer) override {
        boxes.emplace_back(request.caption, answer);
        boxThread = GetCurrentThreadId();
    }
    void OnControlText(int, int, const std::string&) override {}
    void OnDialogOpened(int window, const std::string&) override { opened.push_back(window); }
    std::vector<std::pair<std::string, int>> boxes;
    std::vector<int> opened;
    DWORD boxThread = 0;
};

}  // namespace

TEST(Win32Window, MainWindowIsLaidOutOnTheResourcePixels) {
    Win32View view;
    TestWindow main(view, ids::kMainWindow);
    RunWith(view, main, [&] {
        HWND window = Handle(view, ids::kMainWindow);
        RECT client;
        GetClientRect(window, &client);
        EXPECT_EQ(client.right, 640);
        EXPECT_EQ(client.bottom, 480);
        EXPECT_EQ(WindowText(window), L"Veltrane");
        for (int id : {ids::kDownloadButton, ids::kPcArea, ids::kStatusLine, ids::kShopLink, ids::kRemoveButton}) {
            const ui::ControlResource* resource = ui::FindControlResource(ids::kMainWindow, id);
            RECT placed = ClientRectOf(Control(view, ids::kMainWindow, id));
            EXPECT_EQ(placed.left, resource->rect.x) << id;
            EXPECT_EQ(placed.top, resource->rect.y) << id;
            EXPECT_EQ(placed.right - placed.left, resource->rect.width) << id;
            EXPECT_EQ(placed.bottom - placed.top, resource->rect.height) << id;
        }
        EXPECT_EQ(WindowText(Control(view, ids::kMainWindow, ids::kConnectionText)), L"未接続");
        EXPECT_EQ(view.GetControlText(ids::kMainWindow, ids::kConnectionText), "未接続");
        // The start buttons draw their own faces; the lists are report views with grid lines,
        // the PC area with check boxes.
        EXPECT_EQ(GetWindowLongPtrW(Control(view, ids::kMainWindow, ids::kDownloadButton), GWL_STYLE) & BS_TYPEMASK,
                  BS_OWNERDRAW);
        DWORD pc = ListView_GetExtendedListViewStyle(Control(view, ids::kMainWindow, ids::kPcArea));
        DWORD server = ListView_GetExtendedListViewStyle(Control(view, ids::kMainWindow, ids::kServerArea));
        EXPECT_EQ(pc & (LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES), DWORD(LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES));
        EXPECT_EQ(server & (LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES), DWORD(LVS_EX_GRIDLINES));
        // The menu bar: three menus, the keys shown after a tab.
        HMENU bar = GetMenu(window);
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(GetMenuItemCount(bar), 3);
        wchar_t item[128] = {};
        GetMenuStringW(bar, ids::kMenuExit, item, 128, MF_BYCOMMAND);
        EXPECT_STREQ(item, L"終了(&X)\tF12");
    });
}

TEST(Win32Window, ButtonsMenusAndTheSystemCloseReachTheLogic) {
    Win32View view;
    TestWindow main(view, ids::kMainWindow);
    RunWith(view, main, [&] {
        EXPECT_TRUE(view.Press(ids::kMainWindow, ids::kDeleteButton));
        view.EnableControl(ids::kMainWindow, ids::kDeleteButton, false);
        EXPECT_FALSE(view.IsControlEnabled(ids::kMainWindow, ids::kDeleteButton));
        EXPECT_FALSE(view.Press(ids::kMainWindow, ids::kDeleteButton));
        view.ShowControl(ids::kMainWindow, ids::kRemoveButton, false);
        EXPECT_FALSE(view.Press(ids::kMainWindow, ids::kRemoveButton));
        // The logic disables the folder item as the menu opens.
        EXPECT_FALSE(view.ChooseMenu(ids::kMenuFolder));
        EXPECT_EQ(main.menuInits, 1);
        EXPECT_TRUE(view.ChooseMenu(ids::kMenuVersion));
        view.EnableSystemClose(ids::kMainWindow, false);
        SendMessageW(Handle(view, ids::kMainWindow), WM_CLOSE, 0, 0);
        EXPECT_EQ(main.commands, (std::vector<uint32_t>{ids::kDeleteButton, ids::kMenuVersion}));
        view.EnableSystemClose(ids::kMainWindow, true);
        SendMessageW(Handle(view, ids::kMainWindow), WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(main.commands, (std::vector<uint32_t>{ids::kDeleteButton, ids::kMenuVersion, IDCANCEL}));
}

TEST(Win32Window, EveryKeyPassesThePreFilterOnce) {
    Win32View view;
    TestWindow main(view, ids::kMainWindow);
    bool seen = false;
    main.onInit = [&] { view.SetTimer(ids::kMainWindow, 1, 10); };
    main.onTimer = [&](uint32_t) {
        if (seen) return;
        seen = true;
        view.KillTimer(ids::kMainWindow, 1);
        // Keys typed into a list of the main window, going through its modal loop.
        PostMessageW(Control(view, ids::kMainWindow, ids::kPcArea), WM_KEYDOWN, VK_F12, 0);
        PostMessageW(Control(view, ids::kMainWindow, ids::kPcArea), WM_KEYDOWN, VK_F3, 0);
        PostMessageW(Handle(view, ids::kMainWindow), WM_KEYDOWN, VK_ESCAPE, 0);
    };
    view.RunDialog(ids::kMainWindow, main);
    EXPECT_EQ(main.keys, (std::vector<uint32_t>{VK_F12, VK_F3, VK_ESCAPE}));
    // Esc still reaches the dialog manager: a Cancel command, which ended the window.
    EXPECT_EQ(main.commands, (std::vector<uint32_t>{IDCANCEL}));
}

TEST(Win32Window, ListRowsKeepTheirTextAndOnlyTheUsersChecksAreReported) {
    Win32View view;
    TestWindow main(view, ids::kMainWindow);
    RunWith(view, main, [&] {
        EXPECT_EQ(view.InsertColumn(ids::kPcArea, 0, "地図データ", 200), 0);
        EXPECT_EQ(view.InsertColumn(ids::kPcArea, 1, "サイズ", 70), 1);
        EXPECT_EQ(view.InsertColumn(ids::kPcArea, -1, "x", 70), -1);
        EXPECT_EQ(view.InsertRow(ids::kPcArea, 0, "ﾀﾞｳﾝﾛｰﾄﾞ ソフト"), 0);
        EXPECT_EQ(view.InsertRow(ids::kPcArea, 5, "二行目"), 1);  // past the end: appended
        EXPECT_TRUE(view.SetCellText(ids::kPcArea, 1, 1, "120MB"));
        EXPECT_FALSE(view.SetCellText(ids::kPcArea, 2, 0, "no such row"));
        EXPECT_EQ(view.GetCellText(ids::kPcArea, 0, 0), "ﾀﾞｳﾝﾛｰﾄﾞ ソフト");
        EXPECT_EQ(view.GetCellText(ids::kPcArea, 1, 1), "120MB");
        wchar_t shown[64] = {};
        LVITEMW cell{};
        cell.pszText = shown;
        cell.cchTextMax = 64;
        SendMessageW(Control(view, ids::kMainWindow, ids::kPcArea), LVM_GETITEMTEXTW, 0,
                     reinterpret_cast<LPARAM>(&cell));
        EXPECT_STREQ(shown, L"ﾀﾞｳﾝﾛｰﾄﾞ ソフト");

        view.SetRowChecked(ids::kPcArea, 1, true);
        EXPECT_TRUE(view.IsRowChecked(ids::kPcArea, 1));
        EXPECT_TRUE(main.changes.empty());  // the window's own change
        EXPECT_TRUE(view.ClickRowCheckBox(ids::kPcArea, 0));
        EXPECT_TRUE(view.IsRowChecked(ids::kPcArea, 0));
        ASSERT_EQ(main.changes.size(), 1u);
        EXPECT_EQ(main.changes[0].listId, ids::kPcArea);
        EXPECT_EQ(main.changes[0].row, 0);
        EXPECT_EQ(main.changes[0].newStateImage, platform::kStateChecked);
        EXPECT_TRUE(view.ClickRowCheckBox(ids::kPcArea, 0));
        ASSERT_EQ(main.changes.size(), 2u);
        EXPECT_EQ(main.changes[1].newStateImage, platform::kStateUnchecked);
        EXPECT_FALSE(view.ClickRowCheckBox(ids::kPcArea, 2));
        EXPECT_FALSE(view.ClickRowCheckBox(ids::kServerArea, 0));  // no check boxes there

        view.DeleteRow(ids::kPcArea, 0);
        EXPECT_EQ(view.RowCount(ids::kPcArea), 1);
        EXPECT_EQ(view.GetCellText(ids::kPcArea, 0, 0), "二行目");
        EXPECT_TRUE(view.IsRowChecked(ids::kPcArea, 0));
        view.DeleteAllRows(ids::kPcArea);
        EXPECT_EQ(view.RowCount(ids::kPcArea), 0);
        EXPECT_EQ(ListView_GetItemCount(Control(view, ids::kMainWindow, ids::kPcArea)), 0);
        EXPECT_EQ(main.changes.size(), 2u);
    });
}

TEST(Win32Window, TimersAndPostedNotificationsArriveOnTheWindowThread) {
    Win32View view;
    TestWindow main(view, ids::kMainWindow);
    DWORD windowThread = GetCurrentThreadId();
    RunWith(view, main, [&] {
        view.SetTimer(ids::kMainWindow, 7, 10);
        EXPECT_TRUE(PumpUntil([&] { return main.timers.size() >= 2; }));
        view.KillTimer(ids::kMainWindow, 7);
        size_t ticks = main.timers.size();
        PumpUntil([] { return false; }, 200);
        EXPECT_EQ(main.timers.size(), ticks);
        EXPECT_EQ(main.timers[0], 7u);

        std::thread worker([&] { view.PostNotify(ids::kMainWindow, 3, -4); });
        worker.join();
        EXPECT_TRUE(PumpUntil([&] { return !main.notifies.empty(); }));
        EXPECT_EQ(main.notifies[0], (std::pair<uintptr_t, intptr_t>{3, -4}));
        EXPECT_EQ(main.notifyThread, windowThread);
    });
    // A notification for a window that is no longer open is dropped.
    view.PostNotify(ids::kMainWindow, 9, 9);
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(main.notifies.size(), 1u);
}

TEST(Win32Window, BoxesFromWorkerThreadsRunOnTheWindowThreadWhileTheCallerWaits) {
    Win32View view;
    Recorder recorder;
    view.SetObserver(&recorder);
    TestWindow main(view, ids::kMainWindow);
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    std::string shot = std::string(folder) + "veltrane-box.png";
    DeleteFileA(shot.c_str());
    int answer = 0;
    RunWith(view, main, [&] {
        view.AnswerNextBox(IDCANCEL);
        view.ScreenshotNextBox(shot);
        std::thread worker([&] { answer = view.MessageBox({"削除しますか？", "確認", MB_OKCANCEL | MB_ICONWARNING}); });
        EXPECT_TRUE(PumpUntil([&] { return !recorder.boxes.empty(); }));
        worker.join();
    });
    EXPECT_EQ(answer, IDCANCEL);
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].first, "確認");
    EXPECT_EQ(recorder.boxThread, GetCurrentThreadId());
    std::ifstream picture(shot, std::ios::binary);
    char signature[8] = {};
    picture.read(signature, 8);
    EXPECT_EQ(std::string(signature + 1, 3), "PNG");
}

TEST(Win32Window, TheBoxHookSetsTheCaptionAndTheButtonLabels) {
    auto labels = [](bool english) {
        std::wstring caption, ok, cancel;
        platform::MessageBoxRequest request{"本文", "お知らせ", MB_OKCANCEL, false, english};
        int answer = ui::win32::ShowMessageBox(
            request, nullptr, ui::win32::ScriptedBoxAnswer{IDOK, [&](HWND box) {
                                                               caption = WindowText(box);
                                                               ok = WindowText(GetDlgItem(box, IDOK));
                                                               cancel = WindowText(GetDlgItem(box, IDCANCEL));
                                                           }});
        EXPECT_EQ(answer, IDOK);
        return std::vector<std::wstring>{caption, ok, cancel};
    };
    EXPECT_EQ(labels(true), (std::vector<std::wstring>{L"お知らせ", L"OK", L"Cancel"}));
    EXPECT_EQ(labels(false), (std::vector<std::wstring>{L"お知らせ", L"OK", L"キャンセル"}));
}

TEST(Win32Window, DeviceChangesReachEveryOpenWindowAndTheHiddenWatcherEndsWithItsOwner) {
    Win32View view;
    TestWindow main(view, ids::kMainWindow);
    TestWindow watcher(view, ids::kWatcherDialog);
    RunWith(view, main, [&] {
        ASSERT_TRUE(view.CreateModeless(ids::kWatcherDialog, ids::kMainWindow, watcher));
        HWND hidden = Handle(view, ids::kWatcherDialog);
        EXPECT_FALSE(IsWindowVisible(hidden));
        for (HWND window : {Handle(view, ids::kMainWindow), hidden}) {
            SendMessageW(window, WM_DEVICECHANGE, 0x8000, 0);  // DBT_DEVICEARRIVAL
            SendMessageW(window, WM_DEVICECHANGE, 0x8001, 0);  // DBT_QUERYREMOVE: no change yet
            SendMessageW(window, WM_DEVICECHANGE, 0x0007, 0);  // DBT_DEVNODES_CHANGED
        }
        EXPECT_EQ(main.deviceChanges, 2);
        EXPECT_EQ(watcher.deviceChanges, 2);
        EXPECT_TRUE(view.IsWindowOpen(ids::kWatcherDialog));
    });
    EXPECT_FALSE(view.IsWindowOpen(ids::kWatcherDialog));
}

// Windows sends the removal events of a registered handle to its window; Wine sends none, so
// the test sends them as Windows would, with the handle's broadcast.
TEST(Win32Window, AWatchedVolumeHandleIsAskedBeforeItsRemovalAndAnswersAsTheLogicSays) {
    Win32View view;
    TestWindow main(view, ids::kMainWindow);
    HANDLE volume =
        CreateFileW(L"\\\\.\\C:", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(volume, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(view.WatchVolumeRemoval(ids::kMainWindow, volume)) << "no window to register with yet";
    RunWith(view, main, [&] {
        ASSERT_TRUE(view.WatchVolumeRemoval(ids::kMainWindow, volume));
        DEV_BROADCAST_HANDLE event{};
        event.dbch_size = sizeof event;
        event.dbch_devicetype = DBT_DEVTYP_HANDLE;
        event.dbch_handle = volume;
        const auto send = [&](WPARAM type, const void* data) {
            return SendMessageW(Handle(view, ids::kMainWindow), WM_DEVICECHANGE, type, reinterpret_cast<LPARAM>(data));
        };
        main.allowRemoval = false;
        EXPECT_EQ(send(DBT_DEVICEQUERYREMOVE, &event), BROADCAST_QUERY_DENY);
        main.allowRemoval = true;
        EXPECT_EQ(send(DBT_DEVICEQUERYREMOVE, &event), TRUE);
        // Another program refused the removal, or it goes ahead: the window hears which, for
        // the handle it registered, and no device change.
        send(DBT_DEVICEQUERYREMOVEFAILED, &event);
        send(DBT_DEVICEREMOVEPENDING, &event);
        send(DBT_DEVICEREMOVECOMPLETE, &event);
        using Events = std::vector<std::pair<std::string, platform::HANDLE>>;
        EXPECT_EQ(
            main.removalEvents,
            (Events{
                {"query", volume}, {"query", volume}, {"failed", volume}, {"removed", volume}, {"removed", volume}}));
        EXPECT_EQ(main.deviceChanges, 0);
        view.StopWatchingVolumeRemoval(volume);
    });
    EXPECT_TRUE(CloseHandle(volume));
}

// The shell sends its registered message to the foreground window before AutoPlay starts;
// Wine's shell sends none, so the test sends it as the shell would.
TEST(Win32Window, TheShellsAutoPlayQueryIsAnsweredAsTheLogicSays) {
    Win32View view;
    TestWindow main(view, ids::kMainWindow);
    RunWith(view, main, [&] {
        const UINT query = RegisterWindowMessageW(L"QueryCancelAutoPlay");
        ASSERT_NE(query, 0u);
        EXPECT_EQ(SendMessageW(Handle(view, ids::kMainWindow), query, 0, 0), FALSE);
        main.cancelAutoPlay = true;
        EXPECT_EQ(SendMessageW(Handle(view, ids::kMainWindow), query, 0, 0), TRUE);
    });
}

TEST(Win32Window, ScriptedDialogAnswersAndClosingEverything) {
    Win32View view;
    Recorder recorder;
    view.SetObserver(&recorder);
    TestWindow exit(view, ids::kExitDialog);
    view.AnswerNextDialog(ids::kExitDialog, IDOK);
    EXPECT_EQ(view.RunDialog(ids::kExitDialog, exit), IDOK);
    EXPECT_EQ(exit.commands, (std::vector<uint32_t>{IDOK}));
    EXPECT_EQ(recorder.opened, (std::vector<int>{ids::kExitDialog}));

    view.CloseAll();
    TestWindow later(view, ids::kVersionDialog);
    bool initialised = false;
    later.onInit = [&] { initialised = true; };
    EXPECT_EQ(view.RunDialog(ids::kVersionDialog, later), IDCANCEL);
    EXPECT_TRUE(initialised);
    EXPECT_EQ(view.RunDialog(9999, later), -1);  // no such resource
}

TEST(Win32Window, TheProxyPromptReturnsWhatTheUserTyped) {
    Win32View view;
    TestWindow main(view, ids::kMainWindow);
    std::optional<platform::ProxyCredentials> typed, declined = platform::ProxyCredentials{};
    // The user, at the prompt the window thread shows in its own loop.
    auto user = [](bool accept) {
        return std::thread([accept] {
            HWND prompt = nullptr;
            // Found once its last control exists: the dialog is up.
            for (int tries = 0; tries < 400 && (prompt == nullptr || GetDlgItem(prompt, IDCANCEL) == nullptr);
                 ++tries, Sleep(5))
                prompt = FindWindowW(nullptr, L"プロキシの認証");
            if (prompt == nullptr) return;
            SetDlgItemTextW(prompt, 1001, L"ユーザー");
            SetDlgItemTextW(prompt, 1002, L"pa55");
            PostMessageW(prompt, WM_COMMAND, accept ? IDOK : IDCANCEL, 0);
        });
    };
    RunWith(view, main, [&] {
        // Asked from the download thread; answered on the window thread.
        std::thread accepting = user(true);
        std::thread first([&] { typed = view.AskProxyCredentials("127.0.0.1:8080"); });
        EXPECT_TRUE(PumpUntil([&] { return typed.has_value(); }));
        first.join();
        accepting.join();
        std::thread declining = user(false);
        bool asked = false;
        std::thread second([&] {
            declined = view.AskProxyCredentials("127.0.0.1:8080");
            asked = true;
        });
        EXPECT_TRUE(PumpUntil([&] { return asked; }));
        second.join();
        declining.join();
    });
    ASSERT_TRUE(typed.has_value());
    EXPECT_EQ(typed->user, "ユーザー");
    EXPECT_EQ(typed->password, "pa55");
    EXPECT_FALSE(declined.has_value());
}

TEST(Win32Window, ScreenshotIsAPngOfTheTopWindow) {
    Win32View view;
    TestWindow main(view, ids::kMainWindow);
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    std::string shot = std::string(folder) + "veltrane-main.png";
    RECT bounds{};
    EXPECT_FALSE(view.Screenshot(shot));  // no window open
    RunWith(view, main, [&] {
        GetWindowRect(Handle(view, ids::kMainWindow), &bounds);
        EXPECT_TRUE(view.Screenshot(shot));
    });
    std::ifstream picture(shot, std::ios::binary);
    unsigned char header[24] = {};
    picture.read(reinterpret_cast<char*>(header), 24);
    ASSERT_TRUE(picture.good());
    EXPECT_EQ(header[1], 'P');
    auto bigEndian = [&](int at) {
        return header[at] << 24 | header[at + 1] << 16 | header[at + 2] << 8 | header[at + 3];
    };
    EXPECT_EQ(bigEndian(16), bounds.right - bounds.left);
    EXPECT_EQ(bigEndian(20), bounds.bottom - bounds.top);
}

namespace {

// The dots per inch of the screen the windows are drawn on.
int ScreenDpi() {
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

// A run asks for its screen's resolution (VELTRANE_EXPECT_DPI, set with the prefix's
// LogPixels); without it the screen is taken as it comes.
int ExpectedDpi() {
    const char* expected = std::getenv("VELTRANE_EXPECT_DPI");
    return expected == nullptr ? ScreenDpi() : std::atoi(expected);
}

// The room a control has for its text, and the size the text takes there in the control's
// font. Labels wrap their words; buttons hold one line; an owner-drawn face with its icon
// keeps the icon's band (5 + 32 + 5 pixels at 96 DPI) on the left and 4 pixels on the right.
struct TextFit {
    SIZE room, text;
};
TextFit Measure(HWND control, int dpi) {
    wchar_t className[32] = {};
    GetClassNameW(control, className, 32);
    std::wstring text = WindowText(control);
    RECT client;
    GetClientRect(control, &client);
    TextFit fit{{client.right, client.bottom}, {0, 0}};
    HDC dc = GetDC(control);
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    if (_wcsicmp(className, L"Static") == 0) {
        RECT wrapped{0, 0, client.right, 0};
        DrawTextW(dc, text.c_str(), -1, &wrapped, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
        fit.text = {wrapped.right, wrapped.bottom};
    } else {
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &fit.text);
        if ((GetWindowLongPtrW(control, GWL_STYLE) & BS_TYPEMASK) == BS_OWNERDRAW)
            fit.room.cx -= MulDiv(5 + 32 + 5 + 4, dpi, 96);
    }
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return fit;
}

// Controls that show a text of their own: buttons, and labels (not pictures or icons).
bool ShowsText(HWND control) {
    wchar_t className[32] = {};
    GetClassNameW(control, className, 32);
    LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
    bool label = _wcsicmp(className, L"Static") == 0 && (style & SS_TYPEMASK) == SS_LEFT;
    return (label || _wcsicmp(className, L"Button") == 0) && !WindowText(control).empty();
}

}  // namespace

// Run at 96 DPI and at 144 (150 %) with a Japanese font, each in a prefix whose LogPixels says so.
TEST(Win32Resolution, EveryLabelAndButtonTextFitsItsControlInEveryWindow) {
    int dpi = ScreenDpi();
    ASSERT_EQ(dpi, ExpectedDpi());
    Win32View view;
    for (int id : {ids::kMainWindow, ids::kConfirmationDialog, ids::kConnectionDialog, ids::kVersionDialog,
                   ids::kExitDialog, ids::kProcessDialog}) {
        TestWindow window(view, id);
        int checked = 0;
        RunWith(view, window, [&] {
            if (id == ids::kMainWindow) {
                // The faces carry their icons, as the window logic sets them.
                view.SetControlIcon(id, ids::kDownloadButton, ids::kIconStartEnabled);
                view.SetControlIcon(id, ids::kTransferButton, ids::kIconStartEnabled);
            }
            for (HWND control = GetWindow(Handle(view, id), GW_CHILD); control != nullptr;
                 control = GetWindow(control, GW_HWNDNEXT)) {
                if (!ShowsText(control)) continue;
                ++checked;
                TextFit fit = Measure(control, dpi);
                EXPECT_LE(fit.text.cx, fit.room.cx) << "window " << id << ": " << WindowText(control);
                EXPECT_LE(fit.text.cy, fit.room.cy) << "window " << id << ": " << WindowText(control);
            }
        });
        EXPECT_GT(checked, 0) << "window " << id;
    }
}

TEST(Win32Resolution, RectanglesFontsBitmapsAndColumnsFollowTheScreen) {
    // Pixels of the layout as placed on a screen of 96 and of 144 DPI.
    struct Expected {
        int dpi;
        SIZE mainClient;
        RECT deleteButton, pcArea, link;  // left, top, right, bottom
        int linkFontHeight, columnWidth;
        SIZE banner, exitClient;
    };
    const Expected table[] = {
        {96,
         {640, 480},
         {486, 206, 634, 230},
         {8, 158, 481, 230},
         {470, 456, 632, 472},
         -12,
         200,
         {640, 34},
         {279, 128}},
        {144,
         {960, 720},
         {729, 309, 951, 345},
         {12, 237, 722, 345},
         {705, 684, 948, 708},
         -18,
         300,
         {960, 51},
         {419, 192}},
    };
    int dpi = ScreenDpi();
    const Expected* expected = nullptr;
    for (const Expected& row : table)
        if (row.dpi == dpi) expected = &row;
    if (expected == nullptr) GTEST_SKIP() << "no figures for " << dpi << " DPI";

    Win32View view;
    TestWindow main(view, ids::kMainWindow);
    RunWith(view, main, [&] {
        RECT client;
        GetClientRect(Handle(view, ids::kMainWindow), &client);
        EXPECT_EQ(client.right, expected->mainClient.cx);
        EXPECT_EQ(client.bottom, expected->mainClient.cy);
        auto placed = [&](int id) {
            RECT r = ClientRectOf(Control(view, ids::kMainWindow, id));
            return std::vector<LONG>{r.left, r.top, r.right, r.bottom};
        };
        auto edges = [](const RECT& r) { return std::vector<LONG>{r.left, r.top, r.right, r.bottom}; };
        EXPECT_EQ(placed(ids::kDeleteButton), edges(expected->deleteButton));
        EXPECT_EQ(placed(ids::kPcArea), edges(expected->pcArea));
        EXPECT_EQ(placed(ids::kShopLink), edges(expected->link));

        LOGFONTW font{};
        GetObjectW(
            reinterpret_cast<HFONT>(SendMessageW(Control(view, ids::kMainWindow, ids::kShopLink), WM_GETFONT, 0, 0)),
            sizeof font, &font);
        EXPECT_EQ(font.lfHeight, expected->linkFontHeight);

        // The logic's column widths are pixels of the layout too.
        ASSERT_EQ(view.InsertColumn(ids::kPcArea, 0, "地図データ", 200), 0);
        EXPECT_EQ(ListView_GetColumnWidth(Control(view, ids::kMainWindow, ids::kPcArea), 0), expected->columnWidth);

        BITMAP banner{};
        HWND bannerControl = Control(view, ids::kMainWindow, ids::kBanner);
        GetObjectW(reinterpret_cast<HBITMAP>(SendMessageW(bannerControl, STM_GETIMAGE, IMAGE_BITMAP, 0)), sizeof banner,
                   &banner);
        EXPECT_EQ(banner.bmWidth, expected->banner.cx);
        EXPECT_EQ(banner.bmHeight, expected->banner.cy);
        RECT bannerRect = ClientRectOf(bannerControl);
        EXPECT_EQ(bannerRect.right - bannerRect.left, expected->banner.cx);
    });

    TestWindow exit(view, ids::kExitDialog);
    RunWith(view, exit, [&] {
        RECT client;
        GetClientRect(Handle(view, ids::kExitDialog), &client);
        EXPECT_EQ(client.right, expected->exitClient.cx);
        EXPECT_EQ(client.bottom, expected->exitClient.cy);
    });
}

namespace {

// A URL scheme registered for the test's life: opening one of its URLs runs the command.
class UrlScheme {
public:
    UrlScheme(const std::wstring& scheme, const std::wstring& command) : scheme_(scheme) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CLASSES_ROOT, scheme.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
            ERROR_SUCCESS) {
            RegSetValueExW(key, L"URL Protocol", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
            RegSetKeyValueW(key, L"shell\\open\\command", nullptr, REG_SZ, command.c_str(),
                            static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
            RegCloseKey(key);
        }
    }
    ~UrlScheme() { RegDeleteTreeW(HKEY_CLASSES_ROOT, scheme_.c_str()); }

private:
    std::wstring scheme_;
};

// A file of UTF-16 text.
std::wstring FileText(const std::wstring& path) {
    std::wstring text;
    if (FILE* file = _wfopen(path.c_str(), L"rb")) {
        wchar_t c;
        while (std::fread(&c, sizeof c, 1, file) == 1) text += c;
        std::fclose(file);
    }
    return text;
}

}  // namespace

// Whether the desktop's shell lists its desktop window, as the user's shell is asked for it.
bool DesktopListed() {
    IShellWindows* windows = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&windows))))
        return false;
    VARIANT desktop, none;
    VariantInit(&desktop);
    VariantInit(&none);
    desktop.vt = VT_I4;
    desktop.lVal = CSIDL_DESKTOP;
    long handle = 0;
    IDispatch* found = nullptr;
    const bool listed = windows->FindWindowSW(&desktop, &none, SWC_DESKTOP, &handle, SWFO_NEEDDISPATCH, &found) == S_OK;
    if (found) found->Release();
    windows->Release();
    return listed;
}

// The program runs elevated: a browser it started itself would too. The desktop's shell,
// which runs as the user, opens the URL; url_recorder (beside the test) stands in for the
// browser and notes who started it and what it got.
TEST(Win32Window, ShellOpenHandsTheUrlToTheDesktopShellUnchanged) {
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring folder = module;
    folder.resize(folder.rfind(L'\\') + 1);
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring record = std::wstring(temp) + L"veltrane-url.txt";
    DeleteFileW(record.c_str());
    UrlScheme scheme(L"veltrane-test", L"\"" + folder + L"url_recorder.exe\" \"" + record + L"\" \"%1\"");

    Win32View view;
    TestWindow main(view, ids::kMainWindow);
    RunWith(view, main, [&] {
        // Wine starts the desktop's shell with the first window and lists its desktop among the
        // shell windows a moment later, later still beside other Wine programs; on a user's PC
        // the shell is up long before a link is clicked.
        ASSERT_TRUE(PumpUntil(DesktopListed, 30000)) << "Wine's desktop shell did not come up";
        view.ShellOpen("veltrane-test:manual/地図?page=2&q=a%20b+c#top");
        EXPECT_TRUE(PumpUntil([&] { return GetFileAttributesW(record.c_str()) != INVALID_FILE_ATTRIBUTES; }, 10000));
    });
    std::wstring recorded = FileText(record);
    size_t line = recorded.find(L'\n');
    ASSERT_NE(line, std::wstring::npos) << recorded;
    EXPECT_EQ(_wcsicmp(recorded.substr(0, line).c_str(), L"explorer.exe"), 0) << recorded.substr(0, line);
    EXPECT_EQ(recorded.substr(line + 1), L"veltrane-test:manual/地図?page=2&q=a%20b+c#top");
    DeleteFileW(record.c_str());
}

// The shell is asked for the taskbar progress, the flash and the balloon, and answers each.
TEST(Win32Window, ProgressFlashAndNoticeAreAskedOfTheShellAndAnswered) {
    Win32View view;
    TestWindow main(view, ids::kMainWindow);
    RunWith(view, main, [&] {
        EXPECT_EQ(view.OutsideAnswers().progressState, S_FALSE) << "nothing asked yet";
        view.SetTaskbarProgress(ids::kMainWindow, platform::TaskbarProgress::Normal, 40);
        EXPECT_EQ(view.OutsideAnswers().progressState, S_OK);
        EXPECT_EQ(view.OutsideAnswers().progressValue, S_OK);
        view.SetTaskbarProgress(ids::kMainWindow, platform::TaskbarProgress::Error, 40);
        EXPECT_EQ(view.OutsideAnswers().progressState, S_OK);
        view.FlashWindow(ids::kMainWindow);
        EXPECT_NE(view.OutsideAnswers().flashed, -1);
        view.ShowDesktopNotice(ids::kMainWindow, "ヴェルトレーン", "地図の転送に失敗しました。", true);
        // Wine's null driver has no notification area: it answers FALSE, a desktop TRUE.
        EXPECT_NE(view.OutsideAnswers().noticeShown, -1);
    });
}

namespace {

// What the thread timer of the picture test looks for while a box's or a menu's loop runs.
std::function<bool()> whileModal;

void CALLBACK OnModalTick(HWND, UINT, UINT_PTR timer, DWORD) {
    if (whileModal && whileModal()) KillTimer(nullptr, timer);
}

std::string ModuleFolder() {
    char module[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    std::string folder = module;
    return folder.substr(0, folder.rfind('\\') + 1);
}

}  // namespace

// A failed transfer's box and the help menu as Win32 draws them; the pictures are left beside
// the test program (docs/images/win32-transfer-failed-box.png and win32-help-menu.png).
TEST(Win32Window, TheFailedTransferBoxAndTheHelpMenuAsDrawn) {
    Win32View view;
    TestWindow main(view, ids::kMainWindow);
    const std::string folder = ModuleFolder();
    bool boxPictured = false, menuPictured = false;
    RunWith(view, main, [&] {
        whileModal = [&] {
            HWND box = FindWindowW(L"#32770", L"エラー");
            if (box == nullptr) return false;
            boxPictured = ui::win32::SaveWindowPicture(box, folder + "win32-transfer-failed-box.png");
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            return true;
        };
        SetTimer(nullptr, 0, 100, OnModalTick);
        platform::MessageBoxRequest box;
        box.text = ui::win32::Narrow(
            L"ナビゲーションへの地図の転送に失敗しました。\nUSBケーブルの接続を確認してから、もう一度［転送開始］を押し"
            L"てください。"
            L"\n繰り返し失敗する場合は、ダウンロードデータを削除して、もう一度ダウンロードしてください。\n(E04)\n\n"
            L"次の手順：ナビゲーションをPC接続画面にして、USBケーブルでパソコンに接続し直してください。"
            L"「接続済み」と表示されてから、もう一度［転送開始］を押してください。転送中はUSBケーブルを抜かないでくださ"
            L"い。"
            L"\n解決しない場合は、メニューの［ヘルプ］→［サポート情報の保存］で作ったフォルダを、お問い合わせ先にお送り"
            L"ください。保存先：C:\\users\\user\\AppData\\Local\\Veltrane\\SupportReport\\");
        box.caption = ui::win32::Narrow(L"エラー");
        box.type = MB_OK | MB_ICONERROR;
        view.MessageBox(box);

        whileModal = [&] {
            HWND menu = FindWindowW(L"#32768", nullptr);
            if (menu == nullptr) return false;
            menuPictured = ui::win32::SaveWindowPicture(menu, folder + "win32-help-menu.png");
            EndMenu();
            return true;
        };
        SetTimer(nullptr, 0, 100, OnModalTick);
        // Alt+H, as the user opens the help menu.
        SendMessageW(Handle(view, ids::kMainWindow), WM_SYSCOMMAND, SC_KEYMENU, L'h');
    });
    whileModal = nullptr;
    EXPECT_TRUE(boxPictured);
    EXPECT_TRUE(menuPictured);
}
