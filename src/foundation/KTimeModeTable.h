#pragma once
// The table of named frame rates: short and long names, and the mode numbers
// the older file version writes in its "TimeMode" field.

struct KTimeModeRow {
    double rate;
    const char* shortName;
    int mode;
    int fileCode;
    const char* longName;
    bool fileCodeLookup;  // false: the row is skipped when mapping a file code to a mode
};

class KTimeModeTable {
public:
    static int GetCount();
    // nullptr when the index is out of range.
    static const KTimeModeRow* GetRow(int index);
    // First row of the mode; nullptr when the mode has none (mode 12, out of range).
    static const KTimeModeRow* FindRow(int mode);
    // Mode whose short name, else long name, is exactly the text; 6 when none.
    static int FindMode(const char* name);
};

int KTimeModeFromName(const char* name);
// Short name of the mode; "" when it has no row.
const char* KTimeModeToName(int mode);
// File code of the mode; 3 when it has no row.
int KTimeModeToFileCode(int mode);
// Mode of the first row open to file-code lookup with that code; 6 when none.
int KTimeModeFromFileCode(int code);
