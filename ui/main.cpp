// The program: the application object on the front end the machine asks for (the Win32
// window on Windows; elsewhere Qt on a display, offscreen Qt for an automatic run without
// one; or the headless front end), with the automation script when the machine names one.
#include "state/VeltraneApp.h"
#include "platform/Error.h"
#include "platform/Library.h"
#include "platform/Version.h"
#include "platform/View.h"
#include "ui/headless/HeadlessView.h"
#include "ui/script/AutomatedRun.h"
#ifdef _WIN32
#include "ui/win32/Win32View.h"
#else
#include <QApplication>

#include "ui/qt/QtView.h"
#endif

VELTRANE_VERSION_RESOURCE(kVersionResource,
                          "\\StringFileInfo\\041103a4\\FileVersion\0"
                          "1.0.3\0"
                          "\\StringFileInfo\\041103a4\\ProductName\0"
                          "Veltrane\0");

namespace {

template <class FrontEnd>
void Run(FrontEnd& view, const ui::AutomationConfig& config) {
    platform::SetView(&view);
    auto script = ui::StartScript(view, config);
    theApp.InitInstance();
    script.reset();
    platform::SetView(nullptr);
}

}  // namespace

int main([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
    // Before anything loads a library: the system's own come from System32 only, never from the
    // program folder or the working directory. A failure leaves the system's order, and the
    // program's own two libraries still go by full path.
    static_cast<void>(platform::SetDefaultDllDirectories(platform::LOAD_LIBRARY_SEARCH_SYSTEM32));
    // No system "no disk" box may stop a thread: probing an empty card-reader slot, or a unit
    // pulled mid-write, fails the call instead.
    platform::FailCriticalErrorsQuietly();
    ui::AutomationConfig config = ui::ReadAutomationConfig();
#ifdef _WIN32
    if (config.frontEnd == "headless") {
        HeadlessView view;
        Run(view, config);
    } else {
        ui::win32::Win32View view;
        Run(view, config);
    }
    return 0;
#else
    if (!ui::UseQt(config)) {
        HeadlessView view;
        Run(view, config);
        return 0;
    }
    if (!ui::DisplayAvailable()) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ui::qt::QtView view;
    Run(view, config);
    return 0;
#endif
}
