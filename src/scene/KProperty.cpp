#include "scene/KProperty.h"

#include <array>
#include <climits>
#include <cstring>
#include <string>

#include "foundation/KLocale.h"
#include "foundation/KNameNumbers.h"
#include "foundation/KStringList.h"
#include "foundation/KTime.h"
#include "scene/KDataType.h"
#include "scene/KObject.h"
#include "scene/KPlugFilter.h"

namespace {

const char* const kTypeNames[KProperty::eTYPE_CODE_COUNT] = {
    "unknown",  "int",       "bool",   "float",     "double",       "charptr",  "enum",
    "KTime",    "KString",   "object", "event",     "stringlist",   "Vector4D", "Vector3D",
    "ColorRGB", "ColorRGBA", "Action", "Reference", "VectorElement"};

// The kind of value a type code is stored as; codes sharing a kind share a class.
int StorageOf(int code) {
    switch (code) {
        case KProperty::eINT:
        case KProperty::eENUM:
            return KProperty::eINT;
        case KProperty::eBOOL:
        case KProperty::eACTION:
            return KProperty::eBOOL;
        case KProperty::eVECTOR3D:
        case KProperty::eCOLORRGB:
            return KProperty::eVECTOR3D;
        case KProperty::eVECTOR4D:
        case KProperty::eCOLORRGBA:
            return KProperty::eCOLORRGBA;
        case KProperty::eFLOAT:
        case KProperty::eDOUBLE:
        case KProperty::eTIME:
        case KProperty::eSTRING:
        case KProperty::eOBJECT:
        case KProperty::eREFERENCE:
            return code;
        default:
            return 0;
    }
}

KClassIdFilter* PropertyFilter() {
    // Typed views go through the property sub-plug only when the class has its own id.
    if (KProperty::ClassId() == KPlug::ClassId()) return nullptr;
    return KClassRegistry::GetClassIdFilter(KProperty::ClassId());
}

KProperty* PlugAsProperty(KPlug* plug) {
    return plug && plug->IsA(KProperty::ClassId()) ? static_cast<KProperty*>(plug) : nullptr;
}

KProperty* NthProperty(KPlug* plug, int index, bool source) {
    if (!plug || index < 0) return nullptr;
    KPlug* view = plug;
    if (KClassIdFilter* filter = PropertyFilter()) view = plug->GetSubPlug(filter);
    if (!view) return nullptr;
    if (view != plug) return PlugAsProperty(source ? view->GetSrc(index) : view->GetDst(index));
    int count = source ? plug->GetSrcCount() : plug->GetDstCount();
    for (int i = 0, seen = 0; i < count; ++i) {
        KProperty* p = PlugAsProperty(source ? plug->GetSrc(i) : plug->GetDst(i));
        if (p && seen++ == index) return p;
    }
    return nullptr;
}

}  // namespace

KProperty::KProperty() = default;

int KProperty::StorageKind(int code) {
    return StorageOf(code);
}

KProperty::~KProperty() {
    // A property deleted while still listed (an embedded member of an object that
    // was not prepared for destruction) must not stay in the list.
    if (KObject* owner = GetOwnerObject()) owner->ForgetProperty(this);
    FreeOwnedName();
}

void KProperty::FreeOwnedName() {
    if (mBits & kNameOwned) delete[] mName;
    mBits &= uint8_t(~kNameOwned);
    mName = "";
}

void KProperty::Construct(KObject* owner, const char* name, KDataType* dataType,
                          bool isUserProperty, KPlug* source, uint32_t userFlags, int typeCode) {
    mUserFlags = userFlags;
    if (owner) owner->AddChild(this);
    SetName(name, false);
    mTypeCode = typeCode;
    SetFlag(eUserProperty, isUserProperty);
    SetFlag(eTyped, true);
    SetDataType(dataType);
    if (source) ConnectSrc(source, 0);
    if (owner) owner->AddProperty(this);
}

void KProperty::Init(const char* name, KObject* owner) {
    if (owner) owner->AddChild(this);
    FreeOwnedName();
    mAttributes &= ~eOwnedName;
    mName = name ? name : "";
}

bool KProperty::SameStorage() const {
    int storage = GetStorageCode();
    return storage != 0 && StorageOf(storage) == StorageOf(mTypeCode);
}

int KProperty::GetInt() {
    if (!SameStorage()) return 0;
    switch (mTypeCode) {
        case eINT:
        case eENUM: {
            int32_t v = 0;
            GetValue(&v);
            return v;
        }
        case eBOOL:
        case eACTION: {
            bool v = false;
            GetValue(&v);
            return v ? 1 : 0;
        }
        default:
            return 0;
    }
}

