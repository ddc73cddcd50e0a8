#include "formats/motion/asf/KQovWriterAmc.h"

#include <cmath>
#include <new>

#include "formats/motion/KMotionFile.h"
#include "formats/motion/KMotionSceneTools.h"
#include "foundation/KFileStream.h"
#include "formats/motion/asf/KQovAcclaimFiles.h"
#include "formats/motion/asf/KQovAsfScene.h"
#include "formats/motion/asf/KQovWriterAsf.h"
#include "foundation/KQuotedText.h"
#include "io/KStreamOptionsMotion.h"
#include "platform/KPlatformFile.h"
#include "scene/KQovNode.h"

KQovWriterAmc::KQovWriterAmc(KQovObjectManager* manager) : KMotionWriterBase(manager) {}

KQovWriterAmc::~KQovWriterAmc() {
    // Never put in place alone.
    if (mSkeletonFile) mSkeletonFile->Discard();
}

bool KQovWriterAmc::DoFileCreate(const char* fileName) {
    if (mSkeletonFile) mSkeletonFile->Discard();
    mSkeletonFile.reset();
    mPath = fileName ? fileName : "";
    return KMotionWriterBase::DoFileCreate(fileName);
}

KStreamOptions* KQovWriterAmc::GetWriteOptions() {
    KStreamOptions* options = KQovWriterAsf::MakeWriteOptions();
    // A motion file written with these options writes its skeleton file too.
    static_cast<KStreamOptionsMotion*>(options)->SetStream(new KQovAcclaimPairSkeleton, true);
    return options;
}

bool KQovWriterAmc::WriteSkeletonFile(KQovScene* scene, KStreamOptions* options) {
    const KString path = KQovAcclaimSkeletonBeside(mPath.c_str());
    // One file for both would end holding the motion text alone.
    if (KPlatformSameReplaceTarget(path.Buffer(), mPath.c_str()))
        return Fail(eFileNotCreated, ("The skeleton file " + KQovMessageText(path.Buffer()) +
                                      " and the motion file " + KQovMessageText(mPath) +
                                      " are one file; neither was written.")
                                         .c_str());
    if (!KCanWriteCompanion(path.Buffer()))
        return Fail(eFileNotCreated, KMotionFile::CreateError(path.Buffer()).c_str());
    KQovWriterAsf writer(mManager);
    writer.SetPairOfMotion();
    bool created;
    {
        // A device or a pipe put there after the look is refused by the open, never waited on.
        const KPlatformRegularFileOnly regularOnly(path.Buffer());
        created = writer.FileCreate(path.Buffer());
    }
    if (!created || !writer.Write(scene, options)) {
        writer.FileDiscard();
        // The error names the skeleton file, not the motion file it is written for.
        std::string text = writer.GetLastErrorString();
        const std::string shown = KQovMessageText(path.Buffer());
        if (text.find(shown) == std::string::npos) text += ": " + shown;
        return Fail(writer.GetLastErrorID(), text.c_str());
    }
    KString status;
    writer.GetStatusText(status);
    mStatus += status;
    mSkeletonFile = writer.TakeFile();
    return true;
}

bool KQovWriterAmc::DoFileClose() {
    if (!mSkeletonFile) return KMotionWriterBase::DoFileClose();
    if (!mFile) return Fail(eFileNotOpened);
    const bool refused = mFile->IsNumberRefused() || mSkeletonFile->IsNumberRefused();
    const KMotionFile* failed = nullptr;
    const bool ok = KMotionFile::CloseTogether(*mSkeletonFile, *mFile, &failed) == 0;
    const bool skeletonFailed = failed && failed == mSkeletonFile.get();
    if (ok) {
        try {
            mStatus += KLastReplaceLeftBehind().c_str();
        } catch (const std::bad_alloc&) {
            // Both files are in place; only the word about a hidden name is lost.
        }
    }
    mSkeletonFile.reset();
    mFile.reset();
    if (ok) return true;
    if (refused) return Fail(eUnidentifiedError, kFileNumberError);
    Fail(eOutOfDiskSpace);
    // A full disk while the skeleton file was written names that file, not the motion file.
    if (skeletonFailed)
        Fail(eOutOfDiskSpace, (std::string(GetLastErrorString()) + ": " +
                               KQovMessageText(KQovAcclaimSkeletonBeside(mPath.c_str()).Buffer()))
                                  .c_str());
    return false;
}

