// The program: the application object on the front end the caller or the machine asks for (the
// Win32 window on Windows; elsewhere Qt on a display, offscreen Qt for an automatic run without
// one; or the headless front end), with the automation script when one is named. The exit
// status tells a script's outcome (docs/automation.md).
#include <cstdio>
#include <string>
#include <vector>

#include "state/VeltraneApp.h"
#include "platform/Error.h"
#include "platform/Library.h"
#include "platform/Version.h"
#include "platform/View.h"
#include "ui/headless/HeadlessView.h"
#include "ui/script/AutomatedRun.h"
#ifdef _WIN32
#include "ui/win32/CommandLine.h"
#include "ui/win32/Win32View.h"
#else
#include <QApplication>

#include "platform/posix/MachineSource.h"
#include "ui/qt/QtView.h"
#endif

VELTRANE_VERSION_RESOURCE(kVersionResource,
                          "\\StringFileInfo\\041103a4\\FileVersion\0"
                          "1.0.3\0"
                          "\\StringFileInfo\\041103a4\\ProductName\0"
                          "Veltrane\0");

namespace {

template <class FrontEnd>
int Run(FrontEnd& view, ui::AutomatedRun& run) {
    platform::SetView(&view);
    run.Start(view);
    theApp.InitInstance();
    int status = run.End();
    platform::SetView(nullptr);
    return status;
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
#ifdef _WIN32
    const std::vector<std::string> arguments = ui::win32::ProgramArguments();
    // Only a caller that gave options hears from the program; a user's start stays as it was.
    if (!arguments.empty()) ui::win32::AttachCallerConsole();
    const ui::CommandLine line = ui::ParseCommandLine(arguments);
#else
    // The PC's drives and devices come from the simulated machine or the real PC for the whole run.
    platform::ChooseMachine();
    const ui::CommandLine line = ui::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
#endif
    if (line.help) {
        std::fputs(ui::Usage().c_str(), stdout);
        return ui::kExitCompleted;
    }
    if (!line.error.empty()) {
        std::fprintf(stderr, "veltrane: %s\n%s", line.error.c_str(), ui::Usage().c_str());
        return ui::kExitUnreadable;
    }
    const ui::AutomationConfig config = line.config ? *line.config : ui::ReadAutomationConfig();
    ui::AutomatedRun run(config);
    if (!run.Runnable()) return run.End();
#ifdef _WIN32
    if (config.frontEnd == "headless") {
        HeadlessView view;
        return Run(view, run);
    }
    ui::win32::Win32View view;
    return Run(view, run);
#else
    if (!ui::UseQt(config)) {
        HeadlessView view;
        return Run(view, run);
    }
    if (!ui::DisplayAvailable()) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ui::qt::QtView view;
    return Run(view, run);
#endif
}