bool KProperty::SetInt(int value) {
    if (!SameStorage()) return false;
    switch (mTypeCode) {
        case eINT:
        case eENUM: {
            int32_t v = value;
            SetValue(&v);
            return true;
        }
        case eBOOL:
        case eACTION: {
            bool v = value != 0;
            SetValue(&v);
            return true;
        }
        default:
            return false;
    }
}

double KProperty::GetDouble() {
    switch (mTypeCode) {
        case eINT:
        case eBOOL:
        case eENUM:
        case eACTION:
            return GetInt();
        case eFLOAT: {
            if (!SameStorage()) return 0.0;
            float v = 0.0f;
            GetValue(&v);
            return v;
        }
        case eDOUBLE: {
            if (!SameStorage()) return 0.0;
            double v = 0.0;
            GetValue(&v);
            return v;
        }
        default:
            return 0.0;
    }
}

bool KProperty::SetDouble(double value) {
    switch (mTypeCode) {
        case eINT:
        case eBOOL:
        case eENUM:
        case eACTION:
            // Truncated toward zero; out of the int range it saturates.
            if (value != value) return SetInt(0);
            if (value >= 2147483647.0) return SetInt(INT_MAX);
            if (value <= -2147483648.0) return SetInt(INT_MIN);
            return SetInt(int(value));
        case eFLOAT: {
            if (!SameStorage()) return false;
            float v = float(value);
            SetValue(&v);
            return true;
        }
        case eDOUBLE: {
            if (!SameStorage()) return false;
            SetValue(&value);
            return true;
        }
        default:
            return false;
    }
}

void KProperty::GetValue(void*) {}

void KProperty::SetValue(const void*) {}

void KProperty::CopyValue(KProperty* other) {
    if (!other || other == this || other->mTypeCode != mTypeCode) return;
    if (!SameStorage() || StorageOf(other->GetStorageCode()) != StorageOf(GetStorageCode())) return;
    if (mTypeCode == eSTRING) {
        KString text;
        other->GetValue(&text);
        SetValue(&text);
        return;
    }
    alignas(16) unsigned char buffer[64] = {};
    other->GetValue(buffer);
    SetValue(buffer);
}

KString KProperty::MakeUniqueName(const char* name) const {
    KString trimmed = KString(name ? name : "").Trim();
    if (trimmed.IsEmpty()) trimmed = "1";
    KObject* owner = GetOwnerObject();
    if (!owner) return trimmed;

    std::string base = trimmed.Buffer();
    size_t digits = base.size();
    while (digits > 0 && KIsDigit(base[digits - 1])) --digits;
    long long counter = 1;
    bool numbered = digits < base.size();
    if (numbered) {
        long long value = 0;
        // A run too long for a number counts as no number.
        if (base.size() - digits <= 18 && KParseInt64(base.substr(digits), value) &&
            value < INT_MAX) {
            counter = value + 1;
            base.resize(digits);
        } else {
            numbered = false;
        }
    }
    if (!numbered) base += ' ';

    std::string candidate = trimmed.Buffer();
    if (owner->IsPropertyNameTaken(candidate.c_str(), this)) {
        KNameNumbers::FirstFree(uint64_t(counter), [&](uint64_t n) {
            candidate = base + std::to_string(n);
            return !owner->IsPropertyNameTaken(candidate.c_str(), this);
        });
    }
    return KString(candidate.c_str());
}

bool KProperty::SetName(const char* name, bool makeUnique) {
    KString newName = makeUnique ? MakeUniqueName(name) : KString(name ? name : "");
    KString oldName = mName;
    if (!SendStateEvent(nullptr, eRenaming, this, newName.Buffer(), oldName.Buffer(), nullptr))
        return false;
    std::string stored;
    for (const char* c = newName.Buffer(); *c; ++c) {
        if (*c != '"') stored += *c;
    }
    char* copy = new char[stored.size() + 1];
    std::memcpy(copy, stored.c_str(), stored.size() + 1);
    FreeOwnedName();
    mName = copy;
    mBits |= kNameOwned;
    mAttributes |= eOwnedName;
    SendStateEvent(nullptr, eRenamed, this, newName.Buffer(), mName, nullptr);
    return true;
}

KProperty::ExtraFields& KProperty::Extras() {
    if (!mExtras) mExtras = std::make_unique<ExtraFields>();
    return *mExtras;
}

void KProperty::SetClassText(std::unique_ptr<KString> text) {
    if (text || mExtras) Extras().classText = std::move(text);
}

