// The call log written a line at a time: each call as one JSON object with its time, bytes that
// are not UTF-8 kept as code points so every line stays valid JSON.
#include "CallLog.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace mapservice {
namespace {

// Length of the valid UTF-8 sequence at `at`, or 0.
std::size_t Utf8Length(const std::string& text, std::size_t at) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(at);
    std::size_t length = lead < 0x80           ? 1
                         : (lead >> 5) == 0x06 ? 2
                         : (lead >> 4) == 0x0E ? 3
                         : (lead >> 3) == 0x1E ? 4
                                               : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    return length;
}

// A JSON string; bytes that are not UTF-8 are written as the code point of the same value,
// so the line stays valid JSON whatever a client sent.
std::string Json(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t length = Utf8Length(text, i);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || length == 0) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out.append(text, i, length);
            i += length;
            continue;
        }
        ++i;
    }
    return out + "\"";
}

std::string Now() {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(millis));
    return text;
}

}  // namespace

CallLog::CallLog(const std::filesystem::path& file) {
    if (file.empty()) return;
    out_.open(file, std::ios::app | std::ios::binary);
    if (!out_) throw std::runtime_error("cannot open call log " + file.string());
}

void CallLog::Write(const CallRecord& record) {
    if (!out_.is_open()) return;
    std::string line =
        "{\"time\":" + Json(Now()) + ",\"scheme\":" + Json(record.scheme) + ",\"call\":" + Json(record.call) +
        ",\"verb\":" + Json(record.verb) + ",\"path\":" + Json(record.path) + ",\"body\":" + Json(record.body) +
        ",\"wsse\":" + Json(record.wsse) + ",\"wsse_verified\":" + (record.wsseVerified ? "true" : "false") +
        ",\"status\":" + std::to_string(record.status) + ",\"peer\":" + Json(record.peer) +
        ",\"proxy_authorization\":" + (record.proxyAuthorization ? "true" : "false") + "}\n";
    std::lock_guard lock(mutex_);
    out_ << line << std::flush;
}

}  // namespace mapservice
