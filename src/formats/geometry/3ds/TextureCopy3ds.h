#pragma once
// Texture images travel with a written 3DS file: each is copied into the
// file's folder, where 3DS readers look for it by its short name.

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

// Copies `path` next to `file3ds`, as `name` (by default its own file name), unless a file of
// that name is there already. False, with a line added to `status`, when the source is missing
// or the copy fails; a failed copy leaves no partial file behind.
bool CopyTextureFile3ds(const char* path, const char* file3ds, std::string& status,
                        const char* name = nullptr);

// The names a written 3DS file gives its images. A name its 12-character field holds (a path
// of fewer than 12 characters, else the file name) is written as it is; a longer one gets a
// name of its own in 8.3 style that keeps its extension ("engineflare1.jpg" becomes
// "enginefl.jpg", then "engine~1.jpg" for the next of that start), never one another image of
// the file uses nor one of another file beside it.
class TextureNames3ds {
public:
    // Names are told apart without case, as the file systems of 3DS readers do.
    void Reset(const std::string& file3ds);
    // A name written as it is: no image made short will take it.
    void Reserve(const std::string& path);
    // The map name of the image at `path`; when the name is a new one, says in `status` which
    // image it stands for. Its first use marks it for copying beside the file under that name.
    std::string Place(const std::string& path, std::string& status);
    // Copies the images placed since Reset; called once the file has taken its place, so a
    // failed write leaves no image behind.
    void CopyPlaced(std::string& status);

    // The name written as it is, or empty when it needs one of its own.
    static std::string KeptName(const std::string& path);
    // The 8.3 name of `fileName` with the suffix "~n" (none for 0).
    static std::string ShortName(const std::string& fileName, int n);

private:
    bool Free(const std::string& path, const std::string& name) const;

    std::string mFile3ds;
    std::map<std::string, std::string> mPlaced;                // by path
    std::set<std::string> mTaken;                              // upper-cased file names
    std::vector<std::pair<std::string, std::string>> mCopies;  // path, name (empty: its own)
};
