#include "foundation/KTimeModeTable.h"

#include <cstring>

namespace {

// Row order matters: lookups take the first match.
constexpr KTimeModeRow kRows[] = {
    {120.0, "120", 1, 8, "120 fps", true},
    {100.0, "100", 2, 7, "100 fps", true},
    {60.0, "60", 3, 6, "60 fps", true},
    {50.0, "50", 4, 5, "50 fps", true},
    {48.0, "48", 5, 3, "48 fps", false},
    {30.0, "30", 6, 3, "30 fps", true},
    {29.97002617, "29.97 drop", 8, 4, "NTSC Drop", true},
    {29.97002617, "29.97 full", 9, 9, "NTSC Full", true},
    {25.0, "25", 10, 2, "PAL", true},
    {24.0, "24", 11, 1, "24 fps", true},
    {30.0, "30 Drop", 7, 10, "30 Drop", true},
    {23.976, "23.976", 13, 10, "23.976 fps", false},
};
constexpr int kRowCount = int(sizeof kRows / sizeof kRows[0]);
constexpr int kFallbackMode = 6;
constexpr int kFallbackFileCode = 3;

}  // namespace

int KTimeModeTable::GetCount() {
    return kRowCount;
}

const KTimeModeRow* KTimeModeTable::GetRow(int index) {
    return index >= 0 && index < kRowCount ? &kRows[index] : nullptr;
}

const KTimeModeRow* KTimeModeTable::FindRow(int mode) {
    for (const KTimeModeRow& row : kRows) {
        if (row.mode == mode) return &row;
    }
    return nullptr;
}

int KTimeModeTable::FindMode(const char* name) {
    if (!name) return kFallbackMode;
    for (const KTimeModeRow& row : kRows) {
        if (std::strcmp(row.shortName, name) == 0) return row.mode;
    }
    for (const KTimeModeRow& row : kRows) {
        if (std::strcmp(row.longName, name) == 0) return row.mode;
    }
    return kFallbackMode;
}

int KTimeModeFromName(const char* name) {
    return KTimeModeTable::FindMode(name);
}

const char* KTimeModeToName(int mode) {
    const KTimeModeRow* row = KTimeModeTable::FindRow(mode);
    return row ? row->shortName : "";
}

int KTimeModeToFileCode(int mode) {
    const KTimeModeRow* row = KTimeModeTable::FindRow(mode);
    return row ? row->fileCode : kFallbackFileCode;
}

int KTimeModeFromFileCode(int code) {
    for (const KTimeModeRow& row : kRows) {
        if (row.fileCode == code && row.fileCodeLookup) return row.mode;
    }
    return kFallbackMode;
}
