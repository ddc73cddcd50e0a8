#pragma once
// What the motion readers and writers share: each owns one text file object of its format,
// created per opened file with reporting off, and reports failures through its error object.

#include <memory>

#include "formats/motion/KMotionSceneTools.h"
#include "formats/motion/KQovMotionTextIO.h"
#include "foundation/KPath.h"
#include "foundation/KQuotedText.h"
#include "foundation/KString.h"
#include "io/KQovReader.h"
#include "io/KQovWriter.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

template <class File>
class KMotionReaderBase : public KQovMotionTextReader<File> {
    using Core = KQovMotionTextReader<File>;

public:
    explicit KMotionReaderBase(KQovObjectManager* manager) : Core(manager) {}

protected:
    using Core::CheckDuplicateNames;
    using Core::Fail;
    using Core::mFile;
    using Core::mFileName;
    using Core::mManager;
    using KQovReader::eFileCorrupted;
    using KQovReader::eFileNotOpened;
    using KQovReader::eStreamOptionsNotSet;
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
            KString("Duplicate names found in ") +
            KQovMessageText(KExtractFileName(mFileName.Buffer(), true).Buffer()).c_str() + ":";
        if (!CheckDuplicateNames(reference, message)) {
            options.Message("Error", message.Buffer(), "Ok");
            mManager->DestroyNode(reference, true);
            // The clashing names are the reason: the error says them, not only "corrupted".
            this->mError.SetErrorWithText(eFileCorrupted, message.Buffer());
            return nullptr;
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
};

// What a file of a writer's format holds, for "Nothing to write": a scene without any top
// node holds none of it.
struct KMotionHolds {
    const char* format;  // "a BVH"
    const char* what;    // "skeletons"
};

template <class File>
class KMotionWriterBase : public KMotionFileWriter<File> {
    using Core = KMotionFileWriter<File>;

public:
    explicit KMotionWriterBase(KQovObjectManager* manager) : Core(manager) {}

protected:
    using Core::Fail;
    using Core::FindSingleChildRoot;
    using Core::Finish;
    using Core::mFile;
    using KQovWriter::eFileNotCreated;
    using KQovWriter::eFileNotOpened;
    using KQovWriter::eStreamOptionsNotSet;
    using KQovWriter::eUnidentifiedError;

    // The checks every write starts with: an open file, the scene's single top node (into
    // `root`; error 2 with `noRoot` without one) and motion options. Names are the writer's
    // to make readable (KQovWrittenNames).
    KStreamOptionsMotion* BeginWrite(KQovScene* scene, KStreamOptions* options, const char* noRoot,
                                     KMotionHolds holds, KQovNode*& root) {
        if (!mFile) return Fail(eFileNotOpened), nullptr;
        root = scene ? FindSingleChildRoot(scene) : nullptr;
        if (!root) return FailRoots(scene, noRoot, holds), nullptr;
        if (!options || !options->IsA(KStreamOptionsMotion::ClassId()))
            return Fail(eStreamOptionsNotSet), nullptr;
        return static_cast<KStreamOptionsMotion*>(options);
    }
    // False, with "Nothing to write" for a scene without a top node, with how many top nodes
    // the scene has when it has several (the file holds the hierarchy below one), else with
    // `noRoot` as the error.
    bool FailRoots(KQovScene* scene, const char* noRoot, KMotionHolds holds) {
        const KQovNode* top = scene ? scene->GetRootNode() : nullptr;
        const int count = top ? top->GetChildCount() : 0;
        if (top && count == 0) return this->FailNothingToWrite(holds.format, holds.what);
        if (count < 2) return Fail(eFileNotCreated, noRoot);
        return Fail(eFileNotCreated,
                    KFormatC("Scene has %d root nodes; the file holds the hierarchy below a "
                             "single root node.",
                             count)
                        .c_str());
    }
};
