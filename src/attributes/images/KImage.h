#pragma once
// An image in memory: rows from the top, the 8-bit samples of a pixel adjacent. Textures travel
// inside QOV files as TIFF images; this record is what the TIFF bridge and the host's image
// converters exchange.

#include <cstdint>
#include <vector>

#include "foundation/KString.h"

class KImage {
public:
    enum EType { eRGB = 0, eYCbCr = 1 };
    // Larger pixel buffers are refused: sizes come from files.
    static constexpr int64_t kMaxBytes = int64_t(1) << 30;

    KImage() = default;

    // Stores the layout and drops the pixels. Without `allocate` the layout is kept as given and
    // the image is valid. With it, a width or height below 1, a type other than RGB or YCbCr, a
    // pixel size outside 1..127 bytes or a buffer above kMaxBytes make the image invalid;
    // otherwise a zero-filled buffer is made. Returns the validity.
    bool Init(int width, int height, bool allocate, int type, int bytesPerPixel);

    int GetWidth() const { return mWidth; }
    int GetHeight() const { return mHeight; }
    int GetType() const { return mType; }
    int GetBytesPerPixel() const { return mBytesPerPixel; }
    // Null without a buffer.
    uint8_t* GetPixels() { return mPixels.empty() ? nullptr : mPixels.data(); }
    const uint8_t* GetPixels() const { return mPixels.empty() ? nullptr : mPixels.data(); }
    size_t GetPixelBytes() const { return mPixels.size(); }
    bool IsValid() const { return mValid; }
    bool OwnsPixels() const { return mOwnsPixels; }

    // Set when the source file is missing or already a usable TIFF: it is then left untouched.
    void SetKeepOriginal(bool keep) { mKeepOriginal = keep; }
    bool GetKeepOriginal() const { return mKeepOriginal; }
    void SetFileName(const char* name) { mFileName = name ? name : ""; }
    KString GetFileName() const { return mFileName; }

private:
    int32_t mWidth = 0;
    int32_t mHeight = 0;
    int32_t mType = eRGB;
    int8_t mBytesPerPixel = 3;
    std::vector<uint8_t> mPixels;
    bool mKeepOriginal = true;
    KString mFileName = "";
    bool mValid = false;
    bool mOwnsPixels = false;
};
