// The automatic mode's set-up: where the configuration lives, which front end runs (Qt as asked,
// or wherever a display is), and the script driver it starts.
#include "ui/script/AutomatedRun.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/Profile.h"
#ifdef _WIN32
#include "platform/Files.h"
#else
#include "platform/sim/Machine.h"
#endif

namespace ui {
namespace {

bool IsAbsolute(const std::string& path) {
    if (path.empty() || path.front() == '/' || path.front() == '\\') return true;
    return path.size() >= 2 && path[1] == ':';
}

// Where the automation is configured: the simulated machine's description, or on Windows
// Automation.ini in the program folder (absent on a user's PC: no automation).
struct ConfigSource {
    platform::ProfileDocument document;
    std::string folder;
    char separator;
};

ConfigSource AutomationSource() {
#ifdef _WIN32
    char module[260] = {};
    std::string program(module, platform::GetModuleFileNameA(module, sizeof module));
    size_t slash = program.find_last_of('\\');
    std::string folder = slash == std::string::npos ? "." : program.substr(0, slash);
    return {platform::ProfileDocument::Load(folder + "\\Automation.ini"), folder, '\\'};
#else
    return {platform::MachineDescription(), platform::MachineFolder(), '/'};
#endif
}

}  // namespace

AutomationConfig ReadAutomationConfig() {
    ConfigSource source = AutomationSource();
    auto value = [&](const char* key) {
        std::string path = source.document.Get("Automation", key).value_or("");
        return IsAbsolute(path) || std::string_view(key) == "FrontEnd" ? path : source.folder + source.separator + path;
    };
    AutomationConfig config{value("FrontEnd"), value("Script"), value("Transcript"), value("Screenshots")};
    if (config.transcript.empty() && !config.script.empty()) config.transcript = config.script + ".transcript";
    if (config.screenshots.empty()) config.screenshots = source.folder;
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
    auto driver =
        std::make_unique<ScriptDriver>(automation, std::move(script.commands), config.transcript, config.screenshots);
    driver->Note("script " + config.script);
    for (const std::string& error : script.errors) driver->Note("FAILED " + error);
    driver->Start();
    return driver;
}

}  // namespace ui
