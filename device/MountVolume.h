// Giving the unit's letterless volume a drive letter again, the remembered volume first.
#pragma once

// 0, 1100, 1101, 1102, 1103 or 800.
[[nodiscard]] int MountNaviVolume();
