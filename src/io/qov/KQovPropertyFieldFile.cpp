#include "io/qov/KQovPropertyFieldFile.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "foundation/KStringList.h"
#include "scene/KDataType.h"
#include "scene/KObject.h"
#include "scene/KProperty.h"
#include "scene/KQovPropertyTable.h"

KQovPropertyFieldFile::KQovPropertyFieldFile() : mOwnMap(20, true), mObjects(&mOwnMap) {}

KQovPropertyFieldFile::~KQovPropertyFieldFile() = default;

KQovPropertyFieldFile* KQovPropertyFieldFile::Create() {
    return new KQovPropertyFieldFile;
}

void KQovPropertyFieldFile::RegisterObject(const char* name, KPlug* object) {
    mObjects->Add(name, object);
}

KPlug* KQovPropertyFieldFile::FindObject(const char* name) const {
    return static_cast<KPlug*>(mObjects->Find(name));
}

bool KQovPropertyFieldFile::UnregisterObject(const char* name) {
    return mObjects->Remove(name);
}

// --- Property blocks ---

namespace {

const char* const kBlockName = "Properties60";
const char* const kRecordName = "Property";

enum class ValueForm { eNone, eInt, eDouble, eTime, eText, eTextList };

// How a type code's value travels; `components` is the number of numbers.
ValueForm FormOf(int typeCode, int& components) {
    components = 1;
    switch (typeCode) {
        case KProperty::eINT:
        case KProperty::eBOOL:
        case KProperty::eENUM:
            return ValueForm::eInt;
        case KProperty::eFLOAT:
        case KProperty::eDOUBLE:
            return ValueForm::eDouble;
        case KProperty::eVECTOR3D:
        case KProperty::eCOLORRGB:
            components = 3;
            return ValueForm::eDouble;
        case KProperty::eVECTOR4D:
        case KProperty::eCOLORRGBA:
            components = 4;
            return ValueForm::eDouble;
        case KProperty::eTIME:
            return ValueForm::eTime;
        case KProperty::eSTRING:
            return ValueForm::eText;
        case KProperty::eSTRINGLIST:
            components = 0;
            return ValueForm::eTextList;
        default:
            // Object lists and references are connections; events and actions hold nothing.
            components = 0;
            return ValueForm::eNone;
    }
}

bool IsNumber(char type) {
    return type == 'I' || type == 'L' || type == 'D' || type == 'F';
}

// The type code a record's type name stands for: a data type by name, else a type-code name.
int TypeCodeOfName(const char* typeName, KDataType*& dataType) {
    dataType = KDataType::FindByName(typeName);
    if (const int code = KProperty::TypeCodeFromDataType(dataType)) return code;
    dataType = nullptr;
    return KProperty::TypeCodeFromName(typeName);
}

// A record's value, read whole before anything is changed.
struct RecordValue {
    double numbers[4] = {0.0, 0.0, 0.0, 1.0};
    KTime time;
    KString text;
    KStringList items;
    double range[2] = {0.0, 0.0};
    bool hasRange = false;
};

void WriteRecord(KQovFieldFile& file, KProperty* property) {
    int components = 0;
    const ValueForm form = FormOf(property->GetTypeCode(), components);
    RecordValue value;
    // Only a value the property can give is written.
    switch (form) {
        case ValueForm::eNone:
            return;
        case ValueForm::eInt:
        case ValueForm::eDouble:
            if (KQovGetPropertyNumbers(property, value.numbers) != components) return;
            break;
        case ValueForm::eTime:
            if (property->GetStorageCode() != KProperty::eTIME) return;
            property->GetValue(&value.time);
            break;
        case ValueForm::eText:
            if (property->GetStorageCode() != KProperty::eSTRING) return;
            property->GetValue(&value.text);
            break;
        case ValueForm::eTextList:
            if (property->GetStorageCode() != KProperty::eSTRINGLIST) return;
            property->GetValue(&value.items);
            break;
    }
    const KDataType* dataType = property->GetDataType();
    const bool user = property->TestFlag(KProperty::eUserProperty);
    std::string flags;
    if (property->IsAnimatable()) flags += 'A';
    if (user) flags += 'U';
    file.FieldWriteBegin(kRecordName);
    file.FieldWriteC(property->GetName());
    file.FieldWriteC(dataType && dataType->GetName() ? dataType->GetName()
                                                     : property->GetTypeName());
    file.FieldWriteC(flags.c_str());
    file.FieldWriteI(static_cast<int32_t>(property->GetUserFlags()));
    switch (form) {
        case ValueForm::eInt:
            file.FieldWriteI(static_cast<int32_t>(value.numbers[0]));
            break;
        case ValueForm::eDouble:
            for (int i = 0; i < components; ++i) file.FieldWriteD(value.numbers[i]);
            break;
        case ValueForm::eTime:
            file.FieldWriteT(value.time);
            break;
        case ValueForm::eText:
            file.FieldWriteC(value.text.Buffer());
            break;
        case ValueForm::eTextList:
            for (int i = 0; i < value.items.GetCount(); ++i) file.FieldWriteC(value.items.GetAt(i));
            break;
        case ValueForm::eNone:
            break;
    }
    // A string list has no range: its items run to the end of the record.
    if (user && form != ValueForm::eTextList) {
        file.FieldWriteD(property->GetMin());
        file.FieldWriteD(property->GetMax());
    }
    file.FieldWriteEnd();
}

// Reads the value of the current record (after its four leading values) for a property of
// `typeCode`; false when the record does not hold such a value.
bool ReadValue(KQovFieldFile& file, int typeCode, bool user, RecordValue& value) {
    int components = 0;
    const ValueForm form = FormOf(typeCode, components);
    if (form == ValueForm::eNone) return false;
    const int ranges = user && form != ValueForm::eTextList ? 2 : 0;
    if (file.FieldReadGetRemain() < components + ranges) return false;
    switch (form) {
        case ValueForm::eInt:
        case ValueForm::eDouble:
            for (int i = 0; i < components; ++i) {
                if (!IsNumber(file.FieldReadGetType())) return false;
                value.numbers[i] = file.FieldReadD();
            }
            break;
        case ValueForm::eTime:
            if (!IsNumber(file.FieldReadGetType())) return false;
            value.time = file.FieldReadT();
            break;
        case ValueForm::eText:
            value.text = file.FieldReadC();
            break;
        case ValueForm::eTextList:
            while (file.FieldReadGetRemain() > 0) value.items.Add(file.FieldReadC());
            break;
        case ValueForm::eNone:
            break;
    }
    if (ranges == 0) return true;
    // The range ends the record, whatever came between.
    while (file.FieldReadGetRemain() > 2) file.FieldReadC();
    for (double& limit : value.range) {
        if (!IsNumber(file.FieldReadGetType())) return false;
        limit = file.FieldReadD();
    }
    value.hasRange = true;
    return true;
}

void SetValue(KProperty* property, const RecordValue& value) {
    int components = 0;
    switch (FormOf(property->GetTypeCode(), components)) {
        case ValueForm::eInt:
        case ValueForm::eDouble:
            KQovSetPropertyNumbers(property, value.numbers, components);
            break;
        case ValueForm::eTime:
            if (property->GetStorageCode() == KProperty::eTIME) property->SetValue(&value.time);
            break;
        case ValueForm::eText:
            if (property->GetStorageCode() == KProperty::eSTRING) property->SetValue(&value.text);
            break;
        case ValueForm::eTextList:
            if (property->GetStorageCode() == KProperty::eSTRINGLIST)
                property->SetValue(&value.items);
            break;
        case ValueForm::eNone:
            break;
    }
}

void ReadRecord(KQovFieldFile& file, std::vector<KProperty*>& properties, KObject* owner) {
    if (file.FieldReadGetCount() < 4) return;
    const std::string name = file.FieldReadC();
    const std::string typeName = file.FieldReadC();
    const std::string flags = file.FieldReadC();
    if (name.empty() || !IsNumber(file.FieldReadGetType())) return;
    const uint32_t userFlags = static_cast<uint32_t>(file.FieldReadI());
    const bool user = flags.find('U') != std::string::npos;
    auto found = std::find_if(properties.begin(), properties.end(), [&](KProperty* p) {
        return p && std::strcmp(p->GetName(), name.c_str()) == 0;
    });
    KProperty* property = found != properties.end() ? *found : nullptr;
    if (!property && (!user || !owner)) return;
    KDataType* dataType = nullptr;
    const int typeCode =
        property ? property->GetTypeCode() : TypeCodeOfName(typeName.c_str(), dataType);
    RecordValue value;
    if (!ReadValue(file, typeCode, user, value)) return;
    if (!property) {
        const bool animatable = flags.find('A') != std::string::npos;
        property = owner->CreateProperty(name.c_str(), typeCode, dataType, animatable, true);
        if (!property) return;
        // Built-in properties keep the flags their owner gives them; created ones take the file's.
        property->SetUserFlag(userFlags, true);
        properties.push_back(property);
    }
    SetValue(property, value);
    if (value.hasRange && property->TestFlag(KProperty::eUserProperty))
        property->SetMinMax(value.range[0], value.range[1]);
}

}  // namespace

bool KQovPropertyFieldFile::FieldWritePropertyBlock(KObject* owner) {
    if (!owner) return false;
    std::vector<KProperty*> properties;
    for (int i = 0; i < owner->GetPropertyCount(); ++i) properties.push_back(owner->GetProperty(i));
    return FieldWritePropertyBlock(properties);
}

bool KQovPropertyFieldFile::FieldWritePropertyBlock(const std::vector<KProperty*>& properties) {
    FieldWriteBegin(kBlockName);
    FieldWriteBlockBegin();
    for (KProperty* property : properties)
        if (property) WriteRecord(*this, property);
    FieldWriteBlockEnd();
    FieldWriteEnd();
    return !HasError();
}

bool KQovPropertyFieldFile::FieldReadPropertyBlock(std::vector<KProperty*>& properties,
                                                   KObject* owner) {
    if (!FieldReadBegin(kBlockName)) return true;
    const bool block = FieldReadBlockBegin();
    if (block) {
        while (FieldReadBegin(kRecordName)) {
            ReadRecord(*this, properties, owner);
            FieldReadEnd();
        }
        FieldReadBlockEnd();
    }
    FieldReadEnd();
    return block;
}
