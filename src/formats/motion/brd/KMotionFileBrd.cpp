#include "formats/motion/brd/KMotionFileBrd.h"

bool KBrdTrack::FindSample(int frame, KVector4& position, KVector4& orientation,
                           int& cursor) const {
    size_t i = cursor < 0 ? 0 : size_t(cursor);
    while (i < samples.size() && samples[i].frame < frame) ++i;
    cursor = int(i);
    if (i == samples.size() || samples[i].frame != frame) return false;
    position = samples[i].position;
    orientation = samples[i].orientation;
    cursor = int(i + 1);
    return true;
}

KMotionFileBrd::KMotionFileBrd() : KMotionFile("BRD", " \t\r\n", "", true, false) {}

bool KMotionFileBrd::ReadSample(KBrdSample& sample, int& marker, bool rewind) {
    if (!(rewind ? Rewind() : ReadLine())) return false;
    char c = 0;
    double p[3], q[4], seconds = 0.0, micro = 0.0;
    if (!ReadInt(sample.frame) || !ReadInt(marker) || !GetChar(c) || c != 'P' ||
        !ReadVector(p, 1.0) || !GetChar(c) || c != 'Q')
        return false;
    for (double& v : q)
        if (!ReadDouble(v, 1.0)) return false;
    if (!ReadDouble(seconds, 1.0) || !ReadDouble(micro, 1.0)) return false;
    sample.position = KVector4(p[0], p[1], p[2], 1.0);
    sample.orientation = KVector4(q[0], q[1], q[2], q[3]);
    KTime whole, rest;
    whole.SetSecondDouble(seconds);
    rest.SetSecondDouble(micro * 1e-6);
    sample.time = KTimeSaturatingAdd(whole, rest);
    return true;
}

bool KMotionFileBrd::WriteSample(int frame, int marker, const KVector4& p, const KVector4& q,
                                 KTime time) {
    const int64_t seconds = time.GetSecond(true);
    KTime whole;
    whole.SetSecondDouble(double(seconds));
    const double micro = (time - whole).GetSecondDouble() * 1e6;
    return Printf(0, "%d\t%d\tP\t%g\t%g\t%g\tQ\t%g\t%g\t%g\t%g\t%g\t%g\n", frame, marker, p[0],
                  p[1], p[2], q[0], q[1], q[2], q[3], double(seconds), micro) >= 0;
}
