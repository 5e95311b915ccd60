// Result codes of the foundation: file input and output, the download folder, digests and the
// operation frame. Like every result code of the program, the number also selects the message
// the user sees (state/MessageCatalogue.cpp) and its short code (ResultToMessageCode).
#pragma once

// A caught exception, or a system service that failed outright: the system error message.
constexpr int kSystemError = 800;
// No memory for a buffer.
constexpr int kOutOfMemory = 802;
// FileRead: the file could not be opened or read.
constexpr int kFileReadFailed = 803;
// FileWrite: the file could not be created or written.
constexpr int kFileWriteFailed = 804;
// DownloadFolderCreate: the download folder or one of its sub-folders could not be created.
constexpr int kFolderCreateFailed = 811;
// A digest that could not be computed, or a file whose digest differs from the expected one.
constexpr int kDigestFailed = 402;
