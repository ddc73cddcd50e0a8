#include "formats/geometry/3ds/TextureCopy3ds.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "foundation/KLocale.h"
#include "foundation/KPath.h"
#include "platform/KPlatformFile.h"

bool CopyTextureFile3ds(const char* path, const char* file3ds, std::string& status,
                        const char* name) {
    if (!path || !file3ds) return false;
    const KString folder = KExtractFileFolder(file3ds);
    const KString own = KExtractFileName(path, true);
    const std::string target = KResolvePath(folder.Buffer(), name ? name : own.Buffer()).Buffer();
    if (KFileExists(target.c_str())) return true;
    FILE* in = KPlatformOpenFile(path, "rb");
    if (!in) {
        status += std::string("Unable to locate texture file \"") + path + "\".\n";
        return false;
    }
    // No half-written image stays behind: the copy takes its name only when whole.
    KPlatformReplaceFile copy;
    bool ok = copy.Open(target.c_str(), "wb");
    FILE* out = copy.GetFile();
    char block[1024];
    while (ok) {
        const size_t n = fread(block, 1, sizeof block, in);
        if (n == 0) break;
        ok = fwrite(block, 1, n, out) == n;
    }
    ok = ok && feof(in) && !ferror(in);
    fclose(in);
    ok = ok && copy.Commit();
    if (!ok) status += "Error writing texture file \"" + target + "\".\n";
    return ok;
}

namespace {

std::string Upper(std::string text) {
    for (char& c : text) c = KToUpper(c);
    return text;
}

// Letters, digits, '_' and '-' alone: what every file system and reader takes.
std::string Plain(const std::string& text) {
    std::string out;
    for (char c : text)
        if (KIsAlpha(c) || KIsDigit(c) || c == '_' || c == '-') out += c;
    return out;
}

bool SameBytes(const char* a, const char* b) {
    FILE* first = KPlatformOpenFile(a, "rb");
    FILE* second = first ? KPlatformOpenFile(b, "rb") : nullptr;
    bool same = first && second;
    char x[1024], y[1024];
    while (same) {
        const size_t n = fread(x, 1, sizeof x, first);
        same = fread(y, 1, sizeof y, second) == n && std::memcmp(x, y, n) == 0;
        if (n == 0) break;
    }
    same = same && !ferror(first) && !ferror(second);
    if (first) fclose(first);
    if (second) fclose(second);
    return same;
}

}  // namespace

std::string TextureNames3ds::KeptName(const std::string& path) {
    if (path.size() < 12) return path;
    const std::string name = KExtractFileName(path.c_str(), true).Buffer();
    return name.size() <= 12 ? name : std::string();
}

std::string TextureNames3ds::ShortName(const std::string& fileName, int n) {
    const size_t dot = fileName.rfind('.');
    std::string stem = Plain(fileName.substr(0, dot == 0 ? std::string::npos : dot));
    std::string extension =
        dot == 0 || dot == std::string::npos ? "" : Plain(fileName.substr(dot + 1));
    // Four letters are kept (".jpeg", ".tiff"), a longer extension is cut to three.
    if (extension.size() > 4) extension.resize(3);
    if (!extension.empty()) extension.insert(0, ".");
    if (stem.empty()) stem = "tex";
    const std::string suffix = n > 0 ? "~" + std::to_string(n) : "";
    const size_t room = std::min<size_t>(8, 12 - extension.size()) - suffix.size();
    return stem.substr(0, room) + suffix + extension;
}

void TextureNames3ds::Reset(const std::string& file3ds) {
    mFile3ds = file3ds;
    mPlaced.clear();
    mTaken.clear();
    mCopies.clear();
}

void TextureNames3ds::Reserve(const std::string& path) {
    const std::string kept = KeptName(path);
    if (!kept.empty()) mTaken.insert(Upper(KExtractFileName(kept.c_str(), true).Buffer()));
}

bool TextureNames3ds::Free(const std::string& path, const std::string& name) const {
    if (mTaken.count(Upper(name))) return false;
    // A file of that name beside the output is another image, unless it has the same bytes.
    const KString target =
        KResolvePath(KExtractFileFolder(mFile3ds.c_str()).Buffer(), name.c_str());
    return !KFileExists(target.Buffer()) || SameBytes(path.c_str(), target.Buffer());
}

std::string TextureNames3ds::Place(const std::string& path, std::string& status) {
    const auto placed = mPlaced.find(path);
    if (placed != mPlaced.end()) return placed->second;
    std::string name = KeptName(path);
    if (!name.empty()) {
        Reserve(path);
        mCopies.emplace_back(path, std::string());
        return mPlaced[path] = name;
    }
    const std::string fileName = KExtractFileName(path.c_str(), true).Buffer();
    // Up to 99999 a suffix leaves room for a letter of the name; the loop ends there.
    for (int n = 0; n <= 99999 && name.empty(); ++n) {
        const std::string candidate = ShortName(fileName, n);
        if (Free(path, candidate)) name = candidate;
    }
    if (name.empty()) {
        status += "No free 3DS name is left for texture \"" + path + "\".\n";
        return mPlaced[path] = ShortName(fileName, 0);
    }
    mTaken.insert(Upper(name));
    status += "Texture \"" + path + "\" is written as \"" + name +
              "\": a 3DS file holds texture names of 12 characters at most.\n";
    mCopies.emplace_back(path, name);
    return mPlaced[path] = name;
}

void TextureNames3ds::CopyPlaced(std::string& status) {
    for (const auto& copy : mCopies)
        CopyTextureFile3ds(copy.first.c_str(), mFile3ds.c_str(), status,
                           copy.second.empty() ? nullptr : copy.second.c_str());
    mCopies.clear();
}
