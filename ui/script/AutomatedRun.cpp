// The automatic mode's set-up: the command line or the machine's configuration, which front
// end runs (Qt as asked, or wherever a display is), the script driver it starts, and the
// outcome it ends with.
#include "ui/script/AutomatedRun.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
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

std::filesystem::path Native(const std::string& utf8) { return std::u8string(utf8.begin(), utf8.end()); }

std::string Utf8(const std::filesystem::path& path) {
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
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

// The script read and parsed; problems holds why it cannot run.
void LoadScript(const std::string& path, std::vector<ScriptCommand>& commands, std::vector<std::string>& problems) {
    std::ifstream file(Native(path), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    if (!file) {
        problems.push_back("cannot read " + path);
        return;
    }
    ParsedScript script = ParseScript(text.str());
    commands = std::move(script.commands);
    problems = std::move(script.errors);
}

}  // namespace

std::string Usage() {
    return std::string(
               "usage: veltrane [--script FILE [--transcript FILE] [--screenshots DIR] [--result FILE]]\n"
               "                [--front-end headless|") +
           kWindowFrontEnd +
           "]\n"
           "Without options the program runs for a user at its window.\n"
           "  --script FILE       replays the script FILE (UTF-8, one action a line)\n"
           "  --transcript FILE   writes the transcript there (default: FILE.transcript)\n"
           "  --screenshots DIR   the screenshot lines' folder (default: the script's folder)\n"
           "  --result FILE       writes the session's result there as one JSON object\n"
           "  --front-end NAME    headless (no window) or " +
           kWindowFrontEnd +
           " (the window); default: the window when there is\n"
           "                      a display\n"
           "  --help              shows this text\n"
           "Exit status: 0 the script ran to its end, 1 a line failed, 2 the script or the options\n"
           "could not be read or parsed.\n";
}

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    if (arguments.empty()) return line;
    std::map<std::string, std::string> values;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        if (option == "--help" || option == "-h") {
            line.help = true;
            return line;
        }
        if (option != "--script" && option != "--transcript" && option != "--screenshots" && option != "--result" &&
            option != "--front-end") {
            line.error = "unknown option " + option;
            return line;
        }
        if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
            line.error = option + " needs a value";
            return line;
        }
        values[option] = arguments[++i];
    }
    AutomationConfig config;
    config.frontEnd = values["--front-end"];
    if (config.frontEnd == "window") config.frontEnd = kWindowFrontEnd;
    if (!config.frontEnd.empty() && config.frontEnd != "headless" && config.frontEnd != kWindowFrontEnd) {
        line.error = "--front-end is headless or " + std::string(kWindowFrontEnd) + ", not " + config.frontEnd;
        return line;
    }
    // Relative paths are the caller's, from the folder it started the program in.
    auto absolute = [&](const char* option) {
        const std::string& value = values[option];
        return value.empty() ? value : Utf8(std::filesystem::absolute(Native(value)));
    };
    config.script = absolute("--script");
    config.transcript = absolute("--transcript");
    config.screenshots = absolute("--screenshots");
    config.result = absolute("--result");
    if (config.script.empty() &&
        (!config.transcript.empty() || !config.screenshots.empty() || !config.result.empty())) {
        line.error = "--transcript, --screenshots and --result go with --script";
        return line;
    }
    if (!config.script.empty()) {
        if (config.transcript.empty()) config.transcript = config.script + ".transcript";
        if (config.screenshots.empty()) config.screenshots = Utf8(Native(config.script).parent_path());
    }
    line.config = config;
    return line;
}

AutomationConfig ReadAutomationConfig() {
    ConfigSource source = AutomationSource();
    auto value = [&](const char* key) {
        std::string path = source.document.Get("Automation", key).value_or("");
        return IsAbsolute(path) || std::string_view(key) == "FrontEnd" ? path : source.folder + source.separator + path;
    };
    AutomationConfig config{value("FrontEnd"), value("Script"), value("Transcript"), value("Screenshots"), ""};
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

AutomatedRun::AutomatedRun(AutomationConfig config) : config_(std::move(config)) {
    if (!config_.script.empty()) LoadScript(config_.script, commands_, problems_);
}

AutomatedRun::~AutomatedRun() = default;

void AutomatedRun::Start(Automation& automation) {
    if (config_.script.empty() || !Runnable()) return;
    driver_ = std::make_unique<ScriptDriver>(automation, commands_, config_.transcript, config_.screenshots);
    driver_->OnEachStep([this] { result_.Sample(); });
    driver_->Note("script " + config_.script);
    driver_->Start();
}

int AutomatedRun::End() {
    if (config_.script.empty()) return kExitCompleted;
    std::string outcome, failure;
    int status;
    if (!Runnable()) {
        // Nothing ran: the reasons go to the caller's terminal and to the transcript.
        Transcript transcript(config_.transcript);
        transcript.Note("script " + config_.script);
        for (const std::string& problem : problems_) {
            transcript.Note("FAILED " + problem);
            std::fprintf(stderr, "veltrane: %s: %s\n", config_.script.c_str(), problem.c_str());
        }
        transcript.Note("script not run: it could not be read or parsed");
        outcome = "unreadable";
        failure = problems_.front();
        status = kExitUnreadable;
    } else {
        driver_->WindowsClosed();
        failure = driver_->Failure();
        outcome = driver_->Failed() ? "failed" : "completed";
        status = driver_->Failed() ? kExitFailed : kExitCompleted;
        driver_.reset();
    }
    if (!config_.result.empty() && !WriteResultFile(config_.result, result_.Json(outcome, failure))) {
        std::fprintf(stderr, "veltrane: cannot write the result file %s\n", config_.result.c_str());
        // A batch must not take a session without its result for a good one.
        if (status == kExitCompleted) status = kExitFailed;
    }
    std::fflush(stderr);
    return status;
}

}  // namespace ui
