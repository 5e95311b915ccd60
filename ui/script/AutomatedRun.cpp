#include "ui/script/AutomatedRun.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/sim/Machine.h"

namespace ui {
namespace {

std::string InMachineFolder(const std::string& path) {
    if (path.empty() || path.front() == '/') return path;
    return platform::MachineFolder() + "/" + path;
}

}  // namespace

AutomationConfig ReadAutomationConfig() {
    platform::ProfileDocument machine = platform::MachineDescription();
    auto value = [&](const char* key) { return machine.Get("Automation", key).value_or(""); };
    AutomationConfig config{value("FrontEnd"), InMachineFolder(value("Script")), InMachineFolder(value("Transcript")),
                            InMachineFolder(value("Screenshots"))};
    if (config.transcript.empty() && !config.script.empty()) config.transcript = config.script + ".transcript";
    if (config.screenshots.empty()) config.screenshots = platform::MachineFolder();
    return config;
}

bool DisplayAvailable() {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

bool UseQt(const AutomationConfig& config) {
    if (config.frontEnd == "qt") return true;
    if (config.frontEnd == "headless") return false;
    return DisplayAvailable();
}

std::unique_ptr<ScriptDriver> StartScript(Automation& automation, const AutomationConfig& config) {
    if (config.script.empty()) return nullptr;
    std::ifstream file(config.script, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    ParsedScript script = file ? ParseScript(text.str()) : ParsedScript{{}, {"cannot read " + config.script}};
    if (!script.errors.empty()) script.commands.clear();
    auto driver = std::make_unique<ScriptDriver>(automation, std::move(script.commands), config.transcript,
                                                 config.screenshots);
    driver->Note("script " + config.script);
    for (const std::string& error : script.errors) driver->Note("FAILED " + error);
    driver->Start();
    return driver;
}

}  // namespace ui
