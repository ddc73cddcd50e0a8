#pragma once
// Texture images travel with a written 3DS file: each is copied into the file's folder, where
// 3DS readers look for it by its short name.

#include <string>

#include "formats/geometry/KTextureCopies.h"

// The names a written 3DS file gives its images. A name its 12-character field holds (a path
// of fewer than 12 characters, else the file name) is written as it is; a longer one, or one
// that another image has, gets a name of its own in 8.3 style that keeps its extension
// ("engineflare1.jpg" becomes "enginefl.jpg", then "engine~1.jpg" for the next of that start),
// never one another image of the file uses nor one of another file beside it. Names are told
// apart without case, as the file systems of 3DS readers do.
class TextureNames3ds : public KTextureNames {
public:
    TextureNames3ds() : KTextureNames(true) {}

    // The name written as it is, or empty when it needs one of its own.
    static std::string KeptName(const std::string& path);
    // The 8.3 name of `fileName` with the suffix "~n" (none for 0).
    static std::string ShortName(const std::string& fileName, int n);

protected:
    std::string OwnName(const std::string& path) const override { return KeptName(path); }
    std::string MadeName(const std::string& fileName, int n) const override {
        return ShortName(fileName, n);
    }
    std::string NoOwnName() const override {
        return "a 3DS file holds texture names of 12 characters at most";
    }
};
