// Script lines parsed into commands: words with quoting, controls by window and id, answers,
// keys and timeouts, and every line not understood reported with its number.
#include "ui/script/Script.h"

#include <charconv>
#include <map>
#include <optional>

#include "platform/CodePage.h"
#include "platform/View.h"

namespace ui {
namespace {

using Kind = ScriptCommand::Kind;

// The words of a line: blanks separate them, a double-quoted word may hold blanks.
std::optional<std::vector<std::string>> Words(std::string_view line) {
    std::vector<std::string> words;
    size_t pos = 0;
    while (pos < line.size()) {
        if (line[pos] == ' ' || line[pos] == '\t') {
            ++pos;
        } else if (line[pos] == '"') {
            size_t end = line.find('"', pos + 1);
            if (end == std::string_view::npos) return std::nullopt;
            words.emplace_back(line.substr(pos + 1, end - pos - 1));
            pos = end + 1;
        } else {
            size_t end = line.find_first_of(" \t", pos);
            if (end == std::string_view::npos) end = line.size();
            words.emplace_back(line.substr(pos, end - pos));
            pos = end;
        }
    }
    return words;
}

std::optional<int> Number(const std::string& word) {
    int value = 0;
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size()) return std::nullopt;
    return value;
}

// "1014" or "174:1060": a control of the main window or of the named window.
bool ParseControl(const std::string& word, ScriptCommand& command) {
    size_t colon = word.find(':');
    auto id = Number(colon == std::string::npos ? word : word.substr(colon + 1));
    auto window = colon == std::string::npos ? std::optional<int>(0) : Number(word.substr(0, colon));
    if (!id || !window) return false;
    command.window = *window;
    command.id = *id;
    return true;
}

std::optional<int> Answer(const std::string& word) {
    if (word == "OK") return platform::IDOK;
    if (word == "Cancel") return platform::IDCANCEL;
    return std::nullopt;
}

std::optional<uint32_t> Key(const std::string& word) {
    static const std::map<std::string, uint32_t> keys = {{"F1", platform::VK_F1},      {"F3", platform::VK_F3},
                                                         {"F5", platform::VK_F5},      {"F12", platform::VK_F12},
                                                         {"Esc", platform::VK_ESCAPE}, {"Enter", platform::VK_RETURN}};
    auto key = keys.find(word);
    return key == keys.end() ? std::nullopt : std::optional(key->second);
}

bool OptionalTimeout(const std::vector<std::string>& words, size_t at, ScriptCommand& command) {
    if (words.size() == at) return true;
    auto timeout = words.size() == at + 1 ? Number(words[at]) : std::nullopt;
    if (!timeout || *timeout < 0) return false;
    command.timeout = static_cast<uint32_t>(*timeout);
    return true;
}

// The command of one line's words; an empty text explains what is wrong.
std::string Parse(const std::vector<std::string>& w, ScriptCommand& c) {
    const std::string& verb = w[0];
    size_t n = w.size();
    if (verb == "press") {
        c.kind = Kind::Press;
        return n == 2 && ParseControl(w[1], c) ? "" : "press takes a control: press 1014 or press 174:1";
    }
    if (verb == "menu") {
        c.kind = Kind::Menu;
        auto id = n == 2 ? Number(w[1]) : std::nullopt;
        c.id = id.value_or(0);
        return id ? "" : "menu takes a menu item id";
    }
    if (verb == "check") {
        c.kind = Kind::Check;
        auto row = n == 2 ? Number(w[1]) : std::nullopt;
        c.id = row.value_or(0);
        return row && *row >= 0 ? "" : "check takes a PC-area row (from 0)";
    }
    if (verb == "key") {
        c.kind = Kind::Key;
        auto key = n == 2 ? Key(w[1]) : std::nullopt;
        c.id = static_cast<int>(key.value_or(0));
        return key ? "" : "key takes F1, F3, F5, F12, Esc or Enter";
    }
    if (verb == "box") {
        c.kind = Kind::Box;
        auto answer = n == 2 || n == 3 ? Answer(w[1]) : std::nullopt;
        c.id = answer.value_or(0);
        if (n == 3) c.text = w[2];
        return answer ? "" : "box takes OK or Cancel, and a screenshot file";
    }
    if (verb == "proxy") {
        c.kind = Kind::Proxy;
        if (n == 2 && w[1] == "cancel") return "";
        auto user = n == 3 ? platform::Utf8ToCp932(w[1]) : std::nullopt;
        auto password = n == 3 ? platform::Utf8ToCp932(w[2]) : std::nullopt;
        if (!user || !password || user->empty()) return "proxy takes a user and a password, or cancel";
        c.text = *user;
        c.password = *password;
        return "";
    }
    if (verb == "dialog") {
        c.kind = Kind::Dialog;
        auto window = n == 3 ? Number(w[1]) : std::nullopt;
        auto answer = n == 3 ? Answer(w[2]) : std::nullopt;
        c.window = window.value_or(0);
        c.id = answer.value_or(0);
        return window && answer ? "" : "dialog takes a window and OK or Cancel: dialog 209 OK";
    }
    if (verb == "wait") {
        c.kind = Kind::Wait;
        if (n < 3 || !ParseControl(w[1], c) || !OptionalTimeout(w, 3, c))
            return "wait takes a control, a text and a timeout: wait 1028 \"接続済み\" 10000";
        auto text = platform::Utf8ToCp932(w[2]);
        if (!text) return "wait: the text has no CP932 form";
        c.text = *text;
        return "";
    }
    if (verb == "job") {
        c.kind = Kind::Job;
        bool known = n >= 2 && (w[1] == "download" || w[1] == "transfer" || w[1] == "delete");
        if (known) c.text = w[1];
        return known && OptionalTimeout(w, 2, c) ? "" : "job takes download, transfer or delete and a timeout";
    }
    if (verb == "pause") {
        c.kind = Kind::Pause;
        return n == 2 && OptionalTimeout(w, 1, c) ? "" : "pause takes milliseconds";
    }
    if (verb == "screenshot") {
        c.kind = Kind::Screenshot;
        bool named = n == 2 && w[1].find('/') == std::string::npos && !w[1].empty();
        if (named) c.text = w[1];
        return named ? "" : "screenshot takes a file name (no folder)";
    }
    if (verb == "close") {
        c.kind = Kind::Close;
        return n == 1 ? "" : "close takes nothing";
    }
    return "unknown command \"" + verb + "\"";
}

}  // namespace

ParsedScript ParseScript(std::string_view utf8) {
    ParsedScript script;
    int lineNumber = 0;
    for (size_t pos = 0; pos <= utf8.size();) {
        size_t end = utf8.find('\n', pos);
        if (end == std::string_view::npos) end = utf8.size();
        std::string_view line = utf8.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#') continue;
        auto words = Words(line);
        ScriptCommand command{Kind::Close, lineNumber, std::string(line)};
        std::string error = words ? Parse(*words, command) : "a quote is not closed";
        if (error.empty())
            script.commands.push_back(std::move(command));
        else
            script.errors.push_back("line " + std::to_string(lineNumber) + ": " + error);
    }
    return script;
}

}  // namespace ui
