// Replays a script on a front end through its automation interface and writes the
// transcript: every action, every box with its caption and text, every dialog opened and every
// status-line text, each with the platform clock's time since the start. When the script ends
// (or a line fails) the windows are closed, so an automatic run always ends.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/Automation.h"
#include "ui/script/Script.h"
#include "ui/script/Transcript.h"

namespace ui {

class ScriptDriver : public AutomationObserver {
public:
    // transcriptPath and screenshotFolder are native paths; an empty transcript path keeps
    // the transcript in memory only.
    ScriptDriver(Automation& automation, std::vector<ScriptCommand> commands, std::string transcriptPath,
                 std::string screenshotFolder);
    ~ScriptDriver() override;

    // Attaches to the front end; the script runs once a window loop runs.
    void Start();
    // One step on the user-interface thread: true when it acted.
    bool Step();

    // The program's last window has closed. A script short of its end fails at its line.
    void WindowsClosed();

    // Runs on the user-interface thread before each step.
    void OnEachStep(std::function<void()> observe) { onStep_ = std::move(observe); }

    bool Finished() const { return finished_; }
    bool Failed() const { return failed_; }
    // The failing line's report ("line 2 (wait …): timed out …"), empty while none failed.
    const std::string& Failure() const { return failure_; }
    std::vector<std::string> Transcript();

    // Transcript lines (UTF-8) for notes that do not come from the script (start-up problems).
    void Note(const std::string& utf8);

    void OnBox(const platform::MessageBoxRequest& request, int answer) override;
    void OnControlText(int window, int id, const std::string& text) override;
    void OnDialogOpened(int window, const std::string& title) override;

private:
    // Runs the command at next_; true when it acted (or failed), false when it waits.
    bool Run(const ScriptCommand& command);
    bool Waited(const ScriptCommand& command, bool satisfied, const std::string& what);
    void Fail(const ScriptCommand& command, const std::string& why);

    Automation& automation_;
    std::vector<ScriptCommand> commands_;
    std::string screenshotFolder_;
    size_t next_ = 0;
    bool waiting_ = false;
    uint64_t waitStart_ = 0;
    // When the last user action ran, and the program's fixed waits until then.
    uint64_t actionAt_ = 0;
    uint64_t sleptAtAction_ = 0;
    bool finished_ = false;
    bool failed_ = false;
    std::string failure_;
    std::function<void()> onStep_;
    ui::Transcript transcript_;
};

}  // namespace ui
