#pragma once
// Small settings files of "[section]" headers and "key = value" lines, in the settings
// folder. A name beginning with '@' belongs to this computer: "@Application.txt" is the file
// "<computer name>.Application.txt". Uncached files are reread by every query; cached ones
// are read once into maps.

#include "foundation/KString.h"
#include "foundation/KStringMap.h"

class KIniFile {
public:
    // Lines (and so section names, keys and values) are cut at this many characters.
    static const int kLineMax = 4095;

    KIniFile(const char* name, bool cached);
    ~KIniFile();
    KIniFile(const KIniFile&) = delete;
    KIniFile& operator=(const KIniFile&) = delete;

    // The value of `key` in `section` (whole names, without regard to case), else
    // `defaultValue` (which may be null). An uncached result lives until the next query.
    const char* GetValue(const char* section, const char* key, const char* defaultValue);

    // Reads the file into `sections` (section name -> map of key -> value text); a missing
    // file reads as empty. A section that appears twice is merged into the first.
    void Load(KStringMap* sections);
    // Writes `sections` to a temporary file and renames it over the file, so the old file
    // stays whole until the new one is complete. False when nothing could be written.
    bool Save(KStringMap* sections);
    // Frees every value text and section map and empties `sections`.
    static void FreeSections(KStringMap* sections);

    const char* GetPath() const { return mPath.Buffer(); }
    const char* GetBackupPath() const { return mBackupPath.Buffer(); }
    KStringMap* GetSections() { return mSections; }

private:
    KString mPath;
    KString mBackupPath;
    char mValue[kLineMax + 1];
    KStringMap* mSections = nullptr;
    bool mModified = false;
};