void KProperty::SetClassTime(KTime time) {
    if (time != KTime() || mExtras) Extras().classTime = time;
}

void KProperty::SetLabel(const char* text) {
    if (text && *text)
        Extras().label = std::make_unique<KString>(text);
    else if (mExtras)
        mExtras->label.reset();
}

void KProperty::SetDataType(KDataType* type) {
    const int index = type ? type->GetTypeIndex() : -1;
    if (type && (index < 0 || index + 1 >= kOtherType || KDataType::GetTypeAt(index) != type)) {
        Extras().dataType = type;
        mDataTypeIndex = kOtherType;
        return;
    }
    if (mExtras) mExtras->dataType = nullptr;
    mDataTypeIndex = uint8_t(index + 1);
}

KDataType* KProperty::GetDataType() const {
    if (mDataTypeIndex == kOtherType) return mExtras->dataType;
    if (mDataTypeIndex != 0) return KDataType::GetTypeAt(mDataTypeIndex - 1);
    return GetStandardDataType(mTypeCode);
}

KDataType* KProperty::GetStandardDataType(int typeCode) {
    switch (typeCode) {
        case eDOUBLE:
            return KDataType::FindStandard(KDataType::eStandardNumber);
        case eTIME:
            return KDataType::FindStandard(KDataType::eStandardTime);
        case eVECTOR4D:
            return KDataType::FindStandard(KDataType::eStandardVector4);
        case eVECTOR3D:
            return KDataType::FindStandard(KDataType::eStandardVector);
        case eCOLORRGB:
            return KDataType::FindStandard(KDataType::eStandardColor);
        case eCOLORRGBA:
            return KDataType::FindStandard(KDataType::eStandardColorAndAlpha);
        default:
            return nullptr;
    }
}

const char* KProperty::GetTypeName() const {
    return GetTypeName(mTypeCode);
}

const char* KProperty::GetTypeName(int code) {
    return code >= 0 && code < eTYPE_CODE_COUNT ? kTypeNames[code] : kTypeNames[0];
}

int KProperty::TypeCodeFromName(const char* name) {
    if (!name) return eUNKNOWN;
    for (int i = 0; i < eTYPE_CODE_COUNT; ++i) {
        if (std::strcmp(kTypeNames[i], name) == 0) return i;
    }
    return eUNKNOWN;
}

int KProperty::TypeCodeFromDataType(const KDataType* type) {
    if (!type || !type->GetName()) return eUNKNOWN;
    struct Pair {
        const char* name;
        int code;
    };
    static const Pair kByName[] = {
        {"Action", eACTION},           {"Bool", eBOOL}, {"Integer", eINT}, {"Color", eCOLORRGB},
        {"ColorAndAlpha", eCOLORRGBA}, {"Enum", eENUM}};
    for (const Pair& p : kByName) {
        if (std::strcmp(type->GetName(), p.name) == 0) return p.code;
    }
    static const Pair kByBase[] = {
        {"Time", eTIME}, {"Number", eDOUBLE}, {"Vector", eVECTOR3D}, {"Vector4", eVECTOR4D}};
    const KDataType* base = type->GetBaseType();
    if (!base || !base->GetName()) return eUNKNOWN;
    for (const Pair& p : kByBase) {
        if (std::strcmp(base->GetName(), p.name) == 0) return p.code;
    }
    return eUNKNOWN;
}

void KProperty::SetFlag(uint32_t bits, bool on) {
    if (on)
        mAttributes |= bits;
    else
        mAttributes &= ~bits;
}

uint32_t KProperty::SetUserFlag(uint32_t bits, bool on) {
    if (on) {
        mUserFlags |= bits;
        return bits;
    }
    mUserFlags &= ~bits;
    return mUserFlags;
}

bool KProperty::SetMin(double value) {
    if (value == GetMin()) return true;
    Extras().min = value;
    SendStateEvent(nullptr, eRangeChanged, this, nullptr, nullptr, nullptr);
    return true;
}

bool KProperty::SetMax(double value) {
    if (value == GetMax()) return true;
    Extras().max = value;
    SendStateEvent(nullptr, eRangeChanged, this, nullptr, nullptr, nullptr);
    return true;
}

bool KProperty::SetMinMax(double min, double max) {
    if (min == GetMin() && max == GetMax()) return true;
    Extras().min = min;
    mExtras->max = max;
    SendStateEvent(nullptr, eRangeChanged, this, nullptr, nullptr, nullptr);
    return true;
}

