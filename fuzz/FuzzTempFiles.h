#pragma once
// Files of the fuzz targets that read through a path: a folder of the process's own below the
// temporary folder, and the input bytes written into it.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// "<temp>/<prefix><pid>", made when missing.
inline std::string FuzzFolder(const char* prefix) {
    const char* dir = std::getenv("TMPDIR");
    std::string folder =
        std::string(dir && *dir ? dir : "/tmp") + "/" + prefix + std::to_string(getpid());
    mkdir(folder.c_str(), 0700);
    return folder;
}

inline bool FuzzWriteFile(const std::string& name, std::string_view bytes) {
    FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}
