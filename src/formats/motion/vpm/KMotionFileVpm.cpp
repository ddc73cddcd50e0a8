#include "formats/motion/vpm/KMotionFileVpm.h"
#include "io/KQovWrittenNames.h"

namespace {

constexpr double kCentimetresPerInch = 2.54;
constexpr double kInchesPerCentimetre = 0.3937007874015748;
constexpr int kColumns = 9;

}  // namespace

KMotionFileVpm::KMotionFileVpm() : KMotionFile("VPM", " \t\r\n", "", true, false) {}

bool KMotionFileVpm::ReadHeader(KString& name, int& frames, double& frameTime, bool rewind) {
    name = "";
    frames = 0;
    frameTime = 0.0;
    mHeaderLine = 0;
    if (!(rewind ? Rewind() : ReadLine())) return false;
    mHeaderLine = GetLineNumber();
    // Each line is checked before the next is read, so that a failure stays on its line.
    return ReadKeyword(mKeywords) == 0 && ReadTokenString(name) && !name.IsEmpty() && ReadLine() &&
           ReadKeyword(mKeywords) == 1 && ReadInt(frames) && frames >= 0 && ReadLine() &&
           ReadKeyword(mKeywords) == 2 && ReadDouble(frameTime, 1.0) && frameTime > 0.0;
}

bool KMotionFileVpm::SkipColumnLines() {
    char token[kTokenStringMaximum + 1];
    for (int line = 0; line < 2; ++line) {
        if (!ReadLine()) return false;
        for (int i = 0; i < kColumns; ++i)
            if (!ReadToken(token, kTokenStringMaximum)) break;
    }
    return true;
}

bool KMotionFileVpm::ReadFrame(KVector4& translation, KVector4& rotation, KVector4& scaling) {
    double t[3], r[3], s[3];
    if (!ReadLine() || !ReadVector(t, kCentimetresPerInch) || !ReadVector(r, 1.0) ||
        !ReadVector(s, 1.0))
        return false;
    translation = KVector4(t[0], t[1], t[2], 1.0);
    rotation = KVector4(r[0], r[1], r[2], 1.0);
    // The file's scaling is read but not kept.
    scaling = KVector4(1.0, 1.0, 1.0, 1.0);
    return true;
}

bool KMotionFileVpm::WriteHeader(const char* name, int frames, double frameTime) {
    return Printf(0, "%s\t%s\n", mKeywords[0].text, name) >= 0 &&
           Printf(0, "%s\t%d\n", mKeywords[1].text, frames) >= 0 &&
           Printf(0, "%s\t%g\n", mKeywords[2].text, frameTime) >= 0;
}

bool KMotionFileVpm::WriteColumnLines() {
    return Printf(0, "XTRAN\tYTRAN\tZTRAN\tXROT\tYROT\tZROT\tXSCALE\tYSCALE\tZSCALE\n") >= 0 &&
           Printf(
               0,
               "INCHES\tINCHES\tINCHES\tDEGREES\tDEGREES\tDEGREES\tPERCENT\tPERCENT\tPERCENT\n") >=
               0;
}

bool KMotionFileVpm::WriteFrame(const KVector4& t, const KVector4& r, const KVector4& s) {
    const double k = kInchesPerCentimetre;
    return Printf(0, "%g\t%g\t%g\t%g\t%g\t%g\t%g\t%g\t%g\n", t[0] * k, t[1] * k, t[2] * k, r[0],
                  r[1], r[2], s[0] * 100.0, s[1] * 100.0, s[2] * 100.0) >= 0;
}

KQovNameTerms KMotionFileVpm::NameTerms() {
    KQovNameTerms terms;
    terms.format = "VPM";
    terms.maxLength = kTokenStringMaximum;
    return terms;
}
