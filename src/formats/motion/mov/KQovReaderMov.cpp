#include "formats/motion/mov/KQovReaderMov.h"

#include <algorithm>
#include <vector>

#include "animation/KFCurve.h"
#include "formats/motion/KMotionSceneTools.h"
#include "foundation/KPath.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"
#include "scene/KQovScene.h"

namespace {

// Rows whose times are read to estimate the rate.
constexpr int kRateRows = 10;

// The average of the rates between neighbouring rows, starting from the first increase.
// Times that do not increase are skipped: they would give an infinite or negative rate.
double EstimateRate(const std::vector<double>& t) {
    double rate = 0.0;
    for (size_t i = 1; i < t.size(); ++i) {
        if (!(t[i] > t[0]) || !(t[i] > t[i - 1])) continue;
        rate = rate <= 0.0 ? 1.0 / (t[i] - t[0]) : (1.0 / (t[i] - t[i - 1]) + rate) * 0.5;
    }
    return rate;
}

}  // namespace

KQovReaderMov::KQovReaderMov(KQovObjectManager* manager) : KQovMotionTextReader(manager) {}

KStreamOptions* KQovReaderMov::GetReadOptions(bool) {
    if (!mFile) return Fail(eFileNotOpened), nullptr;
    int columns = 0, lines = 0;
    if (!mFile->CountColumns(columns) || !mFile->CountLines(lines))
        return Fail(eFileCorrupted), nullptr;
    std::vector<double> times;
    for (double t = 0.0;
         int(times.size()) < std::min(lines, kRateRows) && mFile->ReadRow(&t, 1, times.empty());)
        times.push_back(t);
    const double rate = EstimateRate(times);
    KStreamOptionsMotion* options = KStreamOptionsMotion::Create();
    KTime start;
    start.SetSecondDouble(times.empty() ? 0.0 : times[0]);
    options->SetStartTime(start);
    options->SetFrameCount(lines);
    if (rate > 0.0)
        mStatus += KMotionSetFileRate(*options, rate, start.GetSecondDouble() * rate, lines,
                                      "The rate of the time column " + KDecimalText(rate))
                       .c_str();
    else
        options->SetFrameRate(KTime::GetGlobalTimeMode(), 0.0);
    for (int s : {0, 1, 2}) options->SetSetting(s, 1);
    options->SetSetting(4, 0);
    return options;
}

bool KQovReaderMov::Read(KQovScene* scene, KStreamOptions* base) {
    if (!mFile) return Fail(eFileNotOpened);
    int columns = 0;
    if (!mFile->CountColumns(columns) || mFile->StoppedShort()) return Fail(eFileCorrupted);
    KStreamOptionsMotion* options = CheckRead(scene, base);
    if (!options) return false;
    bool on[3];
    int groups = 0;
    for (int g = 0; g < 3; ++g) groups += (on[g] = options->GetSetting(g) == 1);
    if (groups == 0) {
        mError.SetErrorWithText(eUnidentifiedError, "No animation to import.");
        return false;
    }
    // Values past the last whole marker would have no node to go to.
    if ((columns - 1) % (3 * groups) != 0) {
        mFile->Error("%d number%s after the time make%s no whole markers of %d\n", columns - 1,
                     columns == 2 ? "" : "s", columns == 2 ? "s" : "", 3 * groups);
        return Fail(eFileCorrupted);
    }

    // Every row holds as many numbers as the first: a short one has no values for its last
    // markers, a long one more than they take.
    const int wanted = options->GetFrameCount();
    std::vector<double> row(static_cast<size_t>(columns)), values;
    std::vector<size_t> rowStart;
    for (int r = 0; r < wanted; ++r) {
        options->Progress(0, "Reading MOV animation frames", float(r * 50.0 / wanted));
        int parsed = 0;
        if (!mFile->ReadRow(row.data(), columns, r == 0, &parsed)) break;
        if (parsed < 0) return Fail(eFileCorrupted);
        if (parsed != columns) {
            mFile->Error("a row of %d number%s where the first row has %d\n", parsed,
                         parsed == 1 ? "" : "s", columns);
            return Fail(eFileCorrupted);
        }
        rowStart.push_back(values.size());
        values.insert(values.end(), row.begin(), row.end());
    }
    const int frames = int(rowStart.size());
    if (frames == 0) return Fail(eFileCorrupted);
    rowStart.push_back(values.size());

    const int markers = (columns - 1) / (3 * groups);
    // Every marker gets a key per frame per column, present in the row or not.
    if (int64_t(frames) * markers * 3 * groups > KMotionMaxKeys(int64_t(values.size())) ||
        mFile->StoppedShort())
        return Fail(eFileCorrupted);
    options->SetFrameCount(frames);
    auto value = [&](int f, int column) {
        const size_t at = rowStart[size_t(f)] + size_t(column);
        return at < rowStart[size_t(f) + 1] ? values[at] : 0.0;
    };
    const KString take = KMotionTakeName(mFileName, mStatus);
    const KTime start = options->GetStartTime(), period = options->GetFramePeriod();
    KQovNode* parent = KMotionCreateMarkerParent(mManager, "MOV", *options);
    for (int i = 0, column = 1; i < markers; ++i) {
        options->Progress(0, "Loading MOV animation frames in nodes",
                          float(i * 50.0 / markers + 50.0));
        KString name = "Marker";
        name += i;
        KQovNode* node = KMotionCreateMarkerNode(mManager, name.Buffer());
        parent->AddChild(node);
        KFCurve* curves[3][3];
        KMotionAddTake(node, take, curves);
        for (int g = 0; g < 3; ++g) {
            if (!on[g]) continue;
            for (int a = 0; a < 3; ++a, ++column) {
                KFCurve* curve = curves[g][a];
                if (!curve) continue;
                curve->PrepareKeys(frames);
                for (int f = 0; f < frames; ++f)
                    KMotionSetKey(curve, f, start + period * int64_t(f), value(f, column));
                curve->CommitKeys(frames);
            }
            KMotionFilterCurves(curves[g], 3, g == 1);
        }
    }
    scene->GetRootNode()->AddChild(parent);
    KMotionStoreTake(scene, take, *options, true);
    return true;
}
