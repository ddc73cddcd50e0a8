#pragma once
// The preview image stored with a scene or a take: a square RGB or RGBA image
// of 64 or 128 pixels a side. The object manager owns thumbnails; records
// that show one only point at it.

#include <cstdint>
#include <vector>

class KQovThumbnail {
public:
    enum : int32_t { eRGB_24 = 0, eRGBA_32 = 1 };

    int32_t GetDataFormat() const { return mDataFormat; }
    // A format of another pixel size re-allocates the image zeroed, so the
    // byte count always matches the image that is held.
    void SetDataFormat(int32_t format);

    int32_t GetSize() const { return mSize; }
    // Replaces the image by a zeroed one of the current format; sizes other
    // than 64 and 128 leave no image.
    void SetSize(int32_t size);

    // 3 bytes a pixel for format 0, else 4, times 64 x 64 or 128 x 128; 0 for
    // any other size.
    int32_t GetSizeInBytes() const;

    // Null when there is no image.
    uint8_t* GetImage() { return mImage.empty() ? nullptr : mImage.data(); }
    const uint8_t* GetImage() const { return mImage.empty() ? nullptr : mImage.data(); }

private:
    void Allocate();

    int32_t mDataFormat = eRGB_24;
    int32_t mSize = 0;
    std::vector<uint8_t> mImage;
};
