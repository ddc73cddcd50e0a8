#include "foundation/KColor.h"

#include <cmath>

#include "foundation/KVector4.h"

namespace {
// NaN has no place in [0, 1] either; it becomes 0.
double ClampUnit(double v) {
    return std::isnan(v) ? 0.0 : KClamp(v, 0.0, 1.0);
}
}  // namespace

void KColor::Set(double red, double green, double blue, double alpha) {
    mRed = ClampUnit(red);
    mGreen = ClampUnit(green);
    mBlue = ClampUnit(blue);
    mAlpha = ClampUnit(alpha);
}

KColor& KColor::operator=(const KColor& color) {
    Set(color.mRed, color.mGreen, color.mBlue, color.mAlpha);
    return *this;
}

bool KColor::operator!=(const KColor& color) const {
    return mRed != color.mRed || mGreen != color.mGreen || mBlue != color.mBlue ||
           mAlpha != color.mAlpha;
}
