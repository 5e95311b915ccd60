// The next steps of the known causes, read from Message.ini like every other text.
#include "state/NextStep.h"

#include "state/VeltraneApp.h"
#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "platform/UserFolder.h"

namespace {

constexpr char kSection[] = "MSG_NEXT_STEP";

std::string ReadText(const char* key) {
    char buffer[512] = {};
    platform::GetPrivateProfileStringA(kSection, key, "", buffer, sizeof buffer, theApp.MessageIniPath.c_str());
    return platform::ReplaceAll(buffer, "\\n", "\n");
}

const char* KeyOf(ErrorCause cause) {
    switch (cause) {
    case ErrorCause::NoSpace: return "NO_SPACE";
    case ErrorCause::UnitRemoved: return "UNIT_REMOVED";
    case ErrorCause::AuthorisationRefused: return "AUTHORISATION_REFUSED";
    case ErrorCause::ServiceUnreachable: return "SERVICE_UNREACHABLE";
    case ErrorCause::DigestMismatch: return "DIGEST_MISMATCH";
    default: return nullptr;
    }
}

}  // namespace

ErrorCause CauseOfKind(int kind) {
    switch (kind) {
    case 400:
    case 405: return ErrorCause::NoSpace;
    case 402: return ErrorCause::DigestMismatch;
    case 406:
    case 531:
    case 900: return ErrorCause::ServiceUnreachable;
    // The unit's volume refused to this user (the authorisation prompt was declined or absent).
    case 526: return ErrorCause::AuthorisationRefused;
    default: return ErrorCause::Unknown;
    }
}

std::string NextStepText(ErrorCause cause) {
    const char* key = KeyOf(cause);
    if (key == nullptr) return "";
    std::string step = ReadText(key);
    if (step.empty()) return "";
    std::string text = "\n\n" + step;
    std::string support = ReadText("SUPPORT_REPORT");
    if (!support.empty()) text += "\n" + platform::ReplaceAll(support, "#1", SupportReportFolder());
    return text;
}

std::string FullFormatStep() { return ReadText("FULL_FORMAT"); }

std::string SupportReportFolder() {
    std::string folder = platform::GetUserDataFolder();
    return folder.empty() ? "" : folder + "SupportReport\\";
}
