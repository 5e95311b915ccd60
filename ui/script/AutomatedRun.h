// The automatic mode: a script replayed on a front end, from the command line
//   veltrane --script FILE [--transcript FILE] [--screenshots DIR] [--result FILE]
//            [--front-end headless|qt]             (Veltrane.exe: headless|win32)
// or, without options, from the machine's own configuration: machine.ini's [Automation]
// section on the simulated machine, Automation.ini in the program folder on Windows.
//   [Automation]
//   FrontEnd=qt | headless      (absent: Qt when there is a display, else headless; on
//                               Windows the Win32 window unless it says headless)
//   Script=demo.script          (relative to the machine folder / program folder)
//   Transcript=demo.transcript  (default: the script's name + ".transcript")
//   Screenshots=shots           (default: the machine folder / program folder)
// The run's outcome is the exit status (docs/automation.md).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/script/ScriptDriver.h"
#include "ui/script/SessionResult.h"

namespace ui {

// The program's exit status.
enum ExitStatus : int {
    kExitCompleted = 0,   // no script, or the script ran to its end
    kExitFailed = 1,      // a line of the script failed
    kExitUnreadable = 2,  // the script (or the command line) could not be read or parsed
};

// The window's front end on this system, as --front-end names it.
#ifdef _WIN32
inline constexpr char kWindowFrontEnd[] = "win32";
#else
inline constexpr char kWindowFrontEnd[] = "qt";
#endif

struct AutomationConfig {
    std::string frontEnd;  // kWindowFrontEnd, "headless" or empty
    std::string script;    // native paths; empty when there is no script
    std::string transcript;
    std::string screenshots;
    std::string result;  // the result file; empty for none
};

struct CommandLine {
    std::optional<AutomationConfig> config;  // when options were given
    bool help = false;
    std::string error;  // what was wrong with the options
};

// The options after the program's name.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);
// What --help prints.
std::string Usage();

AutomationConfig ReadAutomationConfig();
// Whether Qt can show windows here: a display, or a Qt platform chosen in the environment.
bool DisplayAvailable();
bool UseQt(const AutomationConfig& config);

// One run of the program under a script (or without one): the script read and parsed, its
// driver attached to the front end, and at the end the outcome, the result file and the exit
// status.
class AutomatedRun {
public:
    explicit AutomatedRun(AutomationConfig config);
    ~AutomatedRun();

    // False when the script could not be read or parsed: the windows are not to open.
    bool Runnable() const { return problems_.empty(); }
    void Start(Automation& automation);
    // After the program's windows have all closed: reports a script left short of its end,
    // writes the result file and tells the exit status.
    int End();

private:
    AutomationConfig config_;
    std::vector<ScriptCommand> commands_;
    std::vector<std::string> problems_;
    std::unique_ptr<ScriptDriver> driver_;
    SessionResult result_;
};

}  // namespace ui
