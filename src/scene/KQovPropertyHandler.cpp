#include "scene/KQovPropertyHandler.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

#include "foundation/KStringList.h"
#include "scene/KDataType.h"
#include "scene/KPropertyObjectList.h"
#include "scene/KQovObject.h"
#include "scene/KQovTakeNodeContainer.h"

namespace {
bool gDeferTables = true;
}  // namespace

KQovPropertyHandler::KQovPropertyHandler(KQovObject* owner) : mSceneOwner(owner) {}

void KQovPropertyHandler::SetDeferTables(bool on) {
    gDeferTables = on;
}

KQovPropertyHandler::~KQovPropertyHandler() {
    // Members go first, last row first, each leaving the property list as it goes; a row gone
    // is no longer counted, so that nothing finds it while the others go. Rows without a slot
    // were never made (a constructor that ran out of memory stops within its last table).
    for (size_t t = mTables.size(); t-- > 0;) {
        const RowTable& table = mTables[t];
        const size_t made = std::min(size_t(table.count), mSlots.size() - size_t(table.firstRow));
        for (size_t i = made; i-- > 0;) {
            const KQovPropertyDescriptor& row = table.rows[i];
            const size_t slot = mSlots.back();
            mSlots.pop_back();
            if (row.form == KQovPropertyDescriptor::eObjectList)
                mMembers.pop_back();
            else if (row.form != KQovPropertyDescriptor::eCreated)
                table.items[slot].~KQovEmbeddedProperty();
        }
    }
    std::allocator<KQovEmbeddedProperty> allocator;
    for (const RowTable& table : mTables)
        if (table.items) allocator.deallocate(table.items, table.capacity);
}

void KQovPropertyHandler::UserPropertyChanged(KQovUserProperty* userProperty) {
    if (auto* container = dynamic_cast<KQovTakeNodeContainer*>(mSceneOwner))
        container->SetPropertyChannelDefault(userProperty);
}

KProperty* KQovPropertyHandler::CreateProperty(const char* name, int typeCode,
                                               KDataType* dataType, bool animatable,
                                               bool isUserProperty, KProperty* referenced) {
    KProperty* p =
        KObject::CreateProperty(name, typeCode, dataType, false, isUserProperty, referenced);
    if (p && animatable) p->SetFlag(KProperty::eAnimatable, true);
    return p;
}

void KQovPropertyHandler::CreateTableProperties(const KQovPropertyDescriptor* rows, int count) {
    if (!rows || count <= 0) return;
    size_t embedded = 0, lists = 0;
    for (int i = 0; i < count; ++i) {
        if (rows[i].form == KQovPropertyDescriptor::eObjectList)
            ++lists;
        else if (rows[i].form != KQovPropertyDescriptor::eCreated)
            ++embedded;
    }
    const size_t others = size_t(count) - embedded;
    mSlots.reserve(mSlots.size() + size_t(count));
    mRefs.reserve(mRefs.size() + others);
    mMembers.reserve(mMembers.size() + lists);
    ReserveProperties(size_t(count));
    mTables.reserve(mTables.size() + 1);  // the push below cannot fail then
    RowTable table{rows, count, GetTableRowCount(), nullptr, embedded, 0};
    if (embedded > 0) table.items = std::allocator<KQovEmbeddedProperty>().allocate(embedded);
    // Listed before the rows are made, so that the destructor finds whatever was built.
    mTables.push_back(table);
    for (int i = 0; i < count; ++i) CreateRow(rows[i], mTables.back());
}

void KQovPropertyHandler::DeferTableProperties(const KQovPropertyDescriptor* rows, int count) {
    if (!rows || count <= 0) return;
    // Only a set that made nothing yet can wait: its rows must come first in the list.
    if (!gDeferTables || !mTables.empty() || IsTableDeferred() || ArePropertiesDeferred() ||
        GetPropertyCount() != 0) {
        CreateTableProperties(rows, count);
        return;
    }
    mDeferredRows = rows;
    mDeferredCount = count;
    DeferProperties();
}

void KQovPropertyHandler::MakeDeferredProperties() {
    ClearPropertiesDeferred();
    const KQovPropertyDescriptor* rows = std::exchange(mDeferredRows, nullptr);
    CreateTableProperties(rows, std::exchange(mDeferredCount, 0));
    for (const StoredNumbers& stored : std::exchange(mStoredNumbers, {}))
        if (KQovEmbeddedProperty* member = GetEmbedded(stored.row))
            member->SetNumbers(stored.numbers, 4);
    // The owner's records for the rows, deferred with them.
    if (mSceneOwner) mSceneOwner->MakeDeferredRecords();
}

void KQovPropertyHandler::DropDeferredProperties() {
    // Nothing was built: the set keeps answering the value calls, and builds nothing more.
    ClearPropertiesDeferred();
}

bool KQovPropertyHandler::IsEmbeddedForm(int row) const {
    const KQovPropertyDescriptor* descriptor = GetTableRow(row);
    return descriptor && descriptor->form != KQovPropertyDescriptor::eCreated &&
           descriptor->form != KQovPropertyDescriptor::eObjectList;
}

