#pragma once
// Common base of the importer and exporter: error object, file name, owning manager, the
// options in use during a read or write (which carry the caller's callbacks) and the status
// text of the last reader or writer.

#include "foundation/KError.h"
#include "foundation/KString.h"

class KQovObjectManager;
class KStreamOptions;

class KQovIO {
public:
    enum ErrorId {
        eFileCorrupted = 0,
        eVersionNotSupportedYet,
        eVersionNotSupportedAnymore,
        eFileNotOpened,
        eFileNotCreated,
        eOutOfDiskSpace,
        eUninitializedFilename,
        eUnidentifiedError,
        eIndexOutOfRange,
        ePasswordError,
        eStreamOptionsNotSet,
        eErrorCount
    };
    static constexpr int kFlagCount = 11;

    explicit KQovIO(KQovObjectManager* manager);
    virtual ~KQovIO();
    KQovIO(const KQovIO&) = delete;
    KQovIO& operator=(const KQovIO&) = delete;

    virtual bool Initialize(const char* fileName);
    virtual KString GetFileName() const { return mFileName; }
    // Passes a progress text (with " - " and the detail when there is one) to the
    // options in use; nothing when none are.
    virtual void Report(int first, const char* text, const char* detail, float percent);

    int GetLastErrorID() const { return mError.GetErrorCode(); }
    const char* GetLastErrorString() const { return mError.GetErrorText(); }
    const KString& GetStatusText() const { return mStatus; }

protected:
    KError mError;
    KString mFileName;
    KQovObjectManager* mManager;
    KStreamOptions* mOptionsInUse = nullptr;
    KString mStatus;
};
