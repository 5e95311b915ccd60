// The support report: one folder a user can send to the inquiry desk when something went
// wrong. The program writes it and shows where; it sends nothing anywhere.
#pragma once

#include <string>

// The name of the report's own summary inside the folder.
inline constexpr char kSupportSummaryName[] = "Report.txt";
// The transfer record a cut transfer leaves in the map folder; copied while one is pending.
inline constexpr char kPendingTransferRecordName[] = "Transfer.ini";

// Writes a report folder under SupportReportFolder(), named after the local time: the kept
// logs of this run and the one before, Veltrane.ini with its secrets left out, History.ini,
// the pending transfer record, and Report.txt (program and system versions, the map folder
// and the unit with their free space, the last error shown). 0 and *folder (with its trailing
// backslash), else kFolderCreateFailed or kFileWriteFailed.
[[nodiscard]] int WriteSupportReport(std::string* folder);
// A settings file's text with every value that could be a secret left out: keys naming a
// password, a secret, a token or credentials, and the user part of a URL.
std::string WithoutSecrets(const std::string& settings);
