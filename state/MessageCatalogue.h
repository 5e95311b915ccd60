// Every user-visible error goes through ShowErrorMessage: a message kind selects a text of
// Message.ini (or a built-in one), its placeholders are filled and it is shown in a box.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// The questions and notices of ShowConfirmMessage.
constexpr int kConfirmSlowLine = 902;
constexpr int kConfirmCompetingProcess = 1202;
constexpr int kConfirmRecognition = 2000;
constexpr int kConfirmPause = 2001;
constexpr int kConfirmDelete = 2200;
constexpr int kNoticeTransferDone = 2301;
constexpr int kNoticeDownloadDone = 2302;

class MessageCatalogue {
public:
    int ShowErrorMessage(int kind, const std::string& messageCode, const std::string& note);
    int ShowConfirmMessage(int kind);
    int SetDataName(const std::string& text);
    int SetDetailText(const std::string& text);
    int SetNumberText(double number);
    // The free gigabytes a refusal for space names beside the needed ones.
    int SetFreeNumberText(double number);

    std::string DataName;
    std::string NoteText;
    std::string DetailText;
    std::string NumberText;
    std::string FreeNumberText;
    std::atomic<int32_t> EstimatedMinutes{0};
};
