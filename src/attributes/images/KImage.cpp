#include "attributes/images/KImage.h"

#include <new>

bool KImage::Init(int width, int height, bool allocate, int type, int bytesPerPixel) {
    mWidth = width;
    mHeight = height;
    mType = type;
    mBytesPerPixel = int8_t(bytesPerPixel);
    std::vector<uint8_t>().swap(mPixels);
    mOwnsPixels = false;
    mValid = true;
    if (!allocate) return true;
    const bool layoutOk = width >= 1 && height >= 1 && (type == eRGB || type == eYCbCr) &&
                          bytesPerPixel >= 1 && bytesPerPixel <= 127;
    // Each factor is below 2^31, so the product of the first two fits; the limit check keeps
    // the third from overflowing.
    const int64_t pixels = layoutOk ? int64_t(width) * height : 0;
    if (!layoutOk || pixels > kMaxBytes / bytesPerPixel) {
        mValid = false;
        return false;
    }
    try {
        mPixels.assign(size_t(pixels * bytesPerPixel), 0);
    } catch (const std::bad_alloc&) {
        mValid = false;
        return false;
    }
    mOwnsPixels = true;
    return true;
}
