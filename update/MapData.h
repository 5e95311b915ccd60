// The bulk data of an update brought into the form it goes to the unit in: the volume and
// master data version files gunzipped, the split program update data gunzipped and joined,
// the first image piece partly deciphered. Products are "NEW" files in the download folder.
#pragma once

#include <string>

#include "update/ControlFiles.h"

[[nodiscard]] int Conf1001CrcCheck(ConfigData& data, const std::string& id);
[[nodiscard]] int Conf2000CrcCheck(ConfigData& data, const std::string& id);
[[nodiscard]] int ImageFileDecode(ConfigData& data, const std::string& dir, const std::string& name);

// Puts back a delivered single file of FLASH whose only copy is its backup (left by a restore
// that failed). False while such a backup remains: a clean-up must then leave FLASH's NEW
// files alone.
[[nodiscard]] bool RestoreDeliveredFiles(const std::string& id);
// Removes the intermediates an interrupted transfer left in FLASH and FLASH\RENEWAL (the
// preparation's own NEW and DECOMP names only), after RestoreDeliveredFiles: 0 or FileDelete's
// code.
[[nodiscard]] int RemoveStaleIntermediates(const std::string& id);
