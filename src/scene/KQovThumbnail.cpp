#include "scene/KQovThumbnail.h"

#include <cstddef>

namespace {

int32_t BytesPerPixel(int32_t format) {
    return format == KQovThumbnail::eRGB_24 ? 3 : 4;
}

int32_t PixelCount(int32_t size) {
    return size == 64 || size == 128 ? size * size : 0;
}

}  // namespace

void KQovThumbnail::SetDataFormat(int32_t format) {
    bool resize = BytesPerPixel(format) != BytesPerPixel(mDataFormat);
    mDataFormat = format;
    if (resize) Allocate();
}

void KQovThumbnail::SetSize(int32_t size) {
    mSize = size;
    Allocate();
}

int32_t KQovThumbnail::GetSizeInBytes() const {
    return BytesPerPixel(mDataFormat) * PixelCount(mSize);
}

void KQovThumbnail::Allocate() {
    // A fresh vector: the old image is freed and the new one is zeroed.
    mImage = std::vector<uint8_t>(static_cast<size_t>(GetSizeInBytes()));
}
