// The modal prompts of the Qt front end: message boxes, the proxy-credential prompt and the
// shell's format dialog. All run on the user-interface thread in a nested loop, so timers
// and posted notifications keep running while they are open.
#pragma once

#include <QWidget>
#include <optional>

#include "platform/View.h"

namespace ui::qt {

// A message box with the request's caption, text, icon and buttons; a scripted answer
// presses that button as soon as the box is up. Returns IDOK or IDCANCEL.
// A scripted answer clicks its button as soon as the box shows, after saving a picture of the
// box to `screenshot` when one is named.
int ShowMessageBox(const platform::MessageBoxRequest& request, QWidget* owner, std::optional<int> scriptedAnswer,
                   const std::string& screenshot = {});
std::optional<platform::ProxyCredentials> AskProxyCredentials(const std::string& proxy, QWidget* owner);
// The format dialog of a drive: whether the user started the format and confirmed its warning.
bool ConfirmFormat(char driveLetter, QWidget* owner);

}  // namespace ui::qt
