#pragma once
// Helpers shared by the 3DS toolkit tests.

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "animation/KFCurve.h"
#include "common/TempTestFolder.h"
#include "formats/geometry/3ds/Axes3ds.h"

// Sets a curve's keys: frame (30 frames per second) and value.
inline void Keys3ds(KFCurve* curve, const std::vector<std::pair<int, double>>& keys) {
    curve->PrepareKeys(static_cast<int>(keys.size()));
    for (size_t i = 0; i < keys.size(); ++i)
        curve->KeySetTCB(static_cast<int>(i), FrameTime3ds(keys[i].first), keys[i].second);
    curve->CommitKeys(static_cast<int>(keys.size()));
}

// Every 3DS file of the test data folder.
inline std::vector<std::string> TestFiles3ds() {
    std::string folder = std::string(QOV_TESTDATA_DIR) + "/3ds/";
    std::vector<std::string> files;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') files.push_back(folder + entry->d_name);
        closedir(dir);
    }
    std::sort(files.begin(), files.end());
    return files;
}

// qovtool convert FLAG FROM TO: empty when it succeeds, else what it said.
inline std::string ConvertWithQovtoolFlag3ds(const std::string& flag, const std::string& from,
                                             const std::string& to) {
    const std::string tool = std::string(QOV_PROGRAMS_DIR) + "/../qovtool";
    if (access(tool.c_str(), X_OK) != 0) return "qovtool not built: " + tool;
    const std::string command =
        "'" + tool + "' convert " + flag + " '" + from + "' '" + to + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char buffer[512];
    while (pipe && fgets(buffer, sizeof buffer, pipe)) output += buffer;
    const int status = pipe ? pclose(pipe) : -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? std::string() : "failed: " + output;
}

// qovtool convert FROM TO.
inline std::string ConvertWithQovtool3ds(const std::string& from, const std::string& to) {
    return ConvertWithQovtoolFlag3ds("", from, to);
}

// What lib3ds finds in a file, one sorted line per item (tests/programs/lib3ds_counts);
// with a frame, each object node's matrix at that frame.
inline std::vector<std::string> Lib3dsLines(const std::string& path,
                                            const std::string& frame = "") {
    std::string command = std::string(QOV_PROGRAMS_DIR) + "/lib3ds_counts '" + path + "' " + frame;
    std::vector<std::string> lines;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return lines;
    char line[512];
    while (fgets(line, sizeof(line), pipe)) {
        std::string text(line);
        while (!text.empty() && text.back() == '\n') text.pop_back();
        lines.push_back(text);
    }
    pclose(pipe);
    std::sort(lines.begin(), lines.end());
    return lines;
}

inline std::vector<char> ReadBytes3ds(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes3ds(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

// A file name in a private folder, removed with the folder at the end.
struct TempPath3ds {
    TempTestFolder dir{"t3ds"};
    std::string folder, path;
    explicit TempPath3ds(const char* name) : folder(dir.path()), path(dir / name) {}
};

// Builds chunk bytes for crafted files.
using Bytes3ds = std::vector<uint8_t>;

inline Bytes3ds operator+(Bytes3ds a, const Bytes3ds& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes3ds U16(uint16_t v) {
    return {uint8_t(v), uint8_t(v >> 8)};
}
inline Bytes3ds U32(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}
inline Bytes3ds F32(float f) {
    uint32_t bits;
    memcpy(&bits, &f, 4);
    return U32(bits);
}
inline Bytes3ds Str(const std::string& s) {
    Bytes3ds b(s.begin(), s.end());
    b.push_back(0);
    return b;
}
// A chunk with its true length, or with the length given.
inline Bytes3ds Chunk(uint16_t tag, const Bytes3ds& body, int64_t length = -1) {
    return U16(tag) + U32(length < 0 ? uint32_t(6 + body.size()) : uint32_t(length)) + body;
}

#include "formats/geometry/3ds/Database3ds.h"

// Loads crafted bytes through a file, or a file given, into a new database; the file stays open.
struct Loaded3ds {
    Context3ds ctx;
    TempPath3ds temp{"crafted.3ds"};
    Database3ds* db = nullptr;
    File3ds* file = nullptr;
    explicit Loaded3ds(const Bytes3ds& bytes) {
        WriteBytes3ds(temp.path, bytes);
        Load(temp.path);
    }
    explicit Loaded3ds(const std::string& path) { Load(path); }
    void Load(const std::string& path) {
        InitDatabase3ds(ctx, &db);
        file = OpenFile3ds(ctx, path.c_str(), "rb");
        LoadDatabase3ds(ctx, file, db);
    }
    ~Loaded3ds() {
        ReleaseDatabase3ds(ctx, &db);
        CloseAllFiles3ds(ctx);
    }
    // Saves the database and returns the bytes written.
    Bytes3ds Save() {
        TempPath3ds out("saved.3ds");
        File3ds* target = OpenFile3ds(ctx, out.path.c_str(), "wb");
        SaveDatabase3ds(ctx, target, db);
        CloseFile3ds(ctx, target);
        std::vector<char> bytes = ReadBytes3ds(out.path);
        return Bytes3ds(bytes.begin(), bytes.end());
    }
    bool HasError(int code) const {
        for (int i = 0; i < 20 && ctx.ErrorAt(i).code; ++i)
            if (ctx.ErrorAt(i).code == code) return true;
        return ctx.OverflowError().code == code;
    }
};
