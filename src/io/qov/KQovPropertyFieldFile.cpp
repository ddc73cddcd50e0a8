#include "io/qov/KQovPropertyFieldFile.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>

#include "foundation/KStringList.h"
#include "foundation/KThreadScratch.h"
#include "scene/KDataType.h"
#include "scene/KObject.h"
#include "scene/KProperty.h"
#include "scene/KQovPropertyHandler.h"
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
        case KProperty::eCHARPTR:
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

// A char-pointer property (a video's "Path") keeps its text beside the value buffers.
KQovEmbeddedProperty* CharPointer(KProperty* property) {
    return property->GetTypeCode() == KProperty::eCHARPTR
               ? dynamic_cast<KQovEmbeddedProperty*>(property)
               : nullptr;
}

bool GetText(KProperty* property, KString& text) {
    if (property->GetStorageCode() == KProperty::eSTRING) {
        property->GetValue(&text);
        return true;
    }
    KQovEmbeddedProperty* pointer = CharPointer(property);
    if (pointer) text = pointer->GetText();
    return pointer != nullptr;
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

// The leading fields of a record: name, type name, flags and user flags.
void WriteRecordHead(KQovFieldFile& file, const char* name, const char* typeName, bool animatable,
                     bool user, uint32_t userFlags) {
    char flags[3] = {0, 0, 0};
    char* flag = flags;
    if (animatable) *flag++ = 'A';
    if (user) *flag = 'U';
    file.FieldWriteBegin(kRecordName);
    file.FieldWriteC(name);
    file.FieldWriteC(typeName);
    file.FieldWriteC(flags);
    file.FieldWriteI(static_cast<int32_t>(userFlags));
}

void WriteNumbers(KQovFieldFile& file, ValueForm form, int components, const double* numbers) {
    if (form == ValueForm::eInt) {
        file.FieldWriteI(static_cast<int32_t>(numbers[0]));
        return;
    }
    for (int i = 0; i < components; ++i) file.FieldWriteD(numbers[i]);
}

void WriteRecord(KQovFieldFile& file, KProperty* property, const char* name = nullptr) {
    int components = 0;
    const ValueForm form = FormOf(property->GetTypeCode(), components);
    double numbers[4] = {0.0, 0.0, 0.0, 1.0};
    KTime time;
    KString text;
    KStringList items;
    // Only a value the property can give is written.
    switch (form) {
        case ValueForm::eNone:
            return;
        case ValueForm::eInt:
        case ValueForm::eDouble:
            if (KQovGetPropertyNumbers(property, numbers) != components) return;
            break;
        case ValueForm::eTime:
            if (property->GetStorageCode() != KProperty::eTIME) return;
            property->GetValue(&time);
            break;
        case ValueForm::eText:
            if (!GetText(property, text)) return;
            break;
        case ValueForm::eTextList:
            if (property->GetStorageCode() != KProperty::eSTRINGLIST) return;
            property->GetValue(&items);
            break;
    }
    const KDataType* dataType = property->GetDataType();
    const bool user = property->TestFlag(KProperty::eUserProperty);
    WriteRecordHead(file, name ? name : property->GetName(),
                    dataType && dataType->GetName() ? dataType->GetName() : property->GetTypeName(),
                    property->IsAnimatable(), user, property->GetUserFlags());
    switch (form) {
        case ValueForm::eInt:
        case ValueForm::eDouble:
            WriteNumbers(file, form, components, numbers);
            break;
        case ValueForm::eTime:
            file.FieldWriteT(time);
            break;
        case ValueForm::eText:
            file.FieldWriteC(text.Buffer());
            break;
        case ValueForm::eTextList:
            for (int i = 0; i < items.GetCount(); ++i) file.FieldWriteC(items.GetAt(i));
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
            if (property->GetStorageCode() == KProperty::eSTRING)
                property->SetValue(&value.text);
            else if (KQovEmbeddedProperty* pointer = CharPointer(property))
                pointer->SetText(value.text.Buffer());
            break;
        case ValueForm::eTextList:
            if (property->GetStorageCode() == KProperty::eSTRINGLIST)
                property->SetValue(&value.items);
            break;
        case ValueForm::eNone:
            break;
    }
}

uint32_t NameHash(const char* name) {
    uint32_t hash = 2166136261u;
    for (; *name; ++name) hash = (hash ^ static_cast<uint8_t>(*name)) * 16777619u;
    return hash;
}

}  // namespace

// The first property of each name in the list a block is read into, so that a record finds
// its property without a pass over the list.
class KQovPropertyFieldFile::NameIndex {
public:
    explicit NameIndex(std::vector<int32_t>& slots) : mSlots(slots) {}

