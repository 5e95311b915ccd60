// The queued answers of the automation, shared by the front ends.
#include "ui/ScriptedAnswers.h"

#include <utility>

namespace ui {

void ScriptedAnswers::AnswerNextBox(int answer) {
    std::lock_guard guard(lock_);
    boxes_.push_back(answer);
}

void ScriptedAnswers::AnswerNextDialog(int window, int result) {
    std::lock_guard guard(lock_);
    dialogs_[window].push_back(result);
}

void ScriptedAnswers::AnswerNextProxyPrompt(std::optional<platform::ProxyCredentials> credentials) {
    std::lock_guard guard(lock_);
    proxies_.push_back(std::move(credentials));
}

bool ScriptedAnswers::ScreenshotNextBox(const std::string& nativePath) {
    std::lock_guard guard(lock_);
    nextBoxShot_ = nativePath;
    return true;
}

ScriptedAnswers::BoxAnswer ScriptedAnswers::TakeBoxAnswer() {
    std::lock_guard guard(lock_);
    BoxAnswer taken{std::nullopt, std::exchange(nextBoxShot_, {})};
    if (!boxes_.empty()) {
        taken.answer = boxes_.front();
        boxes_.pop_front();
    }
    return taken;
}

std::optional<int> ScriptedAnswers::TakeDialogAnswer(int window) {
    std::lock_guard guard(lock_);
    auto answers = dialogs_.find(window);
    if (answers == dialogs_.end() || answers->second.empty()) return std::nullopt;
    int command = answers->second.front();
    answers->second.pop_front();
    return command;
}

std::optional<std::optional<platform::ProxyCredentials>> ScriptedAnswers::TakeProxyAnswer() {
    std::lock_guard guard(lock_);
    if (proxies_.empty()) return std::nullopt;
    std::optional<platform::ProxyCredentials> answer = std::move(proxies_.front());
    proxies_.pop_front();
    return answer;
}

}  // namespace ui
