#include "formats/motion/brd/KQovReaderBrd.h"

#include <algorithm>
#include <cmath>

#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "formats/motion/KMotionSceneTools.h"
#include "foundation/KLocale.h"
#include "foundation/KMatrix.h"
#include "foundation/KPath.h"
#include "foundation/KRotationOrder.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"
#include "scene/KQovScene.h"

KQovReaderBrd::KQovReaderBrd(KQovObjectManager* manager) : KQovMotionTextReader(manager) {}

void KQovReaderBrd::Reset() {
    mScanned = false;
    mTracks.clear();
    mStartTime = mFirstTime = mLastTime = KTime();
    mFrameCount = mFirstFrame = mLastFrame = 0;
    mFrameRate = 0.0;
}

bool KQovReaderBrd::Scan() {
    if (mScanned) return true;
    Reset();
    if (!mFile) return false;
    struct Line {
        int marker;
        KBrdSample sample;
        int number;  // of the line in the file
    };
    // Gathered first and sorted once: lines in any order cost no more than lines in order.
    std::vector<Line> lines;
    Line line;
    for (bool first = true; mFile->ReadSample(line.sample, line.marker, first); first = false) {
        const KBrdSample& s = line.sample;
        line.number = mFile->GetLineNumber();
        if (lines.empty() || s.frame < mFirstFrame) mFirstFrame = s.frame, mFirstTime = s.time;
        if (lines.empty() || s.frame > mLastFrame) mLastFrame = s.frame, mLastTime = s.time;
        lines.push_back(line);
    }
    if (!mFile->IsAtEnd() || lines.empty()) {
        Reset();
        return false;
    }
    std::string warning;
    size_t repeats = 0;
    std::stable_sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) {
        return a.marker != b.marker ? a.marker < b.marker : a.sample.frame < b.sample.frame;
    });
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line& l = lines[i];
        if (mTracks.empty() || mTracks.back().marker != l.marker)
            mTracks.push_back(KBrdTrack{l.marker, {}});
        std::vector<KBrdSample>& samples = mTracks.back().samples;
        if (samples.empty() || samples.back().frame != l.sample.frame) {
            samples.push_back(l.sample);
            continue;
        }
        // Two lines of one marker and frame: one sample when they agree, else neither can be
        // dropped for the other.
        const KBrdSample& kept = samples.back();
        const bool same = kept.position == l.sample.position &&
                          kept.orientation == l.sample.orientation && kept.time == l.sample.time;
        const std::string where =
            KFormatC("BRD read %s (line %d): marker %d at frame %d is given twice (line %d too)",
                     same ? "warning" : "error", l.number, l.marker, l.sample.frame,
                     lines[i - 1].number);
        if (!same) {
            mLastError = where + " with other values";
            Reset();
            return false;
        }
        // One line tells them all: a file may repeat every line.
        if (repeats++ == 0) warning = where + ", with the same values";
    }
    if (repeats > 1) warning += KFormatC(" (and %zu more such lines)", repeats - 1);
    if (repeats > 0) mStatus += (warning + "\n").c_str();
    // In 64 bits: the span of two int frame numbers need not fit an int. Every frame of the
    // span gets seven keys per marker, seen or not: samples too sparse for their span are
    // refused, since any shorter span would drop the last of them.
    const int64_t span = int64_t(mLastFrame) - int64_t(mFirstFrame) + 1;
    const int64_t keysPerFrame = 7 * int64_t(mTracks.size());
    const int64_t most = KMotionMaxKeys(7 * int64_t(lines.size())) / keysPerFrame;
    if (span > most) {
        mLastError = KFormatC("%zu BRD samples span frames %d to %d (%lld frames), too sparse "
                              "to read: at most %lld frames for so few samples",
                              lines.size(), mFirstFrame, mLastFrame, (long long)span,
                              (long long)most);
        Reset();
        return false;
    }
    mFrameCount = int(span);
    mScanned = true;
    const double duration = KTimeSaturatingSub(mLastTime, mFirstTime).GetSecondDouble();
    mFrameRate = duration != 0.0 && span > 1 ? double(span - 1) / duration : 0.0;
    // Times that run against the frame numbers give no rate either.
    if (!(mFrameRate > 0.0) || !std::isfinite(mFrameRate)) mFrameRate = KTime::GetFrameRate(0);
    // The first frame number counted at the rate; 0 for files that start at frame 0.
    mStartTime.SetSecondDouble(mFirstFrame / mFrameRate);
    return true;
}