    void Build(const std::vector<KProperty*>& properties) {
        mCount = 0;
        size_t size = 16;
        while (size < properties.size() * 2 + 2) size *= 2;
        mSlots.assign(size, -1);
        for (size_t i = 0; i < properties.size(); ++i) Add(properties, i);
    }
    // Lists properties[i] unless a property of its name comes before it.
    void Add(const std::vector<KProperty*>& properties, size_t i) {
        const KProperty* property = properties[i];
        if (!property) return;
        if ((mCount + 1) * 2 > mSlots.size()) {
            // Grown as Build sizes it, the list as it is now.
            mSlots.assign(mSlots.size() * 2, -1);
            mCount = 0;
            for (size_t j = 0; j < i; ++j) Add(properties, j);
        }
        const size_t at = Slot(properties, property->GetName());
        if (mSlots[at] >= 0) return;
        mSlots[at] = static_cast<int32_t>(i);
        ++mCount;
    }
    KProperty* Find(const std::vector<KProperty*>& properties, const char* name) const {
        const int32_t index = mSlots[Slot(properties, name)];
        return index >= 0 ? properties[static_cast<size_t>(index)] : nullptr;
    }

private:
    // The slot holding `name`, or the empty one where it would go.
    size_t Slot(const std::vector<KProperty*>& properties, const char* name) const {
        const size_t mask = mSlots.size() - 1;
        for (size_t at = NameHash(name) & mask;; at = (at + 1) & mask) {
            const int32_t index = mSlots[at];
            if (index < 0 ||
                std::strcmp(properties[static_cast<size_t>(index)]->GetName(), name) == 0)
                return at;
        }
    }

    std::vector<int32_t>& mSlots;
    size_t mCount = 0;
};

