#pragma once
// Property sets described by tables: one descriptor per property (name, type
// code, data type, enum labels, animatable flag, persistent user flags,
// default value), and the one generic property class that embodies the
// embedded rows of every set. KQovPropertyHandler::CreateTableProperties
// builds a set from its table, in table order; the set keeps pointers to the
// rows, so tables are static.

#include <cstdint>
#include <memory>
#include <type_traits>

#include "foundation/KString.h"
#include "foundation/KThreadScratch.h"
#include "foundation/KTime.h"
#include "scene/KProperty.h"

class KObject;
class KPropertyObjectList;

struct KQovPropertyDescriptor {
    // How a row is made.
    enum : uint8_t {
        eEmbedded = 0,    // a generic property kept by the set itself
        eCreated = 1,     // made by the set's CreateProperty and owned by its property list
        eObjectList = 2,  // an object list (type code 9) kept by the set itself
    };

    const char* name;
    int typeCode;
    const char* dataType = nullptr;            // registered data-type name, null for none
    const char* const* enumLabels = nullptr;   // null-terminated labels of an enum row
    bool animatable = false;                   // attribute flag 0x2
    uint32_t userFlags = 0;                    // persistent user flags
    double defaultValue[4] = {0.0, 0.0, 0.0, 1.0};  // scalars in [0]; vectors x, y, z, w
    const char* defaultText = nullptr;         // text rows
    uint8_t form = eEmbedded;
    // Object lists: the class they accept (its ClassId function, null for any),
    // the restriction word, and the plug direction flags.
    int (*objectClass)() = nullptr;
    int objectWord = -1;
    uint32_t objectDirection = 0;
    // An object list with its own value access, in place of the plain one.
    KPropertyObjectList* (*makeObjectList)() = nullptr;
    // An enum row's label function (null for a value without a label), in
    // place of `enumLabels` where the labelled values have gaps.
    KProperty::EnumNameFunction enumSource = nullptr;
};

// What a caller derives from one descriptor table (the table's first row and its count), made
// by `make` once per table: each call site keeps the last table its thread asked about, since
// sets of one kind follow each other.
template <typename Value, typename Make>
const Value& KQovPerTable(const KQovPropertyDescriptor* rows, int count, Make&& make) {
    struct Last {
        const KQovPropertyDescriptor* rows = nullptr;
        int count = -1;
        Value value{};
    };
    Last* scratch;
    if constexpr (std::is_trivially_destructible<Last>::value) {
        thread_local Last plain;  // nothing to destroy, so nothing noted when first used
        scratch = &plain;
    } else {
        scratch = &KThreadScratch<Last>();
    }
    Last& last = *scratch;
    if (last.rows != rows || last.count != count) {
        last.count = -1;  // nothing half made stays if `make` throws
        last.value = make();
        last.rows = rows;
        last.count = count;
    }
    return last.value;
}

// The value of a property as doubles, by its stored kind: 1 for bool, int, enum,
// float and double, 3 for Vector3D and ColorRGB, 4 for Vector4D and ColorRGBA;
// 0 (and `out` untouched) for any other kind. `out` holds four doubles.
int KQovGetPropertyNumbers(KProperty* property, double* out);
// Writes `count` doubles into a property of those kinds through SetValue (with
// its events); a vector or colour keeps the components past `count`. False for
// other kinds.
bool KQovSetPropertyNumbers(KProperty* property, const double* values, int count);
// What KQovGetPropertyNumbers reads from a property of the type code after
// KQovSetPropertyNumbers wrote these four doubles into it (without making it).
int KQovNumbersAsStored(int typeCode, const double* values, double* out);

// A property whose storage is fixed by the type code given at construction
// (bool, int, enum, action, float, double, time, text, Vector3D, ColorRGB,
// Vector4D, ColorRGBA). Reads and writes go through the buffer of that kind,
// with value events 20 and 21 around every SetValue.
class KQovEmbeddedProperty : public KProperty {
public:
    explicit KQovEmbeddedProperty(int typeCode);

    void GetValue(void* buffer) override;
    void SetValue(const void* value) override;
    int GetStorageCode() const override { return GetClassBits(); }

    // Direct access, without events (resets and copies between a set and its owner).
    const double* GetNumbers() const { return mNumbers; }
    void SetNumbers(const double* values, int count);
    const KString& GetText() const;
    void SetText(const char* text);
    // Only text and time rows hold these, with the property's extras (the text null when empty).
    KTime GetTime() const { return GetClassTime(); }
    void SetTime(KTime time) { SetClassTime(time); }

private:
    double mNumbers[4] = {0.0, 0.0, 0.0, 1.0};
};
