// The program: the application object on the front end the machine asks for (Qt on a
// display, offscreen Qt for an automatic run without one, or the headless front end), with
// the automation script when the machine names one.
#include <QApplication>

#include "state/VeltraneApp.h"
#include "platform/Version.h"
#include "platform/View.h"
#include "ui/headless/HeadlessView.h"
#include "ui/qt/QtView.h"
#include "ui/script/AutomatedRun.h"

VELTRANE_VERSION_RESOURCE(kVersionResource, "\\StringFileInfo\\041103a4\\FileVersion\0" "1.0.3\0"
                                            "\\StringFileInfo\\041103a4\\ProductName\0" "Veltrane\0");

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

int main(int argc, char** argv) {
    ui::AutomationConfig config = ui::ReadAutomationConfig();
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
}
