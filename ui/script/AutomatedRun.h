// The automatic mode: machine.ini's [Automation] section names the front end and the script;
// on Windows, where no machine is simulated, Automation.ini in the program folder does.
//   [Automation]
//   FrontEnd=qt | headless      (absent: Qt when there is a display, else headless; on
//                               Windows the Win32 window unless it says headless)
//   Script=demo.script          (relative to the machine folder / program folder)
//   Transcript=demo.transcript  (default: the script's name + ".transcript")
//   Screenshots=shots           (default: the machine folder / program folder)
// The program itself reads no options; this is the platform's configuration of the machine.
#pragma once

#include <memory>
#include <string>

#include "ui/script/ScriptDriver.h"

namespace ui {

struct AutomationConfig {
    std::string frontEnd;  // "qt", "headless" or empty
    std::string script;    // native paths; empty when there is no script
    std::string transcript;
    std::string screenshots;
};

AutomationConfig ReadAutomationConfig();
// Whether Qt can show windows here: a display, or a Qt platform chosen in the environment.
bool DisplayAvailable();
bool UseQt(const AutomationConfig& config);
// The configured script's driver attached to the front end, or nullptr without a script. A
// script that cannot be read or parsed is reported in the transcript and closes the windows.
std::unique_ptr<ScriptDriver> StartScript(Automation& automation, const AutomationConfig& config);

}  // namespace ui
