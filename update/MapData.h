// The bulk data of an update brought into the form it goes to the unit in: the volume and
// master data version files gunzipped, the split program update data gunzipped and joined,
// the first image piece partly deciphered. Products are "NEW" files in the download folder.
#pragma once

#include <string>

#include "update/ControlFiles.h"

int Conf1001CrcCheck(ConfigData& data, const std::string& id);
int Conf2000CrcCheck(ConfigData& data, const std::string& id);
int ImageFileDecode(ConfigData& data, const std::string& dir, const std::string& name);