KStreamOptions* KQovReaderBrd::GetReadOptions(bool) {
    if (!mFile) return Fail(eFileNotOpened), nullptr;
    if (!Scan()) return Fail(eFileCorrupted), nullptr;
    KStreamOptionsMotion* options = KStreamOptionsMotion::Create();
    options->SetFrameCount(mFrameCount);
    const std::string note =
        KMotionSetFileRate(*options, mFrameRate, mFirstFrame, mFrameCount,
                           "The rate of the sample times " + KDecimalText(mFrameRate));
    KTime start = mStartTime;
    // The first frame's number is kept at the rate read instead.
    if (!note.empty()) start.SetSecondDouble(mFirstFrame / options->GetFrameRate());
    options->SetStartTime(start);
    mStatus += note.c_str();
    options->SetSetting(4, 0);
    options->SetSetting(6, 1);
    return options;
}

bool KQovReaderBrd::Read(KQovScene* scene, KStreamOptions* base) {
    if (!mFile) return Fail(eFileNotOpened);
    if (!Scan() || mFile->StoppedShort()) return Fail(eFileCorrupted);
    KStreamOptionsMotion* options = CheckRead(scene, base);
    if (!options) return false;
    // Keys beyond the file's span would hold nothing.
    if (options->GetFrameCount() > mFrameCount) options->SetFrameCount(mFrameCount);
    const KString take = KMotionTakeName(mFileName, mStatus);
    std::vector<KQovNode*> nodes;
    for (const KBrdTrack& track : mTracks) {
        KString name = "Marker";
        name += track.marker;
        nodes.push_back(KMotionCreateMarkerNode(mManager, name.Buffer()));
    }
    for (size_t i = 0; i < nodes.size(); ++i) {
        options->Progress(0, "Loading BRD animation frames in nodes",
                          float(i * 100.0 / nodes.size()));
        LoadTrack(nodes[i], mTracks[i], take, *options);
    }
    KQovNode* parent = KMotionCreateMarkerParent(mManager, "BRD", *options);
    for (KQovNode* node : nodes) parent->AddChild(node);
    scene->GetRootNode()->AddChild(parent);
    KMotionStoreTake(scene, take, *options, true);
    return true;
}

void KQovReaderBrd::LoadTrack(KQovNode* node, const KBrdTrack& track, const KString& take,
                              const KStreamOptionsMotion& options) {
    KFCurve* curves[3][3];
    KFCurve* occlusion = KMotionAddTake(node, take, curves)->GetOcclusion();
    KFCurve* const* t = curves[0];
    KFCurve* const* r = curves[1];
    const int frames = options.GetFrameCount();
    for (KFCurve* curve : {t[0], t[1], t[2], r[0], r[1], r[2], occlusion})
        if (curve) curve->PrepareKeys(frames);
    const bool fillGaps = options.GetSetting(6) == 1;
    KVector4 position(0.0, 0.0, 0.0, 1.0), rotation(0.0, 0.0, 0.0, 1.0);
    KTime time = options.GetStartTime();
    const KTime period = options.GetFramePeriod();
    int cursor = 0;
    for (int key = 0; key < frames; ++key, time += period) {
        const int64_t frame = int64_t(mFirstFrame) + key;  // within the file's span, an int
        KVector4 p, q;
        const bool seen = track.FindSample(int(frame), p, q, cursor);
        if (seen) {
            KMatrix m;
            KQuaternionToMatrix(m, KQuaternion(q));
            KMatrixToEulerXYZ(rotation, m);
            position = p;
        } else if (!fillGaps) {
            position = rotation = KVector4(0.0, 0.0, 0.0, 1.0);
        }
        for (int a = 0; a < 3; ++a) {
            KMotionSetKey(t[a], key, time, position[a]);
            KMotionSetKey(r[a], key, time, rotation[a]);
        }
        KMotionSetKey(occlusion, key, time, seen ? 0.0 : 1.0, true);
    }
    for (KFCurve* curve : {t[0], t[1], t[2], r[0], r[1], r[2], occlusion})
        if (curve) curve->CommitKeys(frames);
    KMotionFilterCurves(r, 3, true);
    KMotionFilterCurves(t, 3, false);
    KMotionFilterCurves(&occlusion, 1, false);
}
