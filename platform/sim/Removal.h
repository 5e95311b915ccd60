// The user's removal of a unit on the simulated machine, as Windows' "safely remove" asks it:
// the request waits in the unit's section of machine.ini until the program holding the unit's
// volume has answered, or goes through at once when nothing holds the volume.
#pragma once

#include <optional>
#include <string>

#include "platform/Handle.h"
#include "platform/Profile.h"

namespace platform {

// The answers, as the machine folder's removal.ini keeps them ("[Unit <name>]" RemovalAnswer=,
// beside RemovalRequest=1 while one waits). They live apart from machine.ini: a removal asked
// or refused changes no device.
inline constexpr char kRemovalRemoved[] = "removed";
inline constexpr char kRemovalRefused[] = "refused";
inline constexpr char kRemovalInUse[] = "in use";

// True while some handle, in any process, has one of the unit's raw volumes open.
bool UnitVolumeInUse(const ProfileDocument& doc, const std::string& unit);
// Asks for the unit's removal: removed at once when no handle holds its volume, else the
// request waits for the holder (AnswerRemovalRequests). Returns the answer when there is one.
std::optional<std::string> RequestRemoval(const std::string& unit);
// The answer to the unit's last removal request, nullopt while none came.
std::optional<std::string> RemovalAnswer(const std::string& unit);
// Answers a request still waiting with kRemovalInUse: its holder did not answer in time.
void GiveUpRemoval(const std::string& unit);

// The unit whose volume a raw volume handle opened; empty for any other handle.
std::string RawVolumeUnit(HANDLE handle);

}  // namespace platform