void KQovWriterAmc::DoFileDiscard() {
    if (mSkeletonFile) mSkeletonFile->Discard();
    mSkeletonFile.reset();
    KMotionWriterBase::DoFileDiscard();
}

bool KQovWriterAmc::DoWrite(KQovScene* scene, KStreamOptions* base) {
    if (!mFile) return Fail(eFileNotOpened);
    KQovNode* root = scene ? FindSingleChildRoot(scene) : nullptr;
    if (!root) return FailRoots(scene, "Scene must have a single root node.", kAmcHolds);
    if (!base || !base->IsA(KStreamOptionsMotion::ClassId())) return Fail(eStreamOptionsNotSet);
    if (!KMotionHoldsSkeleton(root)) return FailNothingToWrite(kAmcHolds.format, kAmcHolds.what);
    auto& options = static_cast<KStreamOptionsMotion&>(*base);
    // A rate written is one the reader takes back; refused before the pair's skeleton is made.
    if (options.GetSetting(15) != 0 && !CheckRate(options, options.GetSetting(16) != 0))
        return false;
    // A pair's skeleton is built anew by writing its file, which the stream then holds.
    if (dynamic_cast<KQovAcclaimPairSkeleton*>(KQovAcclaimRememberedStream(options.GetStream())) &&
        !WriteSkeletonFile(scene, base))
        return false;
    KObject* stream = KQovAcclaimRememberedStream(options.GetStream());
    if (!stream || !stream->IsA(KQovAsfScene::ClassId())) return Fail(eStreamOptionsNotSet);
    auto& skeleton = static_cast<KQovAsfScene&>(*stream);
    if (!skeleton.mRoot) return Fail(eStreamOptionsNotSet);
    if (!skeleton.BindNodes(KQovWriterAsf::SkeletonTop(root)))
        return Fail(eUnidentifiedError, "A bone of the skeleton has no node of its name.");

    const int frames = options.GetFrameCount();
    const KTime period = options.GetFramePeriod();
    const double rate = options.GetFrameRate();
    const int first = int(std::rint(options.GetStartTime().GetSecondDouble() * rate));
    const auto* written = dynamic_cast<KQovAcclaimWrittenSkeleton*>(&skeleton);
    const std::string named =
        written ? KQovAcclaimHeaderName(mPath.c_str(), written->mFile.c_str()) : std::string();
    mFile->WriteHeader(options.GetSetting(15) != 0 ? rate : -1.0,
                       options.GetSetting(16) != 0 ? first : -1, first + frames - 1,
                       named.empty() ? nullptr : named.c_str());
    const bool global = options.GetSetting(13) == 1;
    KTime time = options.GetStartTime();
    for (int f = 1; f <= frames; ++f, time += period) {
        options.Progress(0, "Writing AMC animation frames", float(f * 100 / frames));
        skeleton.SampleNodes(time, f, global);
        mFile->WriteFrame(skeleton, f);
    }
    for (KAsfBone* bone : skeleton.GetBones()) bone->keys.clear();
    return Finish();
}

std::vector<std::string> KQovWriterAmc::GetCompanionFiles(const char* path,
                                                          const KStreamOptions* options) const {
    if (!path) return {};
    if (options && !(options->IsA(KStreamOptionsMotion::ClassId()) &&
                     dynamic_cast<KQovAcclaimPairSkeleton*>(KQovAcclaimRememberedStream(
                         static_cast<const KStreamOptionsMotion*>(options)->GetStream()))))
        return {};
    return {KQovAcclaimSkeletonBeside(path).Buffer()};
}
