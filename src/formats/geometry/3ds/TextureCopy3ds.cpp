#include "formats/geometry/3ds/TextureCopy3ds.h"

#include <algorithm>

#include "foundation/KLocale.h"
#include "foundation/KPath.h"

namespace {

// Letters, digits, '_' and '-' alone: what every file system and reader takes.
std::string Plain(const std::string& text) {
    std::string out;
    for (char c : text)
        if (KIsAlpha(c) || KIsDigit(c) || c == '_' || c == '-') out += c;
    return out;
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
