// The session's facts gathered from the application object and written as JSON.
#include "ui/script/SessionResult.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

#include "state/VeltraneApp.h"
#include "platform/CodePage.h"

namespace ui {
namespace {

// A JSON string of UTF-8 text, or null for an empty one.
std::string Quoted(const std::string& utf8) {
    if (utf8.empty()) return "null";
    std::string quoted = "\"";
    for (char c : utf8) {
        switch (c) {
        case '"': quoted += "\\\""; break;
        case '\\': quoted += "\\\\"; break;
        case '\n': quoted += "\\n"; break;
        case '\r': break;
        case '\t': quoted += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                quoted += escaped;
            } else {
                quoted += c;
            }
        }
    }
    return quoted + "\"";
}

std::string Milliseconds(std::optional<uint64_t> run) { return run ? std::to_string(*run) : "null"; }

// CP932 text of the window as UTF-8, its line breaks kept.
std::string Utf8(const std::string& cp932) { return platform::Cp932ToUtf8(cp932).value_or("(not CP932)"); }

}  // namespace

void SessionResult::Sample() {
    const std::string& version = theApp.Navi.NaviVersion;
    // A unit read anew (plugged in, or another one); a unit ejected after its transfer keeps
    // its old reading until the window lets go of it, which is no new reading.
    if (version.empty() || version == lastRead_) return;
    if (before_.empty()) before_ = version;
    lastRead_ = version;
    transferredAtReading_ = theApp.TransferredSet;
}

std::string SessionResult::Json(const std::string& outcome, const std::string& failure) {
    Sample();
    // A transfer that completed after the last reading left the unit holding its set (the
    // image was read back); the unit is ejected then and cannot be read again.
    const std::string after = theApp.TransferredSet != transferredAtReading_ ? theApp.TransferredSet : lastRead_;
    std::optional<ShownError> error = theApp.Messages.LastError();
    return "{\"outcome\":" + Quoted(outcome) + ",\"failure\":" + Quoted(failure) +
           ",\"unitVersionBefore\":" + Quoted(before_) + ",\"unitVersionAfter\":" + Quoted(after) +
           ",\"transferredSet\":" + Quoted(theApp.TransferredSet) +
           ",\"lastErrorKind\":" + (error ? std::to_string(error->kind) : "null") +
           ",\"lastErrorCode\":" + Quoted(error ? error->code : "") +
           ",\"lastErrorMessage\":" + Quoted(error ? Utf8(error->text) : "") +
           ",\"downloadMilliseconds\":" + Milliseconds(theApp.DownloadThreadHandle.LastRunMilliseconds()) +
           ",\"transferMilliseconds\":" + Milliseconds(theApp.TransferThreadHandle.LastRunMilliseconds()) + "}";
}

bool WriteResultFile(const std::string& path, const std::string& json) {
    // Written beside and renamed: a batch never reads half an object.
    const std::filesystem::path target(std::u8string(path.begin(), path.end()));
    std::filesystem::path temporary = target;
    temporary += ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << json << '\n';
        if (!file.flush()) return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary, target, error);
    return !error;
}

}  // namespace ui
