#include "formats/motion/c3d/KQovOpticalC3d.h"

#include <algorithm>
#include <cmath>

#include "formats/motion/KMotionSceneTools.h"
#include "formats/motion/c3d/KC3dLabels.h"
#include "formats/motion/c3d/KMotionFileC3d.h"
#include "foundation/KLocale.h"
#include "foundation/KPath.h"
#include "io/KQovWrittenNames.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovOpticalReference.h"
#include "scene/KQovScene.h"
#include "scene/KQovTakeInfo.h"

namespace {

// The header's frame words: the count is read back as a signed word, the numbers unsigned.
constexpr int kMaximumHeaderFrames = 32767;
constexpr double kMaximumFrameNumber = 65535.0;

std::unique_ptr<KMarkerFileInterface> OpenC3d(const char* path, const char* mode) {
    auto file = std::make_unique<KMotionFileC3d>();
    if (file->Open(path, mode) != 0) return nullptr;
    return file;
}

}  // namespace

KQovReaderC3d::KQovReaderC3d(KQovObjectManager* manager) : KQovOpticalReader(manager) {
    mDescription = "Vicon C3D File Importer";
    mPrefix = "C3D";
}

std::unique_ptr<KMarkerFileInterface> KQovReaderC3d::CreateMotionFile(const char* path) {
    return OpenC3d(path, "rb");
}

bool KQovReaderC3d::Read(KQovScene* scene, KStreamOptions* base) {
    if (!KQovOpticalReader::Read(scene, base)) return false;
    KMarkerFileInfo info;
    if (!mFile->GetInfo(info) || info.markerCount != 0) return true;
    const auto& options = static_cast<const KStreamOptionsMotion&>(*base);
    const int frames = std::min(options.GetFrameCount(), info.frameCount);
    const KTime start = options.GetStartTime();
    KQovTakeInfo take;
    KString told;  // the read above has told of a name made for the take
    take.name = KMotionTakeName(mFileName, told);
    // The optical root alone carries the take: a scene knows a take by its nodes.
    const KString rootName = mPrefix + (options.GetSetting(4) == 1 ? ":optical" : ":reference");
    KQovNode* root = mManager->CreateNode(rootName.Buffer());
    root->SetNodeAttribute(mManager->CreateOpticalReference());
    root->AddTakeNode(take.name.Buffer());
    root->SetCurrentTakeNode(take.name.Buffer());
    scene->GetRootNode()->AddChild(root);
    take.localTimeSpan.Set(start, frames > 0 ? start + options.GetFramePeriod() * int64_t(frames - 1) : start);
    take.referenceTimeSpan = take.localTimeSpan;
    scene->SetTakeInfo(take);
    scene->SetCurrentTake(take.name.Buffer());
    if (options.GetTimeMode() != 0) scene->GetGlobalTimeSettings().SetTimeMode(options.GetTimeMode());
    return true;
}

void KQovReaderC3d::InitOptions(KStreamOptionsMotion& options) {
    for (int setting : {3, 4, 6, 7}) options.SetSetting(setting, 1);
    int code[4];
    if (!static_cast<KMotionFileC3d&>(*mFile).FindTimeCode(code)) return;
    KTime timeCode;
    timeCode.SetTime(code[0], code[1], code[2], code[3], 0, 0);
    options.SetStartTime(timeCode + options.GetStartTime());
}

KQovWriterC3d::KQovWriterC3d(KQovObjectManager* manager) : KQovOpticalWriter(manager) {
    mDescription = "Vicon C3D File Exporter";
    mFormat = "a C3D";
}

std::unique_ptr<KMarkerFileInterface> KQovWriterC3d::CreateMotionFile(const char* path) {
    // Read and write: a pipe without a reader opens at once and is refused, rather than
    // waiting for a reader before the refusal.
    return OpenC3d(path, "w+b");
}

bool KQovWriterC3d::DoWrite(KQovScene* scene, KStreamOptions* base) {
    if (mFile && scene && base && base->IsA(KStreamOptionsMotion::ClassId())) {
        const auto& options = static_cast<const KStreamOptionsMotion&>(*base);
        // A rate no format keeps is refused in the words every writer uses.
        const std::string unwritable = KMotionUnwritableRate(options, true);
        if (!unwritable.empty()) {
            mError.SetErrorWithText(eUnidentifiedError, unwritable.c_str());
            return false;
        }
        // The reader takes a header rate outside these as damage (and reads 30 a second).
        const float rate = float(options.GetFrameRate());
        if (!(rate > 0.001f && rate <= 1.0e6f)) {
            const std::string text =
                "A C3D file holds frame rates above 0.001 and up to 1000000 a second; the "
                "scene's is " +
                KDecimalText(options.GetFrameRate()) + " a second";
            mError.SetErrorWithText(eUnidentifiedError, text.c_str());
            return false;
        }
        const double number =
            KC3dFrameNumberAt(options.GetStartTime().GetSecondDouble(), options.GetFrameRate());
        const double first = std::max(0.0, number);
        const int frames = options.GetFrameCount();
        if (frames > kMaximumHeaderFrames) {
            mError.SetErrorWithText(
                eUnidentifiedError,
                KFormatC("A C3D file holds at most 32,767 frames; the take has %d", frames).c_str());
            return false;
        }
        if (first + frames - 1 > kMaximumFrameNumber) {
            mError.SetErrorWithText(
                eUnidentifiedError,
                KFormatC("A C3D file numbers its frames up to 65,535; the take would end at "
                         "frame %.0f",
                         first + frames - 1)
                    .c_str());
            return false;
        }
        if (number < 0.0)
            mStatus += "The start time is before frame 0: the C3D file starts at frame 0.\n";
    }
    return KQovOpticalWriter::DoWrite(scene, base);
}

void KQovWriterC3d::InitOptions(KStreamOptionsMotion& options) {
    options.SetSetting(3, 1);
    options.SetSetting(11, 0);
    options.SetSetting(12, 1);
    options.SetSetting(13, 0);
}

bool KQovWriterC3d::GetNameTerms(KQovNameTerms& terms,
                                 const std::vector<std::string>& names) const {
    terms = KC3dLabelTerms(names);
    return true;
}
