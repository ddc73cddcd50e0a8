#include "scene/KQovPropertyTable.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace {

// The stored kind of a type code, for the kinds read and written as numbers,
// times and texts; 0 for the others (objects, references, events ...).
int StorageFor(int typeCode) {
    const int kind = KProperty::StorageKind(typeCode);
    return kind == KProperty::eOBJECT || kind == KProperty::eREFERENCE ? 0 : kind;
}

}  // namespace

int KQovGetPropertyNumbers(KProperty* property, double* out) {
    if (!property || !out) return 0;
    // The stored kind decides the buffer; a type code that disagrees with it reads nothing.
    const int storage = StorageFor(property->GetStorageCode());
    if (storage == 0 || storage != StorageFor(property->GetTypeCode())) return 0;
    switch (storage) {
        case KProperty::eINT: {
            int32_t v = 0;
            property->GetValue(&v);
            out[0] = v;
            return 1;
        }
        case KProperty::eBOOL: {
            bool v = false;
            property->GetValue(&v);
            out[0] = v ? 1.0 : 0.0;
            return 1;
        }
        case KProperty::eFLOAT: {
            float v = 0.0f;
            property->GetValue(&v);
            out[0] = v;
            return 1;
        }
        case KProperty::eDOUBLE: {
            double v = 0.0;
            property->GetValue(&v);
            out[0] = v;
            return 1;
        }
        case KProperty::eVECTOR3D: {
            std::array<double, 3> v{};
            property->GetValue(&v);
            std::copy(v.begin(), v.end(), out);
            return 3;
        }
        case KProperty::eCOLORRGBA: {
            std::array<double, 4> v{};
            property->GetValue(&v);
            std::copy(v.begin(), v.end(), out);
            return 4;
        }
        default:
            return 0;
    }
}

bool KQovSetPropertyNumbers(KProperty* property, const double* values, int count) {
    if (!property || !values || count <= 0) return false;
    double current[4] = {0.0, 0.0, 0.0, 1.0};
    const int components = KQovGetPropertyNumbers(property, current);
    if (components == 0) return false;
    for (int i = 0; i < components && i < count; ++i) current[i] = values[i];
    switch (StorageFor(property->GetStorageCode())) {
        case KProperty::eINT: {
            const double d = current[0];
            int32_t v = d != d ? 0 : d >= 2147483647.0 ? INT32_MAX
                                   : d <= -2147483648.0 ? INT32_MIN
                                                        : int32_t(d);
            property->SetValue(&v);
            return true;
        }
        case KProperty::eBOOL: {
            bool v = current[0] != 0.0;
            property->SetValue(&v);
            return true;
        }
        case KProperty::eFLOAT: {
            float v = float(current[0]);
            property->SetValue(&v);
            return true;
        }
        case KProperty::eDOUBLE:
            property->SetValue(&current[0]);
            return true;
        case KProperty::eVECTOR3D: {
            std::array<double, 3> v{current[0], current[1], current[2]};
            property->SetValue(&v);
            return true;
        }
        case KProperty::eCOLORRGBA: {
            std::array<double, 4> v{current[0], current[1], current[2], current[3]};
            property->SetValue(&v);
            return true;
        }
        default:
            return false;
    }
}

int KQovNumbersAsStored(int typeCode, const double* values, double* out) {
    if (!values || !out) return 0;
    switch (StorageFor(typeCode)) {
        case KProperty::eINT: {
            const double d = values[0];
            out[0] = d != d               ? 0
                     : d >= 2147483647.0  ? INT32_MAX
                     : d <= -2147483648.0 ? INT32_MIN
                                          : int32_t(d);
            return 1;
        }
        case KProperty::eBOOL:
            out[0] = values[0] != 0.0 ? 1.0 : 0.0;
            return 1;
        case KProperty::eFLOAT:
            out[0] = float(values[0]);
            return 1;
        case KProperty::eDOUBLE:
            out[0] = values[0];
            return 1;
        case KProperty::eVECTOR3D:
            std::copy(values, values + 3, out);
            return 3;
        case KProperty::eCOLORRGBA:
            std::copy(values, values + 4, out);
            return 4;
        default:
            return 0;
    }
}

KQovEmbeddedProperty::KQovEmbeddedProperty(int typeCode) {
    // The stored kind (a type code below 16) lives in KProperty's spare bits.
    SetClassBits(uint8_t(StorageFor(typeCode)));
    SetTypeCode(typeCode);
}

const KString& KQovEmbeddedProperty::GetText() const {
    static const KString kEmpty("");
    const KString* text = GetClassText();
    return text ? *text : kEmpty;
}

void KQovEmbeddedProperty::SetText(const char* text) {
    SetClassText(text && *text ? std::make_unique<KString>(text) : nullptr);
}

void KQovEmbeddedProperty::SetNumbers(const double* values, int count) {
    if (!values) return;
    for (int i = 0; i < count && i < 4; ++i) mNumbers[i] = values[i];
}

void KQovEmbeddedProperty::GetValue(void* buffer) {
    if (!buffer) return;
    switch (GetStorageCode()) {
        case eINT:
            *static_cast<int32_t*>(buffer) = int32_t(mNumbers[0]);
            return;
        case eBOOL:
            *static_cast<bool*>(buffer) = mNumbers[0] != 0.0;
            return;
        case eFLOAT:
            *static_cast<float*>(buffer) = float(mNumbers[0]);
            return;
        case eDOUBLE:
            *static_cast<double*>(buffer) = mNumbers[0];
            return;
        case eTIME:
            *static_cast<KTime*>(buffer) = GetTime();
            return;
        case eSTRING:
            *static_cast<KString*>(buffer) = GetText();
            return;
        case eVECTOR3D:
            std::memcpy(buffer, mNumbers, 3 * sizeof(double));
            return;
        case eCOLORRGBA:
            std::memcpy(buffer, mNumbers, 4 * sizeof(double));
            return;
        default:
            return;
    }
}

void KQovEmbeddedProperty::SetValue(const void* value) {
    if (!value || GetStorageCode() == 0) return;
    // Copy first: the buffer may be this property's own storage.
    double numbers[4] = {mNumbers[0], mNumbers[1], mNumbers[2], mNumbers[3]};
    KString text = GetText();
    KTime time = GetTime();
    switch (GetStorageCode()) {
        case eINT:
            numbers[0] = *static_cast<const int32_t*>(value);
            break;
        case eBOOL:
            numbers[0] = *static_cast<const bool*>(value) ? 1.0 : 0.0;
            break;
        case eFLOAT:
            numbers[0] = *static_cast<const float*>(value);
            break;
        case eDOUBLE:
            numbers[0] = *static_cast<const double*>(value);
            break;
        case eTIME:
            time = *static_cast<const KTime*>(value);
            break;
        case eSTRING:
            text = *static_cast<const KString*>(value);
            break;
        case eVECTOR3D:
            std::memcpy(numbers, value, 3 * sizeof(double));
            break;
        case eCOLORRGBA:
            std::memcpy(numbers, value, 4 * sizeof(double));
            break;
        default:
            break;
    }
    SendValueEvent(nullptr, eValueChanging, this, value, nullptr, nullptr);
    std::copy(numbers, numbers + 4, mNumbers);
    static const KString kInvalid(nullptr);  // an invalid text is kept as such
    if (text.IsEmpty() && text.Buffer() != kInvalid.Buffer())
        SetClassText(nullptr);
    else
        SetClassText(std::make_unique<KString>(text));
    SetTime(time);
    SendValueEvent(nullptr, eValueChanged, this, value, nullptr, nullptr);
}
