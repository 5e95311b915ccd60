// From a result to what the user and the service are told of it: the message catalogue's box,
// the short code shown in it, and the code a transfer that ended with it reports. One row per
// result number (state/ResultTable.cpp); a number without a row shows the system error's box.
#pragma once

#include <cstdint>
#include <string>

// How the placeholders of a box's text are filled.
enum class Fill {
    LineBreaks,      // "\n" only
    Code,            // "\n"; "#1" → message code
    Download,        // "\n"; "#1" detail, "#2" number, "#3" code, "#4" free number
    NaviCode,        // "\n"; "#1" code; "#2" → nothing
    NaviFailedCopy,  // "\n"; "#1" code; "#2" → the advice to delete the unit's data
    FixedE08,        // "\n"; "#1" → "E08", whatever code was passed
    NameCode,        // "\n"; "#1" → the data name; "#2" → message code
    None,            // a built-in text, shown as it stands
};

// An error box: its text (a Message.ini section and key, or built in), how it is filled, its
// caption and icon.
struct ErrorBox {
    const char* section;
    const char* key;
    const char* builtIn;
    Fill fill;
    const char* caption;
    uint32_t icon;
};

// The box a result (a message kind) shows.
const ErrorBox& BoxOf(int result);
// The short code a result shows with its box: "E01", "E02-1", …; "E99" for a number without a row.
std::string ResultToMessageCode(int result);
// The short code a failed transfer reports to the service and shows: "E01" to "E17"; "E15" for
// a number without a row.
std::string TransferFailureCode(int result);
