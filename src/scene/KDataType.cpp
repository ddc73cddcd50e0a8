#include "scene/KDataType.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <initializer_list>
#include <string>
#include <vector>

#include "foundation/KIniFile.h"
#include "foundation/KLocale.h"
#include "foundation/KStringMap.h"
#include "foundation/KTime.h"
#include "scene/KClassRegistry.h"

namespace {

KStringMap* gNames = nullptr;
std::vector<KDataType*>* gTypes = nullptr;
int gPrecision = -1;
// Changes whenever a type is made or deleted: what FindStandard remembered may be stale.
uint32_t gNamesVersion = 1;

void CopyOut(char* buffer, int bufferSize, const std::string& text) {
    size_t n = std::min(text.size(), size_t(bufferSize - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

class NumberType : public KDataType {
public:
    NumberType(const char* name, const KDataType* base) : KDataType(name, 8, 1, base) {}
    bool GetDefault(void* value) const override {
        if (!value) return false;
        *static_cast<double*>(value) = 0.0;
        return true;
    }
    bool FromText(const char* text, void* value) const override {
        if (!value) return false;
        *static_cast<double*>(value) = text ? KAtofC(text) : 0.0;
        return true;
    }
    bool ToText(char* buffer, int bufferSize, const void* value) const override {
        if (!buffer || bufferSize <= 0 || !value) return false;
        CopyOut(buffer, bufferSize,
                KFormatC("%.*f", GetDisplayPrecision(), *static_cast<const double*>(value)));
        return true;
    }
};

class TimeType : public KDataType {
public:
    TimeType() : KDataType("Time", 8, 0, nullptr) {}
    bool GetDefault(void* value) const override {
        if (!value) return false;
        *static_cast<KTime*>(value) = KTime(0);
        return true;
    }
    bool FromText(const char* text, void* value) const override {
        if (!value) return false;
        if (text) static_cast<KTime*>(value)->SetTimeString(text, 0, 2);
        return true;
    }
    bool ToText(char* buffer, int bufferSize, const void* value) const override {
        if (!buffer || bufferSize <= 0 || !value) return false;
        char text[64];
        static_cast<const KTime*>(value)->GetTimeString(text, sizeof text, 5, 0, 2);
        CopyOut(buffer, bufferSize, text);
        return true;
    }
    const char* GetComponentName(int) const override { return "?"; }
};

// Vector (3), Vector4 (4) and Matrix (16) families: "{a,b,c}" texts.
class ListType : public KDataType {
public:
    ListType(const char* name, int count, const KDataType* base,
             std::initializer_list<const char*> names)
        : KDataType(name, count * 8, count, base), mNames(names) {}

    bool GetDefault(void* value) const override {
        if (!value) return false;
        double* v = static_cast<double*>(value);
        for (int i = 0; i < GetComponentCount(); ++i) v[i] = 0.0;
        return true;
    }
    bool FromText(const char* text, void* value) const override {
        if (!text || !value || *text != '{') return false;
        double* v = static_cast<double*>(value);
        const char* p = text + 1;
        const int n = GetComponentCount();
        for (int i = 0; i < n; ++i) {
            char* end = nullptr;
            double d = KStrtodC(p, &end);
            if (end == p) return false;
            v[i] = d;
            p = end;
            if (i < n - 1) {
                if (*p != ',') return false;
                ++p;
            }
        }
        return *p == '}';
    }
    bool ToText(char* buffer, int bufferSize, const void* value) const override {
        if (!buffer || bufferSize <= 0 || !value) return false;
        const double* v = static_cast<const double*>(value);
        const int precision = GetDisplayPrecision();
        std::string text = "{";
        for (int i = 0; i < GetComponentCount(); ++i) {
            if (i) text += ',';
            text += KFormatC("%.*f", precision, v[i]);
        }
        text += '}';
        CopyOut(buffer, bufferSize, text);
        return true;
    }
    const char* GetComponentName(int index) const override {
        if (mNames.empty()) return nullptr;
        return index >= 0 && index < int(mNames.size()) ? mNames[size_t(index)] : "?";
    }

private:
    std::vector<const char*> mNames;
};

// The library may start from another file's static initialiser, so nothing
// here may need dynamic initialisation.
constexpr std::initializer_list<const char*> kXyz = {"x", "y", "z"};
constexpr std::initializer_list<const char*> kXyzw = {"x", "y", "z", "w"};

void CreateTypes() {
    auto add = [](KDataType* type) {
        std::unique_ptr<KDataType> owned(type);
        gTypes->push_back(type);
        owned.release();
    };
    auto find = [](const char* name) { return KDataType::FindByName(name); };
    add(new NumberType("Number", nullptr));
    add(new TimeType);
    add(new ListType("Vector", 3, nullptr, kXyz));
    add(new ListType("Vector4", 4, nullptr, kXyzw));
    add(new ListType("Matrix", 16, nullptr, {}));
    for (const char* name :
         {"Real", "Integer", "Action", "Intensity", "Cone angle", "Fog", "Shape", "FieldOfView",
          "FieldOfViewX", "FieldOfViewY", "OpticalCenterX", "OpticalCenterY", "Roll",
          "Camera Index", "TimeWarp", "Visibility", "Bool", "Enum"})
        add(new NumberType(name, find("Number")));
    const KDataType* vector = find("Vector");
    const KDataType* vector4 = find("Vector4");
    const KDataType* matrix = find("Matrix");
    add(new ListType("Color", 3, vector, {"r", "g", "b"}));
    add(new ListType("ColorAndAlpha", 4, vector4, {"r", "g", "b", "a"}));
    add(new ListType("Translation UV", 3, vector, {"U", "V"}));
    add(new ListType("Scaling UV", 3, vector, {"U", "V"}));
    add(new ListType("HSB", 3, vector, {"H", "S", "B"}));
    for (const char* name :
         {"Translation", "Scaling", "Rotation", "Lcl Translation", "Lcl Scaling", "Lcl Rotation"})
        add(new ListType(name, 3, vector, kXyz));
    for (const char* name :
         {"Matrix Translation", "Matrix Scaling", "Matrix Rotation", "Matrix Transformation"})
        add(new ListType(name, 16, matrix, {}));
    add(new ListType("Orientation", 3, vector, kXyz));
    add(new ListType("Look at", 3, vector, kXyz));
    add(new ListType("Quaternion", 4, vector4, kXyzw));
    add(new ListType("Lcl Quaternion", 4, vector4, kXyzw));
    for (const char* name : {"Occlusion", "Weight", "IK Reach Translation", "IK Reach Rotation"})
        add(new NumberType(name, find("Number")));
}

int ReadPrecisionSetting();

}  // namespace

KDataType::KDataType(const char* name, int size, int componentCount, const KDataType* base)
    : mSize(size), mComponentCount(componentCount), mName(name), mBaseType(base ? base : this) {
    if (!gNames) gNames = new KStringMap(20, false);
    gNames->Add(name, this);
    ++gNamesVersion;
}

KDataType::~KDataType() {
    ++gNamesVersion;
    if (!gNames) return;
    // Remove this type's own entry (a later holder of the same name stays).
    for (int i = 0; i < gNames->GetCount(); ++i) {
        if (gNames->GetAt(i) == this) {
            gNames->RemoveAt(i);
            break;
        }
    }
    if (gNames->GetCount() == 0) {
        delete gNames;
        gNames = nullptr;
    }
}

bool KDataType::GetDefault(void*) const {
    return false;
}
bool KDataType::FromText(const char*, void*) const {
    return false;
}
bool KDataType::ToText(char*, int, const void*) const {
    return false;
}
const char* KDataType::GetComponentName(int) const {
    return nullptr;
}

KDataType* KDataType::FindByName(const char* name) {
    if (!name) return nullptr;
    if (!gTypes) KQovSdkEnsureStarted();
    if (std::strcmp(name, "Trigger") == 0) name = "Action";
    return gNames ? static_cast<KDataType*>(gNames->Find(name)) : nullptr;
}

KDataType* KDataType::FindStandard(Standard which) {
    static const char* const kNames[eStandardCount] = {
        "Number",          "Time",         "Vector",     "Vector4", "Color", "ColorAndAlpha",
        "Lcl Translation", "Lcl Rotation", "Lcl Scaling"};
    if (which < 0 || which >= eStandardCount) return nullptr;
    // Before start-up FindByName starts the library.
    if (!gTypes) return FindByName(kNames[which]);
    thread_local uint32_t version = 0;
    thread_local KDataType* found[eStandardCount] = {};
    if (version != gNamesVersion) {
        for (int i = 0; i < eStandardCount; ++i) found[i] = FindByName(kNames[i]);
        version = gNamesVersion;
    }
    return found[which];
}

int KDataType::ParsePrecision(const char* text) {
    // Read as a leading integer; a run of digits too long for any type is still
    // a number, and clamps like any other.
    if (!text) return 2;
    while (KIsSpace(*text)) ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    if (!KIsDigit(*text)) return 2;
    int value = 0;
    for (; KIsDigit(*text) && value <= 17; ++text) value = value * 10 + (*text - '0');
    if (negative) return 0;
    return value > 17 ? 17 : value;
}

int KDataType::GetDisplayPrecision() {
    if (gPrecision < 0) gPrecision = ReadPrecisionSetting();
    return gPrecision;
}

int KDataType::GetTypeCount() {
    return gTypes ? int(gTypes->size()) : 0;
}

KDataType* KDataType::GetTypeAt(int index) {
    if (!gTypes || index < 0 || index >= int(gTypes->size())) return nullptr;
    return (*gTypes)[size_t(index)];
}

void KDataType::RegisterAll() {
    if (gTypes) return;
    gTypes = new std::vector<KDataType*>;
    try {
        gTypes->reserve(64);
        CreateTypes();
    } catch (const std::bad_alloc&) {
        // All or none: a type missing from the list would read every value of its kind wrong.
        UnregisterAll();
        throw;
    }
    for (size_t i = 0; i < gTypes->size(); ++i) (*gTypes)[i]->mTypeIndex = int32_t(i);
}

void KDataType::UnregisterAll() {
    if (!gTypes) return;
    for (size_t i = gTypes->size(); i-- > 0;) delete (*gTypes)[i];
    delete gTypes;
    gTypes = nullptr;
}

void KDataType::ResetDisplayPrecision() {
    gPrecision = -1;
}

namespace {
int ReadPrecisionSetting() {
    KIniFile settings("@Application.txt", false);
    return KDataType::ParsePrecision(settings.GetValue("NumericField", "Decimal", "2"));
}
}  // namespace
