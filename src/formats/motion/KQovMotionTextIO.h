#pragma once
// Reader and writer bases of the marker-style text motion formats (one KMotionFile per file),
// and what their readers and writers share: marker nodes under a ":optical" or ":reference"
// parent, motion keys, the curve filters, the take, and the marked nodes sampled at a time.

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "formats/motion/KMotionSceneTools.h"
#include "foundation/KAffineMatrix.h"
#include "foundation/KFileStream.h"
#include "foundation/KLocale.h"
#include "foundation/KString.h"
#include "foundation/KTextLineReader.h"
#include "foundation/KTime.h"
#include "io/KQovReader.h"
#include "io/KQovWriter.h"

class KFCurve;
class KQovNode;
class KQovTakeNode;
class KStreamOptionsMotion;

// Keys a read may make from `values` numbers it read: each number a key, room for up to 64
// keys per number where a file leaves gaps (unseen markers, short rows), and some to spare
// for small files. A few lines must not ask for gigabytes of keys.
constexpr int64_t KMotionMaxKeys(int64_t values) {
    return 64 * values + (int64_t(1) << 20);
}

// A node with a marker attribute of the optical type.
KQovNode* KMotionCreateMarkerNode(KQovObjectManager* manager, const char* name);
// "<prefix>:optical" when setting 4 is 1, else "<prefix>:reference", with an optical
// reference attribute; not yet in a scene.
KQovNode* KMotionCreateMarkerParent(KQovObjectManager* manager, const char* prefix,
                                    const KStreamOptionsMotion& options);
// The node's take of that name, added and made current, and its translation, rotation and
// scaling curves, X, Y and Z each.
KQovTakeNode* KMotionAddTake(KQovNode* node, const KString& take, KFCurve* curves[3][3]);
// A cubic key, or a constant one for occlusion; tangent mode 0x100, default weights.
void KMotionSetKey(KFCurve* curve, int index, KTime time, double value, bool constant = false);
// Up to three curves of one channel: the global rotation filter over the three when
// `rotation`, then the constant key reducer when it is on. Nothing when one is missing.
void KMotionFilterCurves(KFCurve* const* curves, int count, bool rotation);
// A take of the options' start and frame count, made current; the options' time mode becomes
// the scene's when it is not 0 and `timeMode` asks for it.
void KMotionStoreTake(KQovScene* scene, const KString& take, const KStreamOptionsMotion& options,
                      bool timeMode);

// A new file object of the format, with reporting off where the format reports.
template <class File>
std::unique_ptr<File> KMotionNewFile() {
    if constexpr (std::is_constructible_v<File, bool>)
        return std::make_unique<File>(false);
    else
        return std::make_unique<File>();
}

// Reader base of every motion text format: one file object per opened file.
template <class File>
class KQovMotionTextReader : public KQovReader {
public:
    using KQovReader::KQovReader;

    bool FileOpen(const char* fileName) override {
        if (mFile) FileClose();
        mFile = KMotionNewFile<File>();
        // The file's own error texts (with their line) become the reader's refusal.
        mLastError.clear();
        mFile->SetReport(true);
        mFile->SetErrorCallback([this](const char* message) {
            mLastError = message;
            while (!mLastError.empty() && (mLastError.back() == '\n' || mLastError.back() == ' '))
                mLastError.pop_back();
        });
        // Its warnings (with their line) are the reader's, one line each.
        mFile->SetWarningCallback([this](const char* message) {
            std::string line = message;
            while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
            mStatus += (line + "\n").c_str();
        });
        if (!fileName || mFile->Open(fileName, "r") != 0) {
            FileClose();
            mError.SetErrorWithText(eFileNotOpened, KOpenForReadError(fileName).c_str());
            return false;
        }
        // Wide text would read as an empty or broken file: refused for what it is.
        int headError = 0;
        const bool wide = KTextLineReader::IsWideTextFile(fileName, &headError);
        if (wide || headError || mFile->GetReadError()) {
            const int error = headError ? headError : mFile->GetReadError();
            FileClose();
            mError.SetErrorWithText(wide ? eFileCorrupted : eFileNotOpened,
                                    wide ? KTextLineReader::kWideTextMessage
                                         : KReadFileError(fileName, error).c_str());
            return false;
        }
        mFileName = fileName;
        return true;
    }
    bool FileClose() override {
        if (!mFile) return Fail(eFileNotOpened);
        mFile.reset();
        mFileName = "";
        Reset();
        return true;
    }
    bool IsFileOpen() override { return mFile != nullptr; }

protected:
    // What the reader derived from the file is forgotten.
    virtual void Reset() {}
    // A corrupted file says where: the file's last error text, else the line it stopped at.
    bool Fail(int error) {
        // A read that failed stopped the reading: that, not what was left, is the cause.
        if (mFile && mFile->GetReadError()) {
            mError.SetErrorWithText(
                eFileNotOpened, KReadFileError(mFileName.Buffer(), mFile->GetReadError()).c_str());
            return false;
        }
        mError.SetError(error);
        if (error != eFileCorrupted || !mFile) return false;
        std::string text = std::string(mError.GetErrorText()) + ": ";
        if (!mLastError.empty())
            text += mLastError;
        else if (mFile->GetLineNumber() > 0)
            text += std::string(mFile->GetFormatName()) + " read stopped at line " +
                    std::to_string(mFile->GetLineNumber());
        else
            text += std::string(mFile->GetFormatName()) + " file holds no data";
        mError.SetErrorWithText(error, text.c_str());
        return false;
    }
    // The options when a file is open and they are motion options, else null with the error.
    KStreamOptionsMotion* CheckRead(KQovScene* scene, KStreamOptions* options);