namespace {

// The four values every record starts with.
struct RecordHead {
    const char* name;
    const char* typeName;
    const char* flags;
    uint32_t userFlags;
    bool user;
};

bool ReadRecordHead(KQovFieldFile& file, RecordHead& head) {
    if (file.FieldReadGetCount() < 4) return false;
    // The texts stay with the parsed file while it is read.
    head.name = file.FieldReadC();
    head.typeName = file.FieldReadC();
    head.flags = file.FieldReadC();
    if (!head.name[0] || !IsNumber(file.FieldReadGetType())) return false;
    head.userFlags = static_cast<uint32_t>(file.FieldReadI());
    head.user = std::strchr(head.flags, 'U') != nullptr;
    return true;
}

void ApplyValue(KProperty* property, const RecordValue& value) {
    SetValue(property, value);
    if (value.hasRange && property->TestFlag(KProperty::eUserProperty))
        property->SetMinMax(value.range[0], value.range[1]);
}

void ReadRecordRest(KQovFieldFile& file, const RecordHead& head,
                    std::vector<KProperty*>& properties, KObject* owner,
                    KQovPropertyFieldFile::NameIndex& index) {
    KProperty* property = index.Find(properties, head.name);
    if (!property && (!head.user || !owner)) return;
    KDataType* dataType = nullptr;
    const int typeCode =
        property ? property->GetTypeCode() : TypeCodeOfName(head.typeName, dataType);
    RecordValue value;
    if (!ReadValue(file, typeCode, head.user, value)) return;
    if (!property) {
        const bool animatable = std::strchr(head.flags, 'A') != nullptr;
        property = owner->CreateProperty(head.name, typeCode, dataType, animatable, true);
        if (!property) return;
        // Built-in properties keep the flags their owner gives them; created ones take the file's.
        property->SetUserFlag(head.userFlags, true);
        properties.push_back(property);
        index.Add(properties, properties.size() - 1);
    }
    ApplyValue(property, value);
}

// The row of a set's table named `name`, -1 for none; found through a map made once per table.
int RowNamed(const KQovPropertyHandler& set, const char* name) {
    const int count = set.GetTableRowCount();
    const auto& rows = KQovPerTable<std::unordered_map<std::string, int>>(
        set.GetTableRow(0), count, [&set, count] {
            std::unordered_map<std::string, int> made;
            for (int i = count; i-- > 0;) made[set.GetTableRow(i)->name] = i;
            return made;
        });
    const auto it = rows.find(name);
    return it == rows.end() ? -1 : it->second;
}

enum class Waiting { eDone, eBuild, eBuildThenSet };

// A record of a set whose rows wait: a number row takes the value among those the rows wait
// with; a created row whose value it leaves as it is needs nothing. Otherwise the rows are
// built, before the value is read (eBuild) or after (eBuildThenSet, the value in `value`).
Waiting ReadWaitingRecord(KQovFieldFile& file, const RecordHead& head, KQovPropertyHandler& set,
                          const std::vector<KProperty*>& others, int& row, RecordValue& value) {
    row = RowNamed(set, head.name);
    if (row < 0) {
        // One of the properties listed after the rows takes it as it would in the whole list.
        const auto other = std::find_if(others.begin(), others.end(), [&head](KProperty* p) {
            return p && std::strcmp(p->GetName(), head.name) == 0;
        });
        if (other == others.end()) return Waiting::eBuild;
        if (ReadValue(file, (*other)->GetTypeCode(), head.user, value)) ApplyValue(*other, value);
        return Waiting::eDone;
    }
    const int typeCode = set.GetTableRowTypeCode(row);
    int components = 0;
    const ValueForm form = FormOf(typeCode, components);
    if (form == ValueForm::eNone) return Waiting::eDone;  // a built row takes nothing either
    if (form != ValueForm::eInt && form != ValueForm::eDouble) return Waiting::eBuild;
    if (!ReadValue(file, typeCode, head.user, value)) return Waiting::eDone;
    if (set.GetEmbeddedNumbers(row)) {
        set.SetWaitingRowNumbers(row, value.numbers, components);
        return Waiting::eDone;
    }
    double now[4] = {0.0, 0.0, 0.0, 1.0};
    const int n = set.GetWaitingRowNumbers(row, now);
    double merged[4] = {now[0], now[1], now[2], now[3]};
    for (int i = 0; i < n && i < components; ++i) merged[i] = value.numbers[i];
    double after[4] = {0.0, 0.0, 0.0, 1.0};
    if (n > 0 && KQovNumbersAsStored(typeCode, merged, after) == n &&
        std::equal(now, now + n, after))
        return Waiting::eDone;
    return Waiting::eBuildThenSet;
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

bool KQovPropertyFieldFile::FieldWritePropertyBlock(KProperty* property, const char* name) {
    FieldWriteBegin(kBlockName);
    FieldWriteBlockBegin();
    if (property) WriteRecord(*this, property, name);
    FieldWriteBlockEnd();
    FieldWriteEnd();
    return !HasError();
}

bool KQovPropertyFieldFile::FieldWriteWaitingPropertyBlock(const KQovPropertyHandler& set,
                                                           const std::vector<KProperty*>& more) {
    if (!set.IsTableWaiting()) return false;
    // What the built rows would give WriteRecord apart from their values, found once per
    // table.
    struct Row {
        const KQovPropertyDescriptor* descriptor;
        const char* typeName;
        ValueForm form;
        int components;
    };
    struct Rows {
        bool numbers = true;  // false: a row holds other than numbers
        std::vector<Row> rows;
        std::vector<int> at;  // the row of each
        // The record of each up to its value; the record made for an animatable row marks it
        // (0x8) once it is built.
        std::vector<KQovRecordImage> heads;
    };
    const KQovPropertyDescriptor* first = set.GetTableRow(0);
    const int count = set.GetTableRowCount();
    const Rows& last = KQovPerTable<Rows>(first, count, [&set, count] {
        Rows made;
        for (int i = 0; i < count; ++i) {
            const KQovPropertyDescriptor* descriptor = set.GetTableRow(i);
            if (descriptor->form == KQovPropertyDescriptor::eObjectList) continue;  // connections
            const int typeCode = set.GetTableRowTypeCode(i);
            Row row{descriptor, nullptr, ValueForm::eNone, 0};
            row.form = FormOf(typeCode, row.components);
            if (row.form == ValueForm::eNone) continue;
            if (row.form != ValueForm::eInt && row.form != ValueForm::eDouble) made.numbers = false;
            const KDataType* dataType =
                descriptor->dataType ? KDataType::FindByName(descriptor->dataType) : nullptr;
            if (!dataType) dataType = KProperty::GetStandardDataType(typeCode);
            row.typeName = dataType && dataType->GetName() ? dataType->GetName()
                                                           : KProperty::GetTypeName(typeCode);
            made.rows.push_back(row);
            made.at.push_back(i);
            made.heads.push_back(KQovRecordImage(kRecordName)
                                     .C(descriptor->name)
                                     .C(row.typeName)
                                     .C(descriptor->animatable ? "A" : "")
                                     .I(static_cast<int32_t>(descriptor->userFlags |
                                                             (descriptor->animatable ? 0x8u : 0u))));
        }
        return made;
    });
    if (!last.numbers) return false;
    // The rows' records follow from the table and the numbers the set keeps: the same for most
    // nodes, copied from the last writing (binary files).
    struct Copy {
        const KQovPropertyDescriptor* first = nullptr;
        int count = 0;
        KQovPropertyHandler::WaitingValues values;
        bool valid = false;
        int64_t origin = 0;
        std::vector<uint8_t> bytes;
    };
    Copy& copy = KThreadScratch<Copy>();
    const KQovPropertyHandler::WaitingValues& values = set.GetWaitingValues();
    const auto sameValues = [&values, &copy] {
        return std::equal(copy.values.begin(), copy.values.end(), values.begin(), values.end(),
                          [](const KQovPropertyHandler::StoredNumbers& a,
                             const KQovPropertyHandler::StoredNumbers& b) {
                              return a.row == b.row &&
                                     std::memcmp(a.numbers, b.numbers, sizeof a.numbers) == 0;
                          });
    };
    FieldWriteBegin(kBlockName);
    FieldWriteBlockBegin();
    if (copy.valid && copy.first == first && copy.count == count && sameValues() &&
        FieldWriteRecords(copy.bytes.data(), copy.bytes.size(), copy.origin)) {
        for (KProperty* property : more)
            if (property) WriteRecord(*this, property);
        FieldWriteBlockEnd();
        FieldWriteEnd();
        return !HasError();
    }
    const int64_t mark = FieldWriteMark();
    for (size_t r = 0; r < last.rows.size(); ++r) {
        const Row& row = last.rows[r];
        double numbers[4] = {0.0, 0.0, 0.0, 1.0};
        if (set.GetWaitingRowNumbers(last.at[r], numbers) != row.components) continue;
        uint8_t encoded[4 * 9];
        uint8_t* at = encoded;
        if (row.form == ValueForm::eInt) {
            const int32_t value = static_cast<int32_t>(numbers[0]);
            at = KQovPutEncoded(at, 'I', &value, 4);
        } else {
            for (int i = 0; i < row.components; ++i) at = KQovPutEncoded(at, 'D', &numbers[i], 8);
        }
        FieldWriteRecord(last.heads[r], encoded, size_t(at - encoded),
                         row.form == ValueForm::eInt ? 1 : size_t(row.components));
    }
    size_t size = 0;
    const uint8_t* bytes = FieldWriteCopySince(mark, size);
    copy.valid = bytes != nullptr;
    copy.first = first;
    copy.count = count;
    copy.values = values;
    copy.origin = mark;
    copy.bytes.assign(bytes, bytes + size);
    for (KProperty* property : more)
        if (property) WriteRecord(*this, property);
    FieldWriteBlockEnd();
    FieldWriteEnd();
    return !HasError();
}

bool KQovPropertyFieldFile::FieldReadPropertyBlock(std::vector<KProperty*>& properties,
                                                   KObject* owner) {
    // The caller's list is the one read into, whatever the owner's state.
    return ReadPropertyBlockInto(
        [&properties](std::vector<KProperty*>*& out) { out = &properties; }, owner, nullptr);
}

bool KQovPropertyFieldFile::FieldReadPropertyBlock(
    const std::function<void(std::vector<KProperty*>&)>& collect, KObject* owner,
    const std::vector<KProperty*>& others) {
    std::vector<KProperty*> properties;
    return ReadPropertyBlockInto(
        [&](std::vector<KProperty*>*& out) {
            collect(properties);
            out = &properties;
        },
        owner, &others);
}

bool KQovPropertyFieldFile::ReadPropertyBlockInto(
    const std::function<void(std::vector<KProperty*>*&)>& find, KObject* owner,
    const std::vector<KProperty*>* others) {
    if (!FieldReadBegin(kBlockName)) return true;
    const bool block = FieldReadBlockBegin();
    if (block) {
        // A set whose rows wait keeps waiting while its records only set numbers.
        KQovPropertyHandler* set = others ? dynamic_cast<KQovPropertyHandler*>(owner) : nullptr;
        if (set && !set->IsTableWaiting()) set = nullptr;
        std::vector<KProperty*>* properties = nullptr;
        NameIndex index(mNameSlots);
        auto build = [&] {
            if (properties) return;
            find(properties);
            index.Build(*properties);
        };
        if (!set) build();
        while (FieldReadBegin(kRecordName)) {
            RecordHead head;
            std::string turn;
            if (ReadRecordHead(*this, head)) {
                if (mShapeTurns && std::strcmp(head.typeName, "Shape") == 0) {
                    const auto at = mShapeTurns->find(head.name);
                    if (at != mShapeTurns->end() && !at->second.empty()) {
                        turn = std::move(at->second.front());
                        at->second.erase(at->second.begin());
                        head.name = turn.c_str();
                    }
                }
                int row = -1;
                RecordValue value;
                const Waiting waiting =
                    set && !properties ? ReadWaitingRecord(*this, head, *set, *others, row, value)
                                       : Waiting::eBuild;
                if (waiting == Waiting::eBuild) {
                    build();
                    ReadRecordRest(*this, head, *properties, owner, index);
                } else if (waiting == Waiting::eBuildThenSet) {
                    build();
                    if (KProperty* property = index.Find(*properties, head.name))
                        ApplyValue(property, value);
                }
            }
            FieldReadEnd();
        }
        FieldReadBlockEnd();
    }
    FieldReadEnd();
    return block;
}