const double* KQovPropertyHandler::GetEmbeddedNumbers(int row) const {
    if (!IsTableDeferred()) {
        const KQovEmbeddedProperty* member = GetEmbedded(row);
        return member ? member->GetNumbers() : nullptr;
    }
    if (!IsEmbeddedForm(row)) return nullptr;
    for (const StoredNumbers& stored : mStoredNumbers)
        if (stored.row == row) return stored.numbers;
    return mDeferredRows[row].defaultValue;
}

int KQovPropertyHandler::GetTableRowTypeCode(int row) const {
    const KQovPropertyDescriptor* descriptor = GetTableRow(row);
    if (!descriptor) return -1;
    if (descriptor->form != KQovPropertyDescriptor::eCreated || descriptor->typeCode)
        return descriptor->typeCode;
    // A created row without one takes its data type's, found once per table.
    const RowTable* table = IsTableDeferred() ? nullptr : TableOf(row);
    const KQovPropertyDescriptor* first = table ? table->rows : mDeferredRows;
    const int count = table ? table->count : mDeferredCount;
    const int index = table ? row - table->firstRow : row;
    const std::vector<int>& codes = KQovPerTable<std::vector<int>>(first, count, [&] {
        std::vector<int> made(size_t(count), 0);
        for (int i = 0; i < count; ++i) {
            const KQovPropertyDescriptor& d = first[i];
            made[size_t(i)] =
                d.form == KQovPropertyDescriptor::eCreated && !d.typeCode
                    ? KProperty::TypeCodeFromDataType(d.dataType ? KDataType::FindByName(d.dataType)
                                                                 : nullptr)
                    : d.typeCode;
        }
        return made;
    });
    return codes[size_t(index)];
}

int KQovPropertyHandler::GetWaitingRowNumbers(int row, double* out) const {
    const KQovPropertyDescriptor* descriptor = IsTableWaiting() ? GetTableRow(row) : nullptr;
    if (!descriptor || !out || descriptor->form == KQovPropertyDescriptor::eObjectList) return 0;
    if (descriptor->form == KQovPropertyDescriptor::eCreated)
        // Made with its type code (or its data type's), and given the row's default.
        return KQovNumbersAsStored(GetTableRowTypeCode(row), descriptor->defaultValue, out);
    // An embedded row reads its numbers as its stored kind gives them.
    return KQovNumbersAsStored(descriptor->typeCode, GetEmbeddedNumbers(row), out);
}

void KQovPropertyHandler::SetWaitingRowNumbers(int row, const double* values, int count) {
    const double* raw = GetEmbeddedNumbers(row);
    const KQovPropertyDescriptor* descriptor = GetTableRow(row);
    if (!raw || !values || !descriptor) return;
    // Read as the stored kind gives them, the first `count` replaced, written back through the
    // kind; the numbers past the kind's stay.
    double now[4] = {0.0, 0.0, 0.0, 1.0};
    const int n = KQovNumbersAsStored(descriptor->typeCode, raw, now);
    if (n == 0) return;
    for (int i = 0; i < n && i < count; ++i) now[i] = values[i];
    double stored[4] = {raw[0], raw[1], raw[2], raw[3]};
    KQovNumbersAsStored(descriptor->typeCode, now, stored);
    SetEmbeddedNumbers(row, stored, 4);
}

void KQovPropertyHandler::SetWaitingValues(const WaitingValues& values) {
    if (IsTableDeferred()) mStoredNumbers = values;
}

void KQovPropertyHandler::SetEmbeddedNumbers(int row, const double* values, int count) {
    if (!IsTableDeferred()) {
        if (KQovEmbeddedProperty* member = GetEmbedded(row)) member->SetNumbers(values, count);
        return;
    }
    if (!values || !IsEmbeddedForm(row)) return;
    // As KQovEmbeddedProperty::SetNumbers: the first `count` numbers (at most 4) change. Copied
    // first: they may lie among the kept ones, which may move.
    const int n = std::max(std::min(count, 4), 0);
    double given[4] = {0.0, 0.0, 0.0, 0.0};
    std::copy_n(values, n, given);
    values = given;
    const double* current = GetEmbeddedNumbers(row);
    if (std::equal(values, values + n, current)) return;
    auto it = std::find_if(mStoredNumbers.begin(), mStoredNumbers.end(),
                           [row](const StoredNumbers& s) { return s.row == row; });
    if (it == mStoredNumbers.end()) {
        StoredNumbers stored{row, {}};
        std::copy_n(current, 4, stored.numbers);
        mStoredNumbers.push_back(stored);
        it = mStoredNumbers.end() - 1;
    }
    std::copy_n(values, n, it->numbers);
}

