// The deletion job: empties and removes the sub-folders and the folder of downloaded map
// updates, then posts WM_MAIN_NOTIFY 3 (done) or 4 (failed).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "state/NotifyCodes.h"

struct PC_MAP_DELETE_DATA {
    std::string mapName;      // the download folder's name
    std::string mapFolder;    // the folder that holds it
    std::string displayName;  // shown in the confirmation
};

class CMapDelete {
public:
    int AddDeleteData(const std::string& mapName, const std::string& mapFolder, const std::string& displayName);
    // 100 cancelled, 0 confirmed (thread started when startDeletion is not 0), 1 not started.
    [[nodiscard]] int MapDataDelete(int startDeletion);
    void RemoveAll() { records_.clear(); }
    const std::vector<PC_MAP_DELETE_DATA>& Records() const { return records_; }

private:
    friend int DeleteThread(CMapDelete* deleteObject);
    std::vector<PC_MAP_DELETE_DATA> records_;
    PC_MAP_DELETE_DATA last_;
};

// 0, or FileDelete's failure (-1).
int DeleteThread(CMapDelete* deleteObject);
