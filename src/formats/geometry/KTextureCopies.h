#pragma once
// Texture images travel with a written file: each is copied into the file's folder, under a
// name no other image of the file and no other file beside it has, as part of the file's write.

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/KPlatformFile.h"

// Whether an image that cannot be read fails for a cause of the input (missing, not allowed, not
// a file; 0 for one that opens) rather than of the system (too many open files, no memory, a
// failing disk), which fails the read or write rather than leave the image out.
bool KIsImageInputProblem(int error);
// The system's words for an error number, as the end of a sentence.
std::string KImageProblemCause(int error);

// The names a written file gives its images. An image keeps its own name unless a different
// image already has it (in the file, or as a file beside it): it then gets the next name made
// from its own ("wood.tga", "wood~1.tga" ...). An image of the same bytes shares a name.
// An image is copied beside the written file when it is first placed, under a name made new
// (a name another program takes meanwhile moves the image to the next free one, before the
// written file names it); the copies stay when the file takes its place (Keep) and go when it
// does not (Drop, or the end of the object): only files this write made are removed.
class KTextureNames {
public:
    virtual ~KTextureNames() { Drop(); }

    // Starts the names of the file `written`; `own` are the files the writer itself puts beside
    // it (its material file): no image takes one of their names. Copies not kept are dropped.
    void Reset(const std::string& written, const std::vector<std::string>& own = {});
    // A name written as it is: no name made for another image will take it.
    void Reserve(const std::string& path);
    // The name the file gives the image at `path`; when it is not the image's own, says in
    // `status` which image it stands for. Its first use copies the image under that name.
    std::string Place(const std::string& path, std::string& status);
    // Adds to `status` the images placed since Reset that could not be copied (missing, not
    // readable, not written), one line each; called before the file takes its place.
    void Report(std::string& status);
    // Why the images could not all be copied for a cause of the system (no room, too many
    // open files, a failing disk: one line each), empty when they could: the write then fails.
    const std::string& GetFailure() const { return mFailure; }
    // The written file is in place: the copies stay beside it. A copy the system refuses its
    // permissions stays without them, and a line of `status` names it.
    void Keep(std::string& status) noexcept;
    // The written file is not: the copies made for it go again.
    void Drop() noexcept;
    // Names looked at since Reset: how much placing the images cost.
    size_t GetNamesTried() const { return mTried; }

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
    // What a file name beside the written file is to an image.
    enum class Claim {
        eTaken,    // another file's
        eShared,   // a file of the image's bytes: written, not copied
        eCopied,   // made for the image (or tried: a failure is a line of the report)
        eNoImage,  // free, but the image cannot be read: nothing to copy
    };
    std::string Key(const std::string& name) const;
    // Size and hash of the file's bytes; {0, 0} when it cannot be read.
    std::pair<uint64_t, uint64_t> Content(const std::string& path);
    bool SameImage(const std::string& a, const std::string& b);
    // Takes the file name `file` beside the written file for the image at `path`, making it
    // new and copying the image into it when nothing else has it. `unknownIsFree`: an image
    // that cannot be read keeps that name even where a file has it. `shared` gets the name of
    // an image of this write that has the same bytes under the name in another case.
    Claim ClaimBeside(const std::string& path, const std::string& file, bool unknownIsFree,
                      std::string& shared);
    std::string Take(const std::string& path, const std::string& name, const std::string& file);
    // Tells why the image at `path` cannot be read: a word, or a failure of the write.
    void NoImage(const std::string& path);
    // The folder listed once, names in upper case: asking the system name by name lists the
    // folder for each missing one. False when no file of that name in any case is there.
    bool MaybeBeside(const std::string& name);
    // The file beside the output that has `name`, as listed (in its own case).
    std::string Shown(const std::string& name) const;
    // The lowest n whose made name an image of the same bytes holds; -1 for none.
    int SameImageName(const std::string& path, const std::string& fileName);
    // Gives the image at `path` the made name `candidate` when nothing else has it, or the
    // name an image of its bytes has (`name`; `unread` when no copy holds it); false when
    // another file has it.
    bool TakeMadeName(const std::string& path, const std::string& candidate, std::string& name,
                      bool& unread);
    // Made name `candidate` (number n of the start `start`) is another file's: passed over
    // for good, and its bytes noted for an image that has them.
    void NotePassed(const std::string& start, const std::string& candidate, int n);
    // The lowest number of the start passed over for a file of the image's bytes; -1: none.
    int PassedOver(const std::string& start, const std::string& path);

    bool mCaseless;
    std::string mWritten;
    std::map<std::string, std::string> mPlaced;        // by path: name written
    std::unordered_map<std::string, Holder> mHolders;  // by key of the file name beside
    std::unordered_map<std::string, int> mNext;        // by key of made name 0: lowest n maybe free
    std::map<std::pair<uint64_t, uint64_t>, std::vector<std::string>> mByContent;  // file names
    std::unordered_map<std::string, std::pair<uint64_t, uint64_t>> mContent;       // by path
    std::unordered_map<std::string, int> mUnreadable;  // by path: why its content is unknown
    // By start of made names and bytes: the lowest number passed over for a file of them.
    std::map<std::pair<std::string, std::pair<uint64_t, uint64_t>>, int> mPassed;
    std::vector<KPlatformNewFile> mMade;               // the copies this write made
    std::string mProblems;                             // lines for Report
    std::string mFailure;
    // Upper-case names in the written file's folder: the image copied under it, empty for a
    // file that was there (or that another program made meanwhile).
    std::unordered_map<std::string, std::string> mBeside;
    std::unordered_map<std::string, std::string> mListedNames;  // upper case: as listed
    int mListed = 0;  // 0: not yet, 1: listed, -1: cannot be listed
    size_t mTried = 0;
};

// Images of an OBJ file's material file: any length, told apart by exact name.
class KTextureNamesObj : public KTextureNames {
public:
    KTextureNamesObj() : KTextureNames(false) {}

protected:
    std::string OwnName(const std::string& path) const override;
    std::string MadeName(const std::string& fileName, int n) const override;
    std::string NoOwnName() const override {
        return "an MTL file ends an image's name at a line break and drops blanks around it";
    }
};
