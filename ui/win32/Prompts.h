// The system's modal prompts on the window thread: the message box (its caption and OK /
// Cancel labels set by a per-thread CBT hook as it activates), the proxy credential prompt,
// the shell's format dialog and folder browser.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/View.h"

struct HWND__;

namespace ui::win32 {

// A scripted answer for the next box: pressed once the box is up, after `shoot` has been
// given the box's window (for a screenshot).
struct ScriptedBoxAnswer {
    int answer;
    std::function<void(HWND__* box)> shoot;
};

int ShowMessageBox(const platform::MessageBoxRequest& request, HWND__* owner,
                   std::optional<ScriptedBoxAnswer> scripted);
std::optional<platform::ProxyCredentials> AskProxyCredentials(const std::string& proxy, HWND__* owner);
std::optional<std::string> BrowseForFolder(const std::string& title, const std::string& initialFolder, HWND__* owner);

}  // namespace ui::win32