KStringList* KProperty::GetEnumList(bool create) {
    const bool shared = mExtras && mExtras->enumLabels;
    if (!create && !shared && !(mExtras && mExtras->enumList)) return nullptr;
    ExtraFields& extras = Extras();
    if (!extras.enumList) {
        extras.enumList = std::make_unique<KStringList>();
        for (const char* const* label = extras.enumLabels; label && *label; ++label)
            extras.enumList->Add(*label);
        extras.enumLabels = nullptr;
    }
    return extras.enumList.get();
}

void KProperty::SetEnumLabels(const char* const* labels) {
    if (!labels || !*labels) return;
    if (mExtras && mExtras->enumList) {
        for (; *labels; ++labels) mExtras->enumList->Add(*labels);
    } else if (mExtras && mExtras->enumLabels) {
        GetEnumList(true);  // a second set of labels follows the first in a list of its own
        SetEnumLabels(labels);
    } else {
        Extras().enumLabels = labels;
    }
}

void KProperty::SetEnumSource(EnumNameFunction function) {
    if (function || mExtras) Extras().enumFunction = function;
    SetFlag(eEnumFunction, function != nullptr);
}

const char* KProperty::GetEnumName(int value) const {
    if (TestFlag(eEnumFunction) && !TestFlag(eUserProperty))
        return mExtras && mExtras->enumFunction ? mExtras->enumFunction(value) : nullptr;
    if (!mExtras || value < 0) return nullptr;
    if (const KStringList* list = mExtras->enumList.get())
        return value < list->GetCount() ? list->GetAt(value) : nullptr;
    if (const char* const* labels = mExtras->enumLabels) {
        for (int i = 0; labels[i]; ++i)
            if (i == value) return labels[i];
    }
    return nullptr;
}

KObject* KProperty::GetOwnerObject() const {
    return KObject::FromPlug(GetParent());
}

bool KProperty::SetString(const char* text) {
    if (mTypeCode != eSTRING || !SameStorage()) return false;
    KString value(text ? text : "");
    SetValue(&value);
    return true;
}

KProperty* KProperty::GetReferencedProperty() {
    if (!IsReference()) return this;
    for (int i = 0; i < GetSrcCount(); ++i) {
        if (KProperty* p = PlugAsProperty(GetSrc(i))) return p;
    }
    return nullptr;
}

void KProperty::GetValueText(KString& text) {
    auto list = [](const double* v, int n) {
        std::string s = "{";
        for (int i = 0; i < n; ++i) {
            if (i) s += ',';
            s += KFormatC("%f", v[i]);
        }
        return s + "}";
    };
    const bool stored = SameStorage();
    switch (mTypeCode) {
        case eINT:
            text = KFormatC("%d", GetInt()).c_str();
            return;
        case eBOOL:
        case eACTION:
            text = GetInt() ? "True" : "False";
            return;
        case eFLOAT:
        case eDOUBLE:
            text = KFormatC("%f", GetDouble()).c_str();
            return;
        case eCHARPTR:
            text = "";
            return;
        case eENUM: {
            const char* name = GetEnumName(GetInt());
            text = name ? name : "";
            return;
        }
        case eTIME: {
            KTime time;
            if (stored) GetValue(&time);
            char buffer[64];
            text = time.GetTimeString(buffer, sizeof buffer, 5, 0, 2);
            return;
        }
        case eSTRING:
            text = "";
            if (stored) GetValue(&text);
            return;
        case eOBJECT: {
            KObject* object = nullptr;
            if (stored) GetValue(&object);
            if (object)
                text = object->GetFullName();
            else
                text = TestFlag(eObjectList) ? "ObjectList!" : "Object!";
            return;
        }
        case eVECTOR4D:
        case eVECTOR3D:
        case eCOLORRGB:
        case eCOLORRGBA: {
            std::array<double, 4> v = {0.0, 0.0, 0.0, 1.0};
            if (stored) GetValue(v.data());
            text = list(v.data(), mTypeCode == eVECTOR3D ? 3 : 4).c_str();
            return;
        }
        default:
            text = "?";
            return;
    }
}

KProperty* KProperty::GetSrcProperty(KPlug* plug, int index) {
    return NthProperty(plug, index, true);
}

KProperty* KProperty::GetDstProperty(KPlug* plug, int index) {
    return NthProperty(plug, index, false);
}

int KProperty::GetDstPropertyCount() {
    if (IsSubPlug()) return 0;
    int count = 0;
    for (int i = 0; i < GetDstCount(); ++i) {
        if (PlugAsProperty(GetDst(i))) ++count;
    }
    return count;
}
