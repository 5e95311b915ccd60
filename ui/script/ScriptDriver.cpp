// The script replayed step by step: actions, answers and waits on the platform clock, and the
// transcript in UTF-8 with each job's time and its fixed waits.
#include "ui/script/ScriptDriver.h"

#include "state/ResourceIds.h"
#include "state/VeltraneApp.h"
#include "platform/Clock.h"

namespace ui {
namespace {

using Kind = ScriptCommand::Kind;

const char* AnswerName(int answer) {
    return answer == platform::IDOK ? "OK" : answer == platform::IDCANCEL ? "Cancel" : "?";
}

const char* IconName(uint32_t type) {
    switch (type & 0xF0) {
    case platform::MB_ICONERROR: return "error";
    case platform::MB_ICONWARNING: return "warning";
    case platform::MB_ICONINFORMATION: return "information";
    default: return "none";
    }
}

bool JobRuns(const std::string& job) {
    // A download's start measures the line first, before the download's own thread.
    if (job == "download") return !theApp.LineTestThreadHandle.IsNull() || !theApp.DownloadThreadHandle.IsNull();
    if (job == "transfer") return !theApp.TransferThreadHandle.IsNull();
    return !theApp.DeleteThreadHandle.IsNull();
}

}  // namespace

ScriptDriver::ScriptDriver(Automation& automation, std::vector<ScriptCommand> commands, std::string transcriptPath,
                           std::string screenshotFolder)
    : automation_(automation),
      commands_(std::move(commands)),
      screenshotFolder_(std::move(screenshotFolder)),
      transcript_(std::move(transcriptPath)) {}

ScriptDriver::~ScriptDriver() {
    automation_.SetDriver(nullptr);
    automation_.SetObserver(nullptr);
}

void ScriptDriver::Start() {
    automation_.SetObserver(this);
    automation_.SetDriver([this] { return Step(); });
}

std::vector<std::string> ScriptDriver::Transcript() { return transcript_.Lines(); }

void ScriptDriver::Note(const std::string& utf8) { transcript_.Note(utf8); }

void ScriptDriver::OnBox(const platform::MessageBoxRequest& request, int answer) {
    Note("box \"" + TranscriptText(request.caption) + "\" (" + IconName(request.type) + ") " +
         TranscriptText(request.text) + " -> " + AnswerName(answer));
}

void ScriptDriver::OnControlText(int window, int id, const std::string& text) {
    if (window == platform::IDD_MAIN_WINDOW && id == ids::kStatusLine) Note("status: " + TranscriptText(text));
}

void ScriptDriver::OnDialogOpened(int window, const std::string& title) {
    Note("dialog " + std::to_string(window) + " \"" + TranscriptText(title) + "\" opened");
}

void ScriptDriver::Fail(const ScriptCommand& command, const std::string& why) {
    failure_ = "line " + std::to_string(command.line) + " (" + command.source + "): " + why;
    Note("FAILED " + failure_);
    failed_ = true;
    next_ = commands_.size();
}

bool ScriptDriver::Waited(const ScriptCommand& command, bool satisfied, const std::string& what) {
    uint64_t now = platform::GetTickCount64();
    if (!waiting_) {
        waiting_ = true;
        waitStart_ = now;
        // The loop must come back at the deadline even when nothing else is due: a loop that
        // sleeps until its next event would keep the line waiting past its time.
        automation_.WakeAt(now + command.timeout);
    }
    // A front end may come back late (a step runs every few milliseconds on a display): what
    // shows only after the deadline came too late.
    uint64_t waited = now - waitStart_;
    if (satisfied && (waited <= command.timeout || command.kind == Kind::Pause)) {
        std::string note = command.source + ": done after " + std::to_string(waited) + " ms";
        // A job's own time, and how much of it went into the program's fixed waits (Sleep).
        if (command.kind == Kind::Job)
            note += "; " + std::to_string(now - actionAt_) + " ms since the last action, " +
                    std::to_string(platform::SleptMilliseconds() - sleptAtAction_) + " ms of them in fixed waits";
        Note(note);
    } else if (waited >= command.timeout) {
        Fail(command, "timed out after " + std::to_string(waited) + " ms; " + what);
    } else {
        return false;
    }
    waiting_ = false;
    if (!failed_) ++next_;
    return true;
}

bool ScriptDriver::Run(const ScriptCommand& c) {
    int window = c.window == 0 ? platform::IDD_MAIN_WINDOW : c.window;
    switch (c.kind) {
    case Kind::Box:
    case Kind::Dialog:
        Note(c.source);
        if (c.kind == Kind::Box) {
            if (!c.text.empty()) {
                std::string path = screenshotFolder_ + "/" + c.text;
                if (!automation_.ScreenshotNextBox(path)) Note("screenshot not taken: this front end has no display");
            }
            automation_.AnswerNextBox(c.id);
        } else
            automation_.AnswerNextDialog(c.window, c.id);
        ++next_;
        return true;
    case Kind::Proxy:
        // The password stays out of the transcript.
        Note(c.text.empty() ? c.source : "proxy " + TranscriptText(c.text) + " ********");
        automation_.AnswerNextProxyPrompt(
            c.text.empty() ? std::nullopt : std::optional(platform::ProxyCredentials{c.text, c.password}));
        ++next_;
        return true;
    case Kind::Wait: {
        std::string shown = automation_.IsWindowOpen(window) ? automation_.ShownText(window, c.id) : "";
        return Waited(c, shown.find(c.text) != std::string::npos, "it shows \"" + TranscriptText(shown) + "\"");
    }
    case Kind::Job: return Waited(c, !JobRuns(c.text), "the job still runs");
    case Kind::Pause: return Waited(c, waiting_ && platform::GetTickCount64() - waitStart_ >= c.timeout, "");
    default: break;
    }
    // The user's actions: noted before they run, since what they cause is noted as it happens.
    Note(c.source);
    actionAt_ = platform::GetTickCount64();
    sleptAtAction_ = platform::SleptMilliseconds();
    bool done = true;
    switch (c.kind) {
    case Kind::Press: done = automation_.Press(window, c.id); break;
    case Kind::Menu: done = automation_.ChooseMenu(c.id); break;
    case Kind::Check: done = automation_.ClickRowCheckBox(ids::kPcArea, c.id); break;
    case Kind::Key: done = automation_.PressKey(static_cast<uint32_t>(c.id)); break;
    case Kind::Close: done = automation_.PressKey(platform::VK_ESCAPE); break;
    case Kind::Screenshot: {
        std::string path = screenshotFolder_ + "/" + c.text;
        Note(automation_.Screenshot(path) ? "screenshot saved: " + path
                                          : "screenshot not taken: this front end has no display");
        break;
    }
    default: break;
    }
    if (!done) {
        Fail(c, "not possible now (no such window, or the control or item is disabled)");
        return true;
    }
    ++next_;
    return true;
}

void ScriptDriver::WindowsClosed() {
    if (finished_) return;
    // The program ended on its own before the script did (a window of its own closed, a
    // start-up that stopped): the line it was on fails, as one that timed out would.
    if (next_ < commands_.size())
        Fail(commands_[next_],
             waiting_ ? "the program's windows closed while it waited" : "the program's windows closed before it ran");
    finished_ = true;
    Note("script failed; closing the windows");
}

bool ScriptDriver::Step() {
    if (onStep_) onStep_();
    if (finished_) return false;
    while (next_ < commands_.size()) {
        const ScriptCommand& command = commands_[next_];
        if (!Run(command)) return false;
        // Answers are no action of their own: the next line follows at once.
        if (command.kind != Kind::Box && command.kind != Kind::Dialog && command.kind != Kind::Proxy) break;
    }
    if (next_ < commands_.size()) return true;
    finished_ = true;
    Note(failed_ ? "script failed; closing the windows" : "end of script; closing the windows");
    automation_.CloseAll();
    return true;
}

}  // namespace ui
