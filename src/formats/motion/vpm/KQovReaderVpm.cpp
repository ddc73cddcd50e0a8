#include "formats/motion/vpm/KQovReaderVpm.h"

#include <algorithm>
#include <vector>

#include "animation/KFCurve.h"
#include "formats/motion/KMotionSceneTools.h"
#include "foundation/KLocale.h"
#include "foundation/KPath.h"
#include "foundation/KQuotedText.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

KQovReaderVpm::KQovReaderVpm(KQovObjectManager* manager) : KQovMotionTextReader(manager) {}

KStreamOptions* KQovReaderVpm::GetReadOptions(bool) {
    if (!mFile) return Fail(eFileNotOpened), nullptr;
    KString name;
    int frames = 0;
    double frameTime = 0.0;
    if (!mFile->ReadHeader(name, frames, frameTime, true)) return Fail(eFileCorrupted), nullptr;
    // The take spans the longest block: the headers after the first are looked at too. A
    // block counts the lines it holds, not what it claims, and only once its header is whole:
    // a cut last block is not read, and a claim is no length (nor a rate problem).
    int longest = 0;
    for (int declared = frames; mFile->SkipColumnLines();) {
        int held = 0;
        while (held < declared && mFile->ReadLine()) ++held;
        longest = std::max(longest, held);
        KString next;
        double unused = 0.0;
        if (!mFile->ReadHeader(next, declared, unused, false)) break;
    }
    KStreamOptionsMotion* options = KStreamOptionsMotion::Create();
    options->SetStartTime(KTime());
    options->SetFrameCount(longest);
    mStatus += KMotionSetFileRate(*options, 1.0 / frameTime, 0.0, longest,
                                  "Frame Time " + KDecimalText(frameTime) + " s")
                   .c_str();
    options->SetSetting(4, 0);
    return options;
}

bool KQovReaderVpm::Read(KQovScene* scene, KStreamOptions* base) {
    KStreamOptionsMotion* options = CheckRead(scene, base);
    if (!options) return false;
    KQovNode* parent = KMotionCreateMarkerParent(mManager, "VPM", *options);
    const KString take = KMotionTakeName(mFileName, mStatus);
    mBrokenSegment = false;
    mCutShort = false;
    mLongest = 0;
    mHeldMost = 0;
    if (!ReadSegment(parent, take, *options, true)) {
        mManager->DestroyNode(parent, true);
        return Fail(eFileCorrupted);
    }
    bool more = true;
    while (more) more = ReadSegment(parent, take, *options, false);
    if (mFile->StoppedShort() || mBrokenSegment) {
        mManager->DestroyNode(parent, true);
        return Fail(eFileCorrupted);
    }
    // Segments without a frame would be written at the origin: no frame read, none written (a
    // caller may still ask for none of those a file holds).
    if (mHeldMost == 0) {
        mManager->DestroyNode(parent, true);
        mLastError = "no frame was read: the file holds none";
        return Fail(eFileCorrupted);
    }
    KString message = KString("Duplicate names found in ") +
                      KQovMessageText(KExtractFileName(mFileName.Buffer(), true).Buffer()).c_str() +
                      ":";
    if (!CheckDuplicateNames(parent, message)) {
        options->Message("Error", message.Buffer(), "Ok");
        // Refused nodes go with their parent: nothing is left unattached.
        mManager->DestroyNode(parent, true);
        // The clashing names are the reason: the error says them, not only "corrupted".
        mError.SetErrorWithText(eFileCorrupted, message.Buffer());
        return false;
    }
    // The claim of a block that the file ends inside is no length: the take runs as long as
    // the longest block read.
    if (mCutShort) options->SetFrameCount(std::min(options->GetFrameCount(), mLongest));
    scene->GetRootNode()->AddChild(parent);
    KMotionStoreTake(scene, take, *options, false);
    return true;
}

bool KQovReaderVpm::ReadSegment(KQovNode* parent, const KString& take,
                                KStreamOptionsMotion& options, bool rewind) {
    KString name;
    int declared = 0;
    double frameTime = 0.0;
    if (!mFile->ReadHeader(name, declared, frameTime, rewind) || !mFile->SkipColumnLines()) {
        // A later block that begins but cannot be read ends the reading, and says so.
        if (!rewind && mFile->GetHeaderLine() > 0 && !mFile->StoppedShort())
            mStatus += KFormatC(
                           "Line %d: the block header cannot be read; the rest of the file "
                           "was not read.\n",
                           mFile->GetLineNumber())
                           .c_str();
        return false;
    }
    const int header = mFile->GetHeaderLine();
    int frames = std::min(options.GetFrameCount(), declared);
    // The lines are read before any key is made, so the header's count is never an allocation.
    struct Frame {
        KVector4 values[3];
    };
    std::vector<Frame> lines;
    // Frame lines the block holds, below `declared` once the file ends inside it.
    int held = declared;
    for (int f = 0; f < frames; ++f) {
        if (f % 64 == 0) options.Progress(0, "Reading VPM nodes", float(f * 100.0 / frames));
        Frame line;
        // A segment whose header was read ends where its file ends, or it is broken. A line
        // without its break where the block claims more is cut, even if its last number reads.
        if (!mFile->ReadFrame(line.values[0], line.values[1], line.values[2]) ||
            (f + 1 < declared && mFile->IsLineCut())) {
            // A last line that the file ends inside is no frame: the frames before it are kept.
            const bool cut = mFile->IsLineCut();
            if (cut)
                mStatus += KFormatC("Line %d: the file ends inside this line; it was not read.\n",
                                    mFile->GetLineNumber())
                               .c_str();
            if (!(mFile->IsAtEnd() || cut) || mFile->StoppedShort())
                return mBrokenSegment = true, false;
            held = frames = f;
            mCutShort = true;
            break;
        }
        lines.push_back(line);
    }
    KQovNode* node = KMotionCreateMarkerNode(mManager, name.Buffer());
    KFCurve* curves[3][3];
    KMotionAddTake(node, take, curves);
    const KTime start = options.GetStartTime(), period = options.GetFramePeriod();
    for (int g = 0; g < 3; ++g) {
        for (int a = 0; a < 3; ++a) {
            KFCurve* curve = curves[g][a];
            if (!curve) continue;
            curve->PrepareKeys(frames);
            for (int f = 0; f < frames; ++f)
                KMotionSetKey(curve, f, start + period * int64_t(f), lines[size_t(f)].values[g][a]);
            curve->CommitKeys(frames);
        }
        KMotionFilterCurves(curves[g], 3, g == 1);
    }
    parent->AddChild(node);
    // The block's lines beyond the frames asked for.
    for (int f = frames; f < held; ++f)
        if (!mFile->ReadLine()) held = f;
    mLongest = std::max(mLongest, frames);
    mHeldMost = std::max(mHeldMost, held);
    // A block cut short by the file's end keeps what it holds, and says so.
    if (held < declared && !mFile->StoppedShort())
        mStatus += KFormatC(
                       "Line %d: block \"%s\" claims %d frames, the file ends after %d, "
                       "and %d were read.\n",
                       header, KQovMessageText(name.Buffer()).c_str(), declared, held, frames)
                       .c_str();
    return true;
}