KProperty* KQovPropertyHandler::CreateRow(const KQovPropertyDescriptor& row, RowTable& table) {
    KDataType* dataType = row.dataType ? KDataType::FindByName(row.dataType) : nullptr;
    KProperty* property = nullptr;
    // Each row has its slot (which the reserves made room for) as soon as its property exists,
    // so that the destructor takes apart what a failure after that leaves.
    switch (row.form) {
        case KQovPropertyDescriptor::eCreated: {
            const int code = row.typeCode ? row.typeCode : KProperty::TypeCodeFromDataType(dataType);
            property = CreateProperty(row.name, code, dataType, row.animatable, false);
            // Rows keep their indices.
            mSlots.push_back(uint16_t(mRefs.size()));
            mRefs.push_back(property ? property->GetWeakRef() : KWeakRef{});
            if (!property) return nullptr;
            KQovSetPropertyNumbers(property, row.defaultValue, 4);
            if (row.defaultText) property->SetString(row.defaultText);
            break;
        }
        case KQovPropertyDescriptor::eObjectList: {
            std::unique_ptr<KPropertyObjectList> list(row.makeObjectList ? row.makeObjectList()
                                                                    : new KPropertyObjectList());
            property = list.get();
            mMembers.push_back(std::move(list));
            mSlots.push_back(uint16_t(mRefs.size()));
            mRefs.push_back(property->GetWeakRef());
            auto* members = static_cast<KPropertyObjectList*>(property);
            members->Init(row.name, this);
            members->SetClassFilter(row.objectWord, row.objectClass ? row.objectClass() : -1);
            // Never a sub-plug: a linked object must not count as a source of the set itself.
            members->SetFilter(members->GetFilter(), 0);
            const uint32_t sides = KPlug::eAcceptsSources | KPlug::eAcceptsDestinations |
                                   KPlug::eOneSidedDestination;
            members->SetPlugFlags(sides, false);
            members->SetPlugFlags(row.objectDirection & sides, true);
            break;
        }
        default: {
            KQovEmbeddedProperty* member =
                new (&table.items[table.used]) KQovEmbeddedProperty(row.typeCode);
            mSlots.push_back(uint16_t(table.used++));
            member->Init(row.name, this);
            member->SetDataType(dataType);
            member->SetNumbers(row.defaultValue, 4);
            if (row.defaultText) member->SetText(row.defaultText);
            property = member;
            break;
        }
    }
    if (row.form != KQovPropertyDescriptor::eCreated) {
        if (row.animatable) property->SetFlag(KProperty::eAnimatable, true);
        AddProperty(property);
    }
    if (row.userFlags) property->SetUserFlag(row.userFlags, true);
    if (row.enumSource) property->SetEnumSource(row.enumSource);
    if (row.enumLabels) property->SetEnumLabels(row.enumLabels);
    return property;
}

const KQovPropertyHandler::RowTable* KQovPropertyHandler::TableOf(int row) const {
    if (row < 0 || row >= GetTableRowCount()) return nullptr;
    for (const RowTable& table : mTables)
        if (row < table.firstRow + table.count) return &table;
    return nullptr;
}

bool KQovPropertyHandler::IsEmbeddedRow(int row) const {
    const RowTable* table = TableOf(row);
    if (!table) return false;
    const uint8_t form = table->rows[row - table->firstRow].form;
    return form != KQovPropertyDescriptor::eCreated && form != KQovPropertyDescriptor::eObjectList;
}

KProperty* KQovPropertyHandler::GetTableProperty(int row) const {
    if (ArePropertiesDeferred()) GetPropertyCount();  // builds the rows
    const RowTable* table = TableOf(row);
    if (!table) return nullptr;
    const size_t slot = mSlots[size_t(row)];
    // An embedded row lasts as long as the set.
    if (IsEmbeddedRow(row)) return &table->items[slot];
    return KObjectSafeCast<KProperty>(mRefs[slot].Resolve());
}

const KQovPropertyDescriptor* KQovPropertyHandler::GetTableRow(int row) const {
    if (IsTableDeferred()) return row >= 0 && row < mDeferredCount ? &mDeferredRows[row] : nullptr;
    const RowTable* table = TableOf(row);
    return table ? &table->rows[row - table->firstRow] : nullptr;
}

KQovEmbeddedProperty* KQovPropertyHandler::GetEmbedded(int row) const {
    if (ArePropertiesDeferred()) GetPropertyCount();  // builds the rows
    return IsEmbeddedRow(row) ? &TableOf(row)->items[mSlots[size_t(row)]] : nullptr;
}

void KQovPropertyHandler::ResetTableDefaults() {
    if (IsTableDeferred()) {
        mStoredNumbers.clear();
        return;
    }
    for (int i = 0; i < GetTableRowCount(); ++i) {
        if (KQovEmbeddedProperty* member = GetEmbedded(i)) {
            const KQovPropertyDescriptor* row = GetTableRow(i);
            member->SetNumbers(row->defaultValue, 4);
            const char* text = row->defaultText;
            member->SetText(text ? text : "");
        }
    }
}

void KQovPropertyHandler::CollectProperties(std::vector<KProperty*>& out) const {
    out.reserve(out.size() + size_t(GetPropertyCount()));
    for (int i = 0; i < GetPropertyCount(); ++i) out.push_back(GetProperty(i));
}
