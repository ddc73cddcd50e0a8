#pragma once
// Group and parameter records of a C3D parameter section, and the typed n-dimensional
// arrays that parameters hold.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Element types: the size in bytes in the low 4 bits, bit 31 signed, bit 30 character,
// bit 29 (with bit 31) floating point.
enum : uint32_t {
    kC3dTypeByte = 1,
    kC3dTypeWord = 2,
    kC3dTypeInt16 = 0x80000002u,
    kC3dTypeChar = 0x40000001u,
    kC3dTypeFloat = 0xA0000004u,
};

// Array type for a file type code (-1, 1, 2, 4); 0 for any other code.
uint32_t KC3dArrayTypeFromFile(int8_t fileType);
// File type code for an array type; 0 when the type cannot be stored.
int8_t KC3dFileTypeFromArray(uint32_t type);

class KC3dArray {
public:
    // Dimensions in file order (the first varies fastest); none for a single value.
    KC3dArray(uint32_t type, std::vector<uint32_t> dimensions);

    static std::unique_ptr<KC3dArray> Text(const std::string& text);
    static std::unique_ptr<KC3dArray> Int16(int16_t value);
    static std::unique_ptr<KC3dArray> Float(float value);

    uint32_t GetType() const { return mType; }
    size_t GetElementSize() const { return mType & 0xF; }
    const std::vector<uint32_t>& GetDimensions() const { return mDimensions; }
    size_t GetElementCount() const { return mData.size() / (GetElementSize() ? GetElementSize() : 1); }

    // Elements in host form, back to back.
    std::vector<uint8_t>& Data() { return mData; }
    const std::vector<uint8_t>& Data() const { return mData; }

    // Element i as a number (0 out of range).
    double GetNumber(size_t i) const;
    void SetInt16(size_t i, int16_t value);
    void SetFloat(size_t i, float value);
    // Row r of a character array (rows as long as the first dimension); empty out of range.
    std::string GetRow(size_t r) const;
    size_t GetRowCount() const;

private:
    uint32_t mType;
    std::vector<uint32_t> mDimensions;
    std::vector<uint8_t> mData;
};

struct KC3dParameter {
    static constexpr size_t kNameMaximum = 31;

    std::string name;  // upper case, at most 31 characters
    bool locked = false;
    int8_t groupId = 0;  // negative for a group (number -id), else the parameter's group
    std::unique_ptr<KC3dArray> data;  // none for groups and parameters without elements
    std::string description;

    bool IsGroup() const { return groupId < 0; }
};
