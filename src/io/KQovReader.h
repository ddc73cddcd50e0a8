#pragma once
// Base of every file reader: the operations through which the importer opens a file, learns
// what it holds and reads it into a scene, with the error object and status text it copies.

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/KError.h"
#include "foundation/KString.h"
#include "platform/KPlatformSameFile.h"

class KQovNode;
class KQovObjectManager;
class KQovScene;
class KStreamOptions;

// The camera resolution a file's header records, as readers and the importer hand it on.
struct KQovCameraResolution {
    // The outputs are written only when a resolution is present.
    bool Get(KString& nameOut, KString& modeOut, double& widthOut, double& heightOut) const {
        if (present) {
            nameOut = name;
            modeOut = mode;
            widthOut = width;
            heightOut = height;
        }
        return present;
    }
    bool present = false;
    KString name;
    KString mode;
    double width = 0.0;
    double height = 0.0;
};

class KQovReader {
public:
    enum ErrorId {
        eFileCorrupted = 0,
        eVersionNotSupportedYet,
        eVersionNotSupportedAnymore,
        eFileNotOpened,
        eFileNotCreated,
        eWrongPassword,
        eStreamOptionsNotSet,
        eUnidentifiedError,
        eErrorCount
    };

    explicit KQovReader(KQovObjectManager* manager);
    virtual ~KQovReader();
    KQovReader(const KQovReader&) = delete;
    KQovReader& operator=(const KQovReader&) = delete;

    virtual bool FileOpen(const char* fileName) = 0;
    virtual bool FileClose() = 0;
    virtual bool IsFileOpen() = 0;
    // A new options object describing the opened file; the caller owns it.
    virtual KStreamOptions* GetReadOptions(bool allowScan) = 0;
    virtual bool Read(KQovScene* scene, KStreamOptions* options) = 0;
    // False when names below `node` clash; each clashing name is appended to `message` once,
    // on a line of its own indented by four blanks.
    virtual bool CheckDuplicateNames(KQovNode* node, KString& message);

    int GetLastErrorID() const { return mError.GetErrorCode(); }
    const char* GetLastErrorString() const { return mError.GetErrorText(); }
    void GetStatusText(KString& out) const { out = mStatus; }
    KQovObjectManager* GetObjectManager() const { return mManager; }
    // The files a read took something from besides the one it opened (an OBJ file's material
    // libraries, the images its materials name), as the reader found them: a writer must not
    // put a file of its own in the place of one of them.
    const std::vector<std::string>& GetOtherFilesRead() const { return mOtherFilesRead; }
    // The same files, each as the read found it (its device and number): a name may lead to
    // another file since, or a file of another case appear beside it.
    const std::vector<KPlatformFileFound>& GetOtherFilesFound() const { return mOtherFilesFound; }

protected:
    // Notes a file the read took something from: as it lies now, or as the read opened it.
    void NoteFileRead(const std::string& name);
    void NoteFileRead(const std::string& name, const KPlatformFileFound& found);
    void ForgetFilesRead();

    KQovObjectManager* mManager;
    KError mError;
    KString mStatus;

private:
    std::vector<std::string> mOtherFilesRead;
    std::vector<KPlatformFileFound> mOtherFilesFound;
};

// The names (with their class prefix) that occur more than once among the descendants of
// `node`, each once, in the order of their second occurrence.
bool KQovAppendDuplicateNames(KQovNode* node, KString& message);
