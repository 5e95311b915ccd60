// Every user-visible error goes through ShowErrorMessage: a message kind selects a text of
// Message.ini (or a built-in one), its placeholders are filled and it is shown in a box.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "state/NextStep.h"

// The questions and notices of ShowConfirmMessage.
constexpr int kConfirmSlowLine = 902;
constexpr int kConfirmCompetingProcess = 1202;
constexpr int kConfirmRecognition = 2000;
constexpr int kConfirmPause = 2001;
constexpr int kConfirmDelete = 2200;
constexpr int kConfirmOtherUnit = 2201;
constexpr int kNoticeTransferDone = 2301;
constexpr int kNoticeDownloadDone = 2302;
constexpr int kConfirmLowBattery = 2303;    // DetailText: the battery's charge in percent
constexpr int kNoticeSupportReport = 2310;  // DetailText: the report's folder

// An error as the user was shown it: its kind, its message code ("E17", may be empty) and text.
struct ShownError {
    int kind = 0;
    std::string code;
    std::string text;
};

class MessageCatalogue {
public:
    int ShowErrorMessage(int kind, const std::string& messageCode, const std::string& note);
    int ShowConfirmMessage(int kind);
    int SetDataName(const std::string& text);
    int SetDetailText(const std::string& text);
    int SetNumberText(double number);
    // The free gigabytes a refusal for space names beside the needed ones.
    int SetFreeNumberText(double number);
    // The last error shown in this run (any thread), for the automation's result.
    std::optional<ShownError> LastError();
    // The cause of the next error box, where the caller knows one its kind does not tell.
    int SetCause(ErrorCause cause);

    std::string DataName;
    std::string NoteText;
    std::string DetailText;
    std::string NumberText;
    std::string FreeNumberText;
    std::atomic<int32_t> EstimatedMinutes{0};
    std::atomic<ErrorCause> Cause{ErrorCause::Unknown};

private:
    std::mutex lastErrorLock_;
    std::optional<ShownError> lastError_;
};
