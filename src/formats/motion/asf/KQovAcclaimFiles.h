#pragma once
// Where the skeleton file of an Acclaim motion file lies, and where a written motion file's
// skeleton goes: the two files travel as a pair, the skeleton first.

#include <string>
#include <utility>
#include <vector>

#include "formats/motion/asf/KQovAsfScene.h"
#include "foundation/KString.h"
#include "io/KStreamOptionsMotion.h"

// The skeleton files a motion file may belong to, in the order they are tried: the ".asf" of
// the same base name beside it, then the file its header names (a "#!OML:ASF" comment or an
// ":ASF-FILE" line before the first frame): a relative path from the motion file's folder, a
// rooted one (or one with '\\') by its base name beside it. Names may repeat; the caller takes
// the first that exists. `headerError`, when given, gets the system's error number when the
// motion file could not be opened or read for its header (0 when it was read).
std::vector<KString> KQovAcclaimSkeletonCandidates(const char* motionPath,
                                                   int* headerError = nullptr);

// The first of those candidates that exists; empty when none does, with the names looked for
// ("a.asf, b.asf", each once) in `tried`, and in `problem` why the motion file's header could
// not be looked at ("Out of memory while reading X", "File not read: X: ..."), empty when it
// was: a header not read is no header without a skeleton's name.
KString KQovFindAcclaimSkeleton(const char* motionPath, std::string& tried,
                                std::string* problem = nullptr);

// The skeleton file written beside a motion file: the same name with the extension ".asf".
KString KQovAcclaimSkeletonBeside(const char* motionPath);

// The skeleton of an Acclaim pair. Options that the motion writer makes hold an empty one: a
// motion file written with them writes its skeleton file beside it (KQovAcclaimSkeletonBeside)
// from the same scene, and the two take their places together or not at all.
class KQovAcclaimPairSkeleton : public KQovAsfScene {};

// The skeleton a skeleton export left in its options, with the name of the file it wrote: a
// motion file written with them is written alone and names that file in its header when it is
// not the one beside it. Until its file takes its place (SetPlaced) a motion file is written
// with what the options held before instead (KQovAcclaimRememberedStream).
class KQovAcclaimWrittenSkeleton : public KQovAsfScene {
public:
    explicit KQovAcclaimWrittenSkeleton(std::string file) : mFile(std::move(file)) {}
    ~KQovAcclaimWrittenSkeleton() override { DropBefore(); }
    std::string mFile;

    // Keeps the options' stream (owning it when they did) before this skeleton replaces it.
    void KeepBefore(KStreamOptionsMotion& options);
    void SetPlaced() {
        mPlaced = true;
        DropBefore();
    }
    bool IsPlaced() const { return mPlaced; }
    KObject* GetBefore() const { return KObject::FromPlug(mBefore.Resolve()); }

private:
    void DropBefore();
    bool mPlaced = false;
    KWeakRef mBefore;
    bool mBeforeOwned = false;
};

// The stream a motion file written with options holding `stream` uses: a skeleton whose file
// never took its place gives way to what the options held before it.
KObject* KQovAcclaimRememberedStream(KObject* stream);

// The header name that leads a motion file at `motionPath` to the skeleton file `skeletonPath`
// (its path from the motion file's folder); empty when it needs none (the skeleton lies beside
// it under the motion file's name) or the name cannot stand on a line.
std::string KQovAcclaimHeaderName(const char* motionPath, const char* skeletonPath);

// Why a skeleton file cannot serve a motion file: they are one file (a link from one to the
// other, or a hard link); empty when they are two.
std::string KQovAcclaimOneFileError(const char* skeletonPath, const char* motionPath);
