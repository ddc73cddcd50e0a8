#include "foundation/KIniFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/KLocale.h"
#include "foundation/KPath.h"
#include "foundation/KRegistry.h"
#include "platform/KPlatformFile.h"

namespace {

bool IsBlank(char c) {
    return (unsigned char)c <= 32;
}

std::string TrimBlanks(const std::string& text) {
    size_t first = 0, last = text.size();
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

// One line of at most kLineMax characters without its line end; the rest of a longer line
// is skipped so it never reads as a line of its own. False at the end of the file.
bool ReadLine(FILE* file, std::string& line) {
    line.clear();
    char buffer[KIniFile::kLineMax + 1];
    bool any = false;
    while (KReadLine(buffer, sizeof(buffer), file)) {
        any = true;
        size_t length = strlen(buffer);
        if (line.size() < size_t(KIniFile::kLineMax))
            line.append(buffer, std::min(length, size_t(KIniFile::kLineMax) - line.size()));
        if (length > 0 && (buffer[length - 1] == '\n' || buffer[length - 1] == '\r')) break;
        if (length == 0) break;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return any;
}

struct Parsed {
    enum Kind { kNothing, kSection, kPair } kind = kNothing;
    std::string name;  // section name or key
    std::string value;
};

// The one reading of a line, shared by the cached and the uncached lookup.
Parsed ParseLine(std::string line) {
    Parsed parsed;
    size_t comment = line.find(';');
    if (comment != std::string::npos) line.erase(comment);
    size_t open = line.find('['), close = line.find(']');
    if (open != std::string::npos && close != std::string::npos && close > open) {
        parsed.kind = Parsed::kSection;
        parsed.name = TrimBlanks(line.substr(open + 1, close - open - 1));
        return parsed;
    }
    size_t equal = line.find('=');
    if (equal == std::string::npos) return parsed;  // no key: nothing to find
    parsed.name = TrimBlanks(line.substr(0, equal));
    if (parsed.name.empty()) return parsed;
    size_t start = equal + 1;
    while (start < line.size() && (IsBlank(line[start]) || line[start] == '=')) ++start;
    parsed.kind = Parsed::kPair;
    parsed.value = TrimBlanks(line.substr(start));
    return parsed;
}

char* CopyText(const std::string& text) {
    char* copy = new char[text.size() + 1];
    memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

}  // namespace

KIniFile::KIniFile(const char* name, bool cached) {
    mValue[0] = 0;
    const char* folder = KGetSettingsFolder();
    std::string file = name ? name : "";
    if (!file.empty() && file[0] == '@') {
        char computer[260];
        KGetLocalComputerName(computer, sizeof(computer));  // "?" when unknown
        std::string prefix = std::string(computer) + ".";
        mPath = KJoinFolder(folder, (prefix + file.substr(1)).c_str());
        mBackupPath = KJoinFolder(folder, (prefix + "backupfile.ini").c_str());
    } else {
        mPath = KJoinFolder(folder, file.c_str());
        mBackupPath = KJoinFolder(folder, "backupfile.ini");
    }
    if (cached) {
        mSections = new KStringMap(20);
        Load(mSections);
    }
}

KIniFile::~KIniFile() {
    if (!mSections) return;
    if (mModified) Save(mSections);
    FreeSections(mSections);
    delete mSections;
}

void KIniFile::Load(KStringMap* sections) {
    if (!sections) return;
    FILE* file = KPlatformOpenFile(mPath.Buffer(), "rt");
    if (!file) return;
    KStringMap* current = nullptr;
    std::string line;
    while (ReadLine(file, line)) {
        Parsed parsed = ParseLine(line);
        if (parsed.kind == Parsed::kSection) {
            current = static_cast<KStringMap*>(sections->Find(parsed.name.c_str()));
            if (!current) {
                current = new KStringMap(20);
                if (sections->Add(parsed.name.c_str(), current) < 0) {
                    delete current;
                    current = nullptr;
                }
            }
        } else if (parsed.kind == Parsed::kPair && current) {
            char* value = CopyText(parsed.value);
            if (current->Add(parsed.name.c_str(), value) < 0) delete[] value;
        }
    }
    fclose(file);
}

bool KIniFile::Save(KStringMap* sections) {
    if (!sections) return false;
    FILE* file = KPlatformOpenFile(mBackupPath.Buffer(), "wt+");
    if (!file) return false;
    bool ok = true;
    for (int s = 0; s < sections->GetCount(); ++s) {
        const char* name = nullptr;
        KStringMap* keys = static_cast<KStringMap*>(sections->GetAt(s, &name));
        if (s > 0) ok = fputs("\n", file) >= 0 && ok;
        ok = fprintf(file, "[%s]\n", name) >= 0 && ok;
        for (int k = 0; keys && k < keys->GetCount(); ++k) {
            const char* key = nullptr;
            const char* value = static_cast<const char*>(keys->GetAt(k, &key));
            ok = fprintf(file, "%s = %s\n", key, value ? value : "") >= 0 && ok;
        }
    }
    ok = fclose(file) == 0 && ok;
    // Only a complete new file replaces the old one, in one step.
    if (ok) ok = KPlatformRenameFile(mBackupPath.Buffer(), mPath.Buffer());
    if (!ok) KPlatformDeleteFile(mBackupPath.Buffer());
    return ok;
}

void KIniFile::FreeSections(KStringMap* sections) {
    if (!sections) return;
    for (int s = 0; s < sections->GetCount(); ++s) {
        KStringMap* keys = static_cast<KStringMap*>(sections->GetAt(s));
        if (!keys) continue;
        for (int k = 0; k < keys->GetCount(); ++k) delete[] static_cast<char*>(keys->GetAt(k));
        delete keys;
    }
    sections->Clear();
}

const char* KIniFile::GetValue(const char* section, const char* key, const char* defaultValue) {
    if (!section || !key) return defaultValue;
    if (mSections) {
        KStringMap* keys = static_cast<KStringMap*>(mSections->Find(section));
        const char* value = keys ? static_cast<const char*>(keys->Find(key)) : nullptr;
        return value ? value : defaultValue;
    }

    mValue[0] = 0;
    if (defaultValue) {
        strncpy(mValue, defaultValue, kLineMax);
        mValue[kLineMax] = 0;
    }
    FILE* file = KPlatformOpenFile(mPath.Buffer(), "rt");
    if (!file) return defaultValue ? mValue : nullptr;
    bool inSection = false, found = false;
    std::string line;
    while (!found && ReadLine(file, line)) {
        Parsed parsed = ParseLine(line);
        if (parsed.kind == Parsed::kSection) {
            inSection = KStrCaseCmp(parsed.name.c_str(), section) == 0;
        } else if (parsed.kind == Parsed::kPair && inSection &&
                   KStrCaseCmp(parsed.name.c_str(), key) == 0) {
            size_t n = std::min(parsed.value.size(), size_t(kLineMax));
            memcpy(mValue, parsed.value.data(), n);
            mValue[n] = 0;
            found = true;
        }
    }
    fclose(file);
    return (found || defaultValue) ? mValue : nullptr;
}
