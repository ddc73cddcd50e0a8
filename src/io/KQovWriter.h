#pragma once
// Base of every file writer: the operations through which the exporter creates a file and
// writes a scene into it, with the error object and status text it copies.

#include <string>
#include <vector>

#include "foundation/KError.h"
#include "foundation/KString.h"

class KQovNode;
class KQovObjectManager;
class KQovScene;
class KStreamOptions;

class KQovWriter {
public:
    enum ErrorId {
        eFileCorrupted = 0,
        eFileNotOpened,
        eFileNotCreated,
        eOutOfDiskSpace,
        eStreamOptionsNotSet,
        eUnidentifiedError,
        eErrorCount
    };

    explicit KQovWriter(KQovObjectManager* manager);
    virtual ~KQovWriter();
    KQovWriter(const KQovWriter&) = delete;
    KQovWriter& operator=(const KQovWriter&) = delete;

    // Begins a file of that name beside the old one; a file begun before and not closed is
    // dropped first.
    bool FileCreate(const char* fileName);
    // Closes the file; the file begun takes the place of the named one only here, and only
    // after a Write into it that succeeded. Otherwise (no Write, or one that failed or threw)
    // the file begun is discarded instead and false returned, a failed Write's error kept.
    bool FileClose();
    // Closes the file without putting it in place (the write failed or was refused): a file
    // of that name keeps what it held, and no new file is left.
    void FileDiscard();
    virtual bool IsFileOpen() = 0;
    // A new options object for this writer; the caller owns it.
    virtual KStreamOptions* GetWriteOptions() = 0;
    // One scene per file begun: a Write after one that succeeded is refused, and the file is
    // then not put in place; one after a failure is a second try on the file begun afresh.
    bool Write(KQovScene* scene, KStreamOptions* options);
    // The only child of the scene's root node when the root has exactly one; else null.
    virtual KQovNode* FindSingleChildRoot(KQovScene* scene);
    // The files a write to `path` with `options` (null: this writer's own) puts beside it (an
    // OBJ file's material file); none by default. Image copies are not among them: they never
    // take the place of a file.
    virtual std::vector<std::string> GetCompanionFiles(const char* path,
                                                       const KStreamOptions* options = nullptr) const;
    // False when names below `root` clash (other programs address nodes by name); each
    // clashing name is appended to `message` once.
    virtual bool CheckNodeNames(KQovNode* root, KString& message);

    int GetLastErrorID() const { return mError.GetErrorCode(); }
    const char* GetLastErrorString() const { return mError.GetErrorText(); }
    void GetStatusText(KString& out) const { out = mStatus; }

protected:
    // What each format does for FileCreate, Write, FileClose and FileDiscard above. DoWrite
    // leaves its file begun, never in place; only DoFileClose puts it there.
    virtual bool DoFileCreate(const char* fileName) = 0;
    virtual bool DoWrite(KQovScene* scene, KStreamOptions* options) = 0;
    virtual bool DoFileClose() = 0;
    virtual void DoFileDiscard() = 0;
    // Refuses a scene that holds none of what the format holds (`format` "a TRC", `holds`
    // "markers"): the file would hold nothing that can be read back, so none is put in place.
    bool FailNothingToWrite(const char* format, const char* holds);
    // Refuses a scene with a mesh below `root` whose polygons name control points it does not
    // have: no format holds such a mesh whole. False, naming the node, before anything is written.
    bool RefuseMeshesMissingPoints(KQovNode* root);

    KQovObjectManager* mManager;
    KError mError;
    KString mStatus;

private:
    // What the file begun holds: FileClose puts it in place only when eWritten. eNoFile: a
    // Write was made with no file begun.
    enum class Begun { eNone, eCreated, eWritten, eFailed, eNoFile };
    Begun mBegun = Begun::eNone;
    std::string mFileName;  // of the file begun
};
