#include "formats/motion/c3d/KC3dParameter.h"

#include <cstring>

#include "foundation/KBinaryReader.h"

uint32_t KC3dArrayTypeFromFile(int8_t fileType) {
    switch (fileType) {
        case -1: return kC3dTypeChar;
        case 1: return kC3dTypeByte;
        case 2: return kC3dTypeInt16;
        case 4: return kC3dTypeFloat;
        default: return 0;
    }
}

int8_t KC3dFileTypeFromArray(uint32_t type) {
    switch (type) {
        case kC3dTypeChar: return -1;
        case kC3dTypeByte: return 1;
        case kC3dTypeWord:
        case kC3dTypeInt16: return 2;
        case kC3dTypeFloat: return 4;
        default: return 0;
    }
}

KC3dArray::KC3dArray(uint32_t type, std::vector<uint32_t> dimensions)
    : mType(type), mDimensions(std::move(dimensions)) {
    size_t count = 1;
    for (uint32_t d : mDimensions) count *= d;
    mData.assign(count * GetElementSize(), 0);
}

std::unique_ptr<KC3dArray> KC3dArray::Text(const std::string& text) {
    auto a = std::make_unique<KC3dArray>(kC3dTypeChar, std::vector<uint32_t>{uint32_t(text.size())});
    std::memcpy(a->mData.data(), text.data(), text.size());
    return a;
}

std::unique_ptr<KC3dArray> KC3dArray::Int16(int16_t value) {
    auto a = std::make_unique<KC3dArray>(kC3dTypeInt16, std::vector<uint32_t>{});
    a->SetInt16(0, value);
    return a;
}

std::unique_ptr<KC3dArray> KC3dArray::Float(float value) {
    auto a = std::make_unique<KC3dArray>(kC3dTypeFloat, std::vector<uint32_t>{});
    a->SetFloat(0, value);
    return a;
}

double KC3dArray::GetNumber(size_t i) const {
    if (i >= GetElementCount()) return 0.0;
    const uint8_t* at = mData.data() + i * GetElementSize();
    switch (mType) {
        case kC3dTypeByte:
        case kC3dTypeChar: return *at;
        case kC3dTypeWord: return KLoadU16(at, kHostByteOrder);
        case kC3dTypeInt16: return static_cast<int16_t>(KLoadU16(at, kHostByteOrder));
        case kC3dTypeFloat: {
            float f;
            std::memcpy(&f, at, 4);
            return f;
        }
        default: return 0.0;
    }
}

void KC3dArray::SetInt16(size_t i, int16_t value) {
    if (GetElementSize() == 2 && i < GetElementCount())
        KStoreU16(mData.data() + 2 * i, static_cast<uint16_t>(value), kHostByteOrder);
}

void KC3dArray::SetFloat(size_t i, float value) {
    if (mType == kC3dTypeFloat && i < GetElementCount()) std::memcpy(mData.data() + 4 * i, &value, 4);
}

size_t KC3dArray::GetRowCount() const {
    if (mType != kC3dTypeChar) return 0;
    if (mDimensions.empty()) return mData.empty() ? 0 : 1;
    return mDimensions[0] ? mData.size() / mDimensions[0] : 0;
}

std::string KC3dArray::GetRow(size_t r) const {
    if (r >= GetRowCount()) return std::string();
    size_t width = mDimensions.empty() ? 1 : mDimensions[0];
    return std::string(reinterpret_cast<const char*>(mData.data()) + r * width, width);
}
