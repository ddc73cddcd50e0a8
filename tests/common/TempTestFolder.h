#pragma once
// Test helper: a fresh folder below the temporary folder, removed with everything in it when
// the helper goes.

#include <dirent.h>
#include <stdlib.h>

#include <algorithm>

#include <string>
#include <vector>

#include "platform/KPlatformFile.h"

class TempTestFolder {
public:
    explicit TempTestFolder(const char* prefix = "kqov") {
        std::string templ = KPlatformGetTempFolder() + "/" + prefix + "XXXXXX";
        std::vector<char> buffer(templ.begin(), templ.end());
        buffer.push_back(0);
        if (mkdtemp(buffer.data())) path_ = buffer.data();
    }
    ~TempTestFolder() {
        if (!path_.empty()) {
            int rc = system(("rm -rf '" + path_ + "'").c_str());
            (void)rc;
        }
    }
    TempTestFolder(const TempTestFolder&) = delete;
    TempTestFolder& operator=(const TempTestFolder&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    // Every name in `folder`, hidden ones too, in order: what a step left behind shows.
    static std::vector<std::string> NamesIn(const std::string& folder) {
        std::vector<std::string> names;
        if (DIR* dir = opendir(folder.c_str())) {
            while (const dirent* entry = readdir(dir)) names.push_back(entry->d_name);
            closedir(dir);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string path_;
};
