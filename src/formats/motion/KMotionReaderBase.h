#pragma once
// What the motion readers and writers share: each owns one text file object of its format,
// created per opened file with reporting off, and reports failures through its error object.

#include <memory>

#include "formats/motion/KMotionSceneTools.h"
#include "foundation/KPath.h"
#include "foundation/KString.h"
#include "io/KQovReader.h"
#include "io/KQovWriter.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

template <class File>
class KMotionReaderBase : public KQovReader {
public:
    explicit KMotionReaderBase(KQovObjectManager* manager) : KQovReader(manager) {}

    bool FileOpen(const char* fileName) override {
        if (mFile) FileClose();
        mFile = std::make_unique<File>(false);
        if (!fileName || mFile->Open(fileName, "r") != 0) {
            FileClose();
            return Fail(eFileNotOpened);
        }
        mFileName = fileName;
        return true;
    }
    bool FileClose() override {
        if (!mFile) return Fail(eFileNotOpened);
        mFile.reset();
        mFileName = "";
        return true;
    }
    bool IsFileOpen() override { return mFile != nullptr; }

protected:
    bool Fail(int error) {
        mError.SetError(error);
        return false;
    }
    // New options with the given settings (index, value pairs, -1 ending them), then filled
    // from the file by `pass` (file, options) when one is given; null, with the error set,
    // when no file is open or the pass fails.
    template <class Pass>
    KStreamOptions* MakeReadOptions(std::initializer_list<int> settings, Pass pass) {
        if (!mFile) {
            Fail(eFileNotOpened);
            return nullptr;
        }
        auto options = std::make_unique<KStreamOptionsMotion>();
        for (auto it = settings.begin(); it != settings.end() && it + 1 != settings.end(); it += 2)
            options->SetSetting(it[0], it[1]);
        if (!pass(*mFile, *options)) {
            Fail(eFileCorrupted);
            return nullptr;
        }
        return options.release();
    }
    // The motion options of a read, null (with the error set) without a file, a scene or
    // motion options.
    KStreamOptionsMotion* BeginRead(KQovScene* scene, KStreamOptions* options) {
        if (!mFile) return Fail(eFileNotOpened), nullptr;
        if (!scene || !options || !options->IsA(KStreamOptionsMotion::ClassId()))
            return Fail(eStreamOptionsNotSet), nullptr;
        return static_cast<KStreamOptionsMotion*>(options);
    }

    // Hangs the hierarchy read under `reference` into the scene: the reference node itself
    // under the scene's root when setting 8 is 1, else its children (the reference destroyed).
    // Returns the node the hierarchy hangs from; null, with nothing added and the error set,
    // when names below the reference clash.
    KQovNode* AttachHierarchy(KQovScene* scene, KQovNode* reference,
                              const KStreamOptionsMotion& options) {
        KString message =
            KString("Duplicate names found in ") + KExtractFileName(mFileName.Buffer(), true) + ":";
        if (!CheckDuplicateNames(reference, message)) {
            options.Message("Error", message.Buffer(), "Ok");
            mManager->DestroyNode(reference, true);
            return Fail(eFileCorrupted), nullptr;
        }
        KQovNode* top = scene->GetRootNode();
        if (options.GetSetting(8) == 1) {
            top->AddChild(reference);
            return reference;
        }
        while (KQovNode* child = reference->GetChild(0)) {
            reference->RemoveChild(child);
            top->AddChild(child);
        }
        mManager->DestroyNode(reference, true);
        return top;
    }

    std::unique_ptr<File> mFile;
    KString mFileName;
};

template <class File>
class KMotionWriterBase : public KQovWriter {
public:
    explicit KMotionWriterBase(KQovObjectManager* manager) : KQovWriter(manager) {}

    bool FileCreate(const char* fileName) override {
        auto file = std::make_unique<File>(false);
        if (!fileName || file->Open(fileName, "w") != 0) {
            // Nothing is kept that later writes could go to.
            mFile.reset();
            KString text =
                KString("Cannot open file \"") + (fileName ? fileName : "") + "\" for writing.";
            return Fail(eFileNotOpened, text.Buffer());
        }
        mFile = std::move(file);
        return true;
    }
    bool FileClose() override {
        if (!mFile) return Fail(eFileNotOpened);
        const bool ok = mFile->Close() == 0;
        mFile.reset();
        return ok || Fail(eOutOfDiskSpace);
    }
    bool IsFileOpen() override { return mFile != nullptr; }

protected:
    // True when everything written so far reached the file; a refused write is error 3.
    bool Finish() { return mFile->Flush() || Fail(eOutOfDiskSpace); }
    bool Fail(int error, const char* text = nullptr) {
        if (text)
            mError.SetErrorWithText(error, text);
        else
            mError.SetError(error);
        return false;
    }
    // The checks every write starts with: an open file, the scene's single top node (into
    // `root`; error 2 with `noRoot` without one), motion options, and node names without
    // blanks or clashes (`blanks` heads the message shown with the button `button`).
    KStreamOptionsMotion* BeginWrite(KQovScene* scene, KStreamOptions* options, const char* noRoot,
                                     const char* blanks, const char* button, KQovNode*& root) {
        if (!mFile) return Fail(eFileNotOpened), nullptr;
        root = scene ? FindSingleChildRoot(scene) : nullptr;
        if (!root) return Fail(eFileNotCreated, noRoot), nullptr;
        if (!options || !options->IsA(KStreamOptionsMotion::ClassId()))
            return Fail(eStreamOptionsNotSet), nullptr;
        auto* motion = static_cast<KStreamOptionsMotion*>(options);
        KString message = blanks;
        const bool spaced = !KMotionCheckBlanks(root, message);
        if (spaced || !CheckNodeNames(root, message)) {
            motion->Message("Error", message.Buffer(), button);
            return Fail(eUnidentifiedError), nullptr;
        }
        return motion;
    }

    std::unique_ptr<File> mFile;
};
