// Giving the unit's letterless volume a drive letter again: the remembered volume first, else
// each letterless volume on the USB bus at a trial letter, kept a while for the unit to settle
// and taken back when it is not the unit. In steps, so that the window waits on a timer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct LetterRecovery {
    std::vector<std::string> volumes;  // the volumes still to try, in the system's order
    std::string trialRoot;             // "E:\" while a trial letter waits to be taken back
};

// A step's result besides the final ones: a trial letter was given and is kept
// kLetterTrialWaitMs before LetterRecoveryNext.
constexpr int kRecoveryTrialWaits = -1;
constexpr uint32_t kLetterTrialWaitMs = 5000;
// The first step: kRecoveryTrialWaits, or the final result (0, 1100, 1101, 1102, 1103 or 800).
[[nodiscard]] int LetterRecoveryStart(LetterRecovery* recovery);
// After the wait: the trial letter taken back and the next volumes tried; results as above.
[[nodiscard]] int LetterRecoveryNext(LetterRecovery* recovery);
// A recovery cut off during its wait: the trial letter taken back, nothing more tried.
void LetterRecoveryAbandon(LetterRecovery* recovery);
// The whole recovery, waiting in place: 0, 1100, 1101, 1102, 1103 or 800.
[[nodiscard]] int MountNaviVolume();
