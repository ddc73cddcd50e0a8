#include "formats/motion/optical/KQovOpticalWriter.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "formats/motion/KQovMotionTextIO.h"
#include "foundation/KAffineMatrix.h"
#include "foundation/KLocale.h"
#include "formats/motion/KMotionFile.h"
#include "io/KQovWrittenNames.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"
#include "scene/KQovScene.h"

namespace {

// A marker is unseen at `time` where its "Occlusion" curve is above 0.5.
double Occlusion(KQovNode* node, KTime time) {
    KQovTakeNode* take = node->GetCurrentTakeNode();
    KFCurve* curve = take ? take->GetOcclusion() : nullptr;
    return curve && curve->Evaluate(time) > 0.5 ? 1.0 : 0.0;
}

}  // namespace

KQovOpticalWriter::KQovOpticalWriter(KQovObjectManager* manager) : KQovWriter(manager) {}

KQovOpticalWriter::~KQovOpticalWriter() = default;

bool KQovOpticalWriter::Fail(int error, const char* text) {
    if (text)
        mError.SetErrorWithText(error, text);
    else
        mError.SetError(error);
    return false;
}

bool KQovOpticalWriter::DoFileCreate(const char* fileName) {
    // An open file is closed first, so that it is never leaked or left half written.
    mFile.reset();
    mFile = fileName ? CreateMotionFile(fileName) : nullptr;
    if (!mFile) return Fail(eFileNotOpened, KMotionFile::CreateError(fileName).c_str());
    return true;
}

void KQovOpticalWriter::DoFileDiscard() {
    if (mFile) mFile->Discard();
    mFile.reset();
}

bool KQovOpticalWriter::DoFileClose() {
    if (!mFile) return Fail(eFileNotOpened);
    const bool refused = mFile->IsNumberRefused();
    const bool ok = mFile->Close() == 0;
    mFile.reset();
    return ok || (refused ? Fail(eUnidentifiedError, kFileNumberError) : Fail(eOutOfDiskSpace));
}

KStreamOptions* KQovOpticalWriter::GetWriteOptions() {
    KStreamOptionsMotion* options = KStreamOptionsMotion::Create();
    InitOptions(*options);
    return options;
}

bool KQovOpticalWriter::DoWrite(KQovScene* scene, KStreamOptions* base) {
    if (!mFile) return Fail(eFileNotOpened);
    if (!scene || !base || !base->IsA(KStreamOptionsMotion::ClassId())) return Fail(eStreamOptionsNotSet);
    auto& options = static_cast<KStreamOptionsMotion&>(*base);
    KMotionMarkerSampler markers;
    markers.Collect(scene, FindSingleChildRoot(scene), options);
    if (markers.GetCount() == 0) return FailNothingToWrite(mFormat, "markers");
    const std::string rateProblem = KMotionUnwritableRate(options, true);
    if (!rateProblem.empty()) return Fail(eUnidentifiedError, rateProblem.c_str());
    markers.GetTop()->ConvertPivotAnimation(0, options.GetFrameRate(), false);
    std::vector<std::string> names;
    for (size_t k = 0; k < markers.GetCount(); ++k) {
        const std::string full = markers.GetNode(k)->GetName();
        names.push_back(full.substr(full.rfind(':') == std::string::npos ? 0 : full.rfind(':') + 1));
    }
    KQovNameTerms terms;
    if (GetNameTerms(terms, names)) {
        KQovWrittenNames written(terms);
        written.AddAll(names);
        mStatus += written.GetWarnings().c_str();
    }

    KMarkerFileInfo info;
    info.markerCount = int(markers.GetCount());
    info.start = options.GetStartTime();
    info.frameCount = options.GetFrameCount();
    info.frameRate = options.GetFrameRate();
    info.scale = options.GetSetting(12) == 1 ? -1.0 : 1.0;
    const bool noOcclusion = options.GetSetting(11) == 1;
    const KTime period = options.GetFramePeriod();
    KMarkerFrame records(markers.GetCount());
    auto sample = [&](KTime time) {
        markers.Evaluate(time);
        for (size_t k = 0; k < markers.GetCount(); ++k) {
            const KVector4 t = markers.GetMatrix(k).GetT();
            const double occlusion = noOcclusion ? 0.0 : Occlusion(markers.GetNode(k), time);
            records[k] = KVector4(t[0], t[1], t[2], occlusion);
        }
    };
    if (info.scale > 0 && mFile->ScalesToData()) {
        KTime time = info.start;
        for (int f = 1; f <= info.frameCount; ++f, time += period) {
            sample(time);
            for (const KVector4& r : records)
                for (int a = 0; a < 3 && r[3] <= 0.5; ++a)
                    info.largest =
                        KIsFileNumber(r[a]) ? std::max(info.largest, std::fabs(r[a])) : HUGE_VAL;
        }
    }
    bool ok = mFile->WriteHeader(info) && mFile->WriteMarkerNames(names);
    KTime time = info.start;
    for (int f = 1; ok && f <= info.frameCount; ++f, time += period) {
        options.Progress(0, "Writing animation frames", float(f * 100.0 / info.frameCount));
        sample(time);
        ok = mFile->WriteFrame(records, time, f);
    }
    // A disk that refused the data is reported, never taken for success.
    if (!ok) {
        const bool refused = mFile->IsNumberRefused();
        const char* why = mFile->GetWriteRefusal();
        const std::string refusal = why ? why : "";
        FileDiscard();
        if (!refusal.empty()) return Fail(eUnidentifiedError, refusal.c_str());
        return refused ? Fail(eUnidentifiedError, kFileNumberError) : Fail(eOutOfDiskSpace);
    }
    return mFile->EndWrite() || Fail(eOutOfDiskSpace);
}
