#include "formats/motion/mov/KQovWriterMov.h"

#include "io/KStreamOptionsMotion.h"

KQovWriterMov::KQovWriterMov(KQovObjectManager* manager) : KQovMotionTextWriter(manager) {}

KStreamOptions* KQovWriterMov::GetWriteOptions() {
    KStreamOptionsMotion* options = KStreamOptionsMotion::Create();
    for (int s : {0, 1, 2}) options->SetSetting(s, 1);
    options->SetSetting(13, 0);
    return options;
}

bool KQovWriterMov::DoWrite(KQovScene* scene, KStreamOptions* base) {
    KStreamOptionsMotion* options = CheckWrite(scene, base);
    if (!options) return false;
    bool on[3];
    int groups = 0;
    for (int g = 0; g < 3; ++g) groups += (on[g] = options->GetSetting(g) == 1);
    if (groups == 0) return Fail(eFileNotCreated, "No animation to export.");
    mMarkers.Collect(scene, FindSingleChildRoot(scene), *options);
    if (mMarkers.GetCount() == 0) return FailNothingToWrite("a MOV", "markers");
    if (!CheckRate(*options, true)) return false;
    const int frames = options->GetFrameCount();
    const KTime period = options->GetFramePeriod();
    KTime time = options->GetStartTime();
    bool ok = true;
    for (int f = 0; ok && f < frames; ++f, time += period) {
        if (f % 64 == 0)
            options->Progress(0, "Writing MOV animation frames", float(f * 100.0 / frames));
        mMarkers.Evaluate(time);
        ok = mFile->Printf(0, "%g\t", time.GetSecondDouble()) >= 0;
        for (size_t k = 0; ok && k < mMarkers.GetCount(); ++k) {
            const KAffineMatrix m = mMarkers.GetMatrix(k);
            const KVector4 values[3] = {m.GetT(), m.GetR(), m.GetS()};
            for (int g = 0; ok && g < 3; ++g)
                if (on[g])
                    ok = mFile->Printf(0, "%g\t%g\t%g\t", values[g][0], values[g][1],
                                       values[g][2]) >= 0;
        }
        ok = ok && mFile->Printf(0, "\n") >= 0;
    }
    return Finish(ok);
}