    std::unique_ptr<File> mFile;
    KString mFileName;
    std::string mLastError;
};

// Marked nodes below the export top node, each sampled as a global matrix relative to it.
class KMotionMarkerSampler {
public:
    // The top node (the single child of the root unless setting 13 is 1, else the root) and
    // the marked nodes below it without an optical reference, depth first.
    void Collect(KQovScene* scene, KQovNode* singleChildRoot, const KStreamOptionsMotion& options);
    // Every marker's global matrix at `time` with the top node held at identity.
    void Evaluate(KTime time);
    KQovNode* GetTop() const { return mTop; }
    size_t GetCount() const { return mNodes.size(); }
    KQovNode* GetNode(size_t k) const { return mNodes[k]; }
    KAffineMatrix GetMatrix(size_t k) const;

private:
    KQovNode* mTop = nullptr;
    std::vector<KQovNode*> mNodes;
};

// Writer base of every motion text format: a failed create keeps no file object, and a
// refused write is error 3, never success.
template <class File>
class KMotionFileWriter : public KQovWriter {
public:
    using KQovWriter::KQovWriter;

    bool DoFileCreate(const char* fileName) override {
        mFile.reset();
        auto file = KMotionNewFile<File>();
        if (!fileName || file->Open(fileName, "w") != 0) {
            // Nothing is kept that later writes could go to.
            return Fail(eFileNotOpened, File::CreateError(fileName).c_str());
        }
        mFile = std::move(file);
        return true;
    }
    bool DoFileClose() override {
        if (!mFile) return Fail(eFileNotOpened);
        const bool refused = mFile->IsNumberRefused();
        const bool ok = mFile->Close() == 0;
        mFile.reset();
        return ok || (refused ? Fail(eUnidentifiedError, kFileNumberError) : Fail(eOutOfDiskSpace));
    }
    void DoFileDiscard() override {
        if (mFile) mFile->Discard();
        mFile.reset();
    }
    bool IsFileOpen() override { return mFile != nullptr; }

protected:
    bool Fail(int error, const char* text = nullptr) {
        if (text)
            mError.SetErrorWithText(error, text);
        else
            mError.SetError(error);
        return false;
    }
    // The options when a file is open and they are motion options, else null with the error.
    KStreamOptionsMotion* CheckWrite(KQovScene* scene, KStreamOptions* options);
    // False, with the reason, when no reader would take the options' frames back at their
    // rate (their start counted when the format keeps it).
    bool CheckRate(const KStreamOptionsMotion& options, bool start) {
        const std::string problem = KMotionUnwritableRate(options, start);
        return problem.empty() || Fail(eUnidentifiedError, problem.c_str());
    }
    // True when every line reached the file; a refused write is error 3, never success,
    // and a number no reader takes back is refused with its own message.
    bool Finish(bool written = true) {
        if (mFile->IsNumberRefused()) return Fail(eUnidentifiedError, kFileNumberError);
        return (mFile->Flush() && written) || Fail(eOutOfDiskSpace);
    }

    std::unique_ptr<File> mFile;
};

// The marker formats' writers also sample the marked nodes.
template <class File>
class KQovMotionTextWriter : public KMotionFileWriter<File> {
public:
    using KMotionFileWriter<File>::KMotionFileWriter;

protected:
    KMotionMarkerSampler mMarkers;
};

// Shared by both bases; the options are motion options or null.
KStreamOptionsMotion* KMotionAsOptions(KQovScene* scene, KStreamOptions* options);

template <class File>
KStreamOptionsMotion* KQovMotionTextReader<File>::CheckRead(KQovScene* scene,
                                                            KStreamOptions* options) {
    if (!mFile) return Fail(eFileNotOpened), nullptr;
    KStreamOptionsMotion* motion = KMotionAsOptions(scene, options);
    if (!motion) Fail(eStreamOptionsNotSet);
    return motion;
}

template <class File>
KStreamOptionsMotion* KMotionFileWriter<File>::CheckWrite(KQovScene* scene,
                                                          KStreamOptions* options) {
    if (!mFile) return Fail(eFileNotOpened), nullptr;
    KStreamOptionsMotion* motion = KMotionAsOptions(scene, options);
    if (!motion) Fail(eStreamOptionsNotSet);
    return motion;
}
