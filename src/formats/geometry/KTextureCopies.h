#pragma once
// Texture images travel with a written file: each is copied into the file's folder, under a
// name no other image of the file and no other file beside it has, once the file is in place.

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

// Copies `path` next to `written`, as `name` (by default its own file name), unless a file of
// that name is there already. False, with a line added to `status`, when the source is missing
// or the copy fails; a failed copy leaves no partial file behind.
bool KCopyTextureFile(const char* path, const char* written, std::string& status,
                      const char* name = nullptr);

// The names a written file gives its images. An image keeps its own name unless a different
// image already has it (in the file, or as a file beside it): it then gets the next name made
// from its own ("wood.tga", "wood~1.tga" ...). An image of the same bytes shares a name.
class KTextureNames {
public:
    virtual ~KTextureNames() = default;

    // Starts the names of the file `written`; `own` are the files the writer itself puts beside
    // it (its material file): no image takes one of their names.
    void Reset(const std::string& written, const std::vector<std::string>& own = {});
    // A name written as it is: no name made for another image will take it.
    void Reserve(const std::string& path);
    // The name the file gives the image at `path`; when it is not the image's own, says in
    // `status` which image it stands for. Its first use marks it for copying under that name.
    std::string Place(const std::string& path, std::string& status);
    // Copies the images placed since Reset; called once the file has taken its place, so a
    // failed write leaves no image behind. An image that cannot be copied, memory running out
    // included, is a line of `status`: the file is in place all the same.
    void CopyPlaced(std::string& status) noexcept;
    // Forgets the images placed: nothing is to be copied.
    void Drop() { mCopies.clear(); }

protected:
    // `caseless`: names are told apart without case, as the file systems of some readers do.
    explicit KTextureNames(bool caseless) : mCaseless(caseless) {}
    // The name written for `path` when nothing else has it; empty when it needs one made.
    virtual std::string OwnName(const std::string& path) const = 0;
    // Name number `n` made from `fileName` (0: the plainest).
    virtual std::string MadeName(const std::string& fileName, int n) const = 0;
    // Why an image without a name of its own (OwnName empty) gets a made one.
    virtual std::string NoOwnName() const = 0;

private:
    struct Holder {
        std::string path;     // the image, or empty for a file the writer writes
        bool placed = false;  // false: reserved for an image not placed yet
    };
    std::string Key(const std::string& name) const;
    // Size and hash of the file's bytes; {0, 0} when it cannot be read.
    std::pair<uint64_t, uint64_t> Content(const std::string& path);
    bool SameImage(const std::string& a, const std::string& b);
    // No different file of that name beside the written file.
    bool FreeBeside(const std::string& path, const std::string& name, bool unknownIsFree);
    std::string Take(const std::string& path, const std::string& name, const std::string& file);
    // False when no file of that name in any case is beside the written file, as the folder
    // was listed once: asking the system name by name lists the folder for each missing one.
    bool MaybeBeside(const std::string& name);
    // The lowest n whose made name an image of the same bytes holds; -1 for none.
    int SameImageName(const std::string& path, const std::string& fileName);

    bool mCaseless;
    std::string mWritten;
    std::map<std::string, std::string> mPlaced;        // by path: name written
    std::unordered_map<std::string, Holder> mHolders;  // by key of the file name beside
    std::unordered_map<std::string, int> mNext;        // by key of made name 0: lowest n maybe free
    std::map<std::pair<uint64_t, uint64_t>, std::vector<std::string>> mByContent;  // file names
    std::unordered_map<std::string, std::pair<uint64_t, uint64_t>> mContent;       // by path
    std::vector<std::pair<std::string, std::string>> mCopies;  // path, file name beside
    std::unordered_set<std::string> mBeside;  // upper-case names in the written file's folder
    int mListed = 0;                          // 0: not yet, 1: listed, -1: cannot be listed
};

// Images of an OBJ file's material file: any length, told apart by exact name.
class KTextureNamesObj : public KTextureNames {
public:
    KTextureNamesObj() : KTextureNames(false) {}

protected:
    std::string OwnName(const std::string& path) const override;
    std::string MadeName(const std::string& fileName, int n) const override;
    std::string NoOwnName() const override { return std::string(); }
};
