// What a user can do next when a box is raised for a cause the program knows, and where the
// support report is, as the catalogue's own texts (Message.ini, section MSG_NEXT_STEP).
#pragma once

#include <string>

enum class ErrorCause {
    Unknown,               // nothing added: the box is the catalogue's text alone
    NoSpace,               // the download folder's drive is full
    UnitRemoved,           // the unit went away while the program used it
    AuthorisationRefused,  // the system refused the authorisation to write the unit
    ServiceUnreachable,    // the map-update service could not be reached
    DigestMismatch,        // a downloaded file's digest differs from the description's
};

// The cause a message kind always means; Unknown for kinds with several possible causes.
ErrorCause CauseOfKind(int kind);
// The lines added below a box's text for the cause ("" for Unknown, or when Message.ini has no
// text for it): a blank line, the next step, and where the support report is.
std::string NextStepText(ErrorCause cause);
// The line the recovery's confirmation adds below its question: the shell's format dialog comes
// with Quick Format ticked, and this says what to untick for a full format ("" when Message.ini
// has no text for it).
std::string FullFormatStep();
// Where support reports are written: "SupportReport\" in the user's data folder ("" when the
// system names no such folder).
std::string SupportReportFolder();
