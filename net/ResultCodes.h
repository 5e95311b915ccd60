// Result codes of the web-service calls and the download job. Beside these, a call's result may
// be the HTTP status itself (400 and above).
#pragma once

// The program's internet session could not be created.
constexpr int kHttpNoSession = 802;
// The request could not be sent or its reply not be read.
constexpr int kHttpTransportError = 900;
// The user declined the proxy-credential prompt.
constexpr int kHttpProxyDeclined = 9000;
// The version name names a folder the service chose; anything else is the service's fault.
constexpr int kServiceRefused = 901;
// The description or the line test could not be fetched or kept, or a map file not be written.
constexpr int kDownloadFailed = 401;
// A map file's local file could not be created.
constexpr int kLocalFileOpenFailed = 404;
// A map file could not be opened or read on the line; also a description past the bounds of its
// fields or entries, or a map file larger than the whole set the description announces.
constexpr int kTransferFailed = 406;
// The download stopped on request (pause or exit).
constexpr int kDownloadStopped = 450;
// The line test found the line slow: the user is asked whether to go on.
constexpr int kSlowLine = 902;
