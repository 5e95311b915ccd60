// The automation's answers for what has yet to appear — the next message boxes, the next runs
// of a dialog, the next proxy prompts, a picture of the next box — queued by the script driver
// and taken by a front end as the box, dialog or prompt comes up, on whichever thread raised
// it. One copy for every front end, so that a script is answered alike on each of them.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "ui/Automation.h"

namespace ui {

class ScriptedAnswers : public Automation {
public:
    void AnswerNextBox(int answer) override;
    void AnswerNextDialog(int window, int result) override;
    void AnswerNextProxyPrompt(std::optional<platform::ProxyCredentials> credentials) override;
    bool ScreenshotNextBox(const std::string& nativePath) override;

protected:
    // The answer queued for the box coming up (none: the user answers it) and where to put a
    // picture of it (empty: none).
    struct BoxAnswer {
        std::optional<int> answer;
        std::string shot;
    };
    BoxAnswer TakeBoxAnswer();
    // The command queued for the run of `window` coming up; none: the user acts in it.
    std::optional<int> TakeDialogAnswer(int window);
    // The answer queued for the proxy prompt coming up, itself nullopt when the user declines;
    // none: the prompt is shown.
    std::optional<std::optional<platform::ProxyCredentials>> TakeProxyAnswer();

private:
    std::mutex lock_;
    std::deque<int> boxes_;
    std::map<int, std::deque<int>> dialogs_;
    std::deque<std::optional<platform::ProxyCredentials>> proxies_;
    std::string nextBoxShot_;
};

}  // namespace ui
