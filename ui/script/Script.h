// The automation script: one user action, answer or wait a line (see docs/automation.md).
// Scripts are UTF-8 files; their texts are held in CP932, as the windows show them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

constexpr uint32_t kDefaultWaitMilliseconds = 60000;

struct ScriptCommand {
    enum class Kind { Press, Menu, Check, Key, Box, Dialog, Proxy, Wait, Job, Pause, Screenshot, Close };
    Kind kind;
    int line;            // 1-based line of the script
    std::string source;  // the line as written, for the transcript
    int window = 0;      // Press, Wait, Dialog (0 for Press and Wait: the main window)
    int id = 0;          // control, menu item, row, virtual key, answer
    // Wait: the text looked for (CP932); Job: its name; Screenshot: file name; Proxy: the user
    // (CP932), empty when the prompt is declined
    std::string text = {};
    std::string password = {};                    // Proxy (CP932)
    uint32_t timeout = kDefaultWaitMilliseconds;  // Wait, Job; Pause: its length
};

struct ParsedScript {
    std::vector<ScriptCommand> commands;
    std::vector<std::string> errors;  // "line N: ..." for every line that was not understood
};

ParsedScript ParseScript(std::string_view utf8);

}  // namespace ui
