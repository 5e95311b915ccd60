// History.ini, a file any user of the PC can edit, loaded into the PC records as the main window
// loads it: every record has a name, every value fits the program's buffer and holds no line end, and
// the records written back read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "FuzzWorld.h"
#include "app/VeltraneDlg.h"
#include "ui/headless/HeadlessView.h"

namespace {

bool OneLine(const std::string& value) {
    return value.size() < 256 && value.find_first_of(std::string("\n\0", 2)) == std::string::npos;
}

// The size is kept with six decimals ("%f"), so it reads back as its text, not to the last bit.
std::string SizeText(float size) {
    char text[512];
    snprintf(text, sizeof text, "%f", static_cast<double>(size));
    return text;
}

// Blanks and a line end around a value are the file's, not the value's: a NUL in the file or a
// pair of quotes can keep them in the value the first time, and the read after writing it back
// trims them. Likewise a pair of quotes (double or single) around a value is taken off at each
// read, as Windows does, so a value read as "x" (quotes and all) comes back as x.
std::string Trimmed(std::string value) {
    const char* const blanks = " \t\r";
    for (;;) {
        const size_t first = value.find_first_not_of(blanks);
        value = first == std::string::npos ? "" : value.substr(first, value.find_last_not_of(blanks) + 1 - first);
        if (value.size() < 2 || (value.front() != '"' && value.front() != '\'') || value.back() != value.front())
            return value;
        value = value.substr(1, value.size() - 2);
    }
}

bool Same(const std::vector<PC_MAP_DATA>& a, const std::vector<PC_MAP_DATA>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Trimmed(a[i].name) != Trimmed(b[i].name) || Trimmed(a[i].status) != Trimmed(b[i].status) ||
            Trimmed(a[i].version) != Trimmed(b[i].version) || Trimmed(a[i].folder) != Trimmed(b[i].folder) ||
            SizeText(a[i].size) != SizeText(b[i].size))
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzWorld& world = FuzzWorld::Get();
    static HeadlessView view;
    static std::unique_ptr<CVeltraneDlg> window = [] {
        platform::SetView(&view);
        return std::make_unique<CVeltraneDlg>();
    }();
    theApp.HistoryIniPath = world.Win(world.root / "program" / "History.ini");
    FuzzWorld::Put(world.root / "program", "History.ini", {reinterpret_cast<const char*>(data), size});

    if (window->GetHistoryData() != 0) abort();
    const std::vector<PC_MAP_DATA> records = window->PcMapData;
    for (const PC_MAP_DATA& record : records) {
        if (record.name.empty()) abort();
        for (const std::string* value : {&record.name, &record.status, &record.version, &record.folder})
            if (!OneLine(*value)) abort();
    }
    // A section holds at least "[HISTORY1]" and "NAME=x".
    if (records.size() > size / 16) abort();

    // A name that is only blanks once the file's NULs no longer hide its end reads back empty,
    // and an empty name ends the list.
    std::vector<PC_MAP_DATA> kept = records;
    for (size_t i = 0; i < kept.size(); ++i)
        if (Trimmed(kept[i].name).empty()) kept.resize(i);

    if (window->SetHistoryData() != 0) abort();
    if (window->GetHistoryData() != 0) abort();
    if (!Same(window->PcMapData, kept)) {
        const std::vector<PC_MAP_DATA>& reread = window->PcMapData;
        for (const std::vector<PC_MAP_DATA>* list : {&std::as_const(kept), &reread})
            for (const PC_MAP_DATA& r : *list)
                fprintf(stderr, "[%s][%s][%s][%s][%.9g]\n", r.name.c_str(), r.status.c_str(), r.version.c_str(),
                        r.folder.c_str(), static_cast<double>(r.size));
        abort();
    }
    return 0;
}
