// What a scripted session did, for a dealer's batch: one JSON object with the script's outcome,
// the unit's version before and after, the set transferred, the last error shown, and how long
// the download and the transfer ran (docs/automation.md has the fields).
#pragma once

#include <string>

namespace ui {

class SessionResult {
public:
    // On the user-interface thread, whenever the driver steps: the unit as the window last
    // read it.
    void Sample();
    // outcome: "completed", "failed" or "unreadable"; failure: the failing line's report, empty
    // when none.
    std::string Json(const std::string& outcome, const std::string& failure);

private:
    std::string before_;
    std::string lastRead_;
    // The completed transfer the application object held at the last reading of the unit.
    std::string transferredAtReading_;
};

// Writes the object and a line end to the native path (UTF-8); false when it could not be
// written whole.
[[nodiscard]] bool WriteResultFile(const std::string& path, const std::string& json);

}  // namespace ui
