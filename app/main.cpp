// The program: the application object on the headless front end until the window's own
// front ends are wired in.
#include "app/VeltraneApp.h"
#include "platform/Version.h"
#include "platform/View.h"
#include "ui/headless/HeadlessView.h"

VELTRANE_VERSION_RESOURCE(kVersionResource, "\\StringFileInfo\\041103a4\\FileVersion\0" "1.0.3\0"
                                            "\\StringFileInfo\\041103a4\\ProductName\0" "Veltrane\0");

int main() {
    HeadlessView view;
    platform::SetView(&view);
    theApp.InitInstance();
    return 0;
}
