#include "scene/KQovPropertyHandler.h"

#include <memory>
#include <new>

#include "foundation/KStringList.h"
#include "scene/KDataType.h"
#include "scene/KPropertyObjectList.h"
#include "scene/KQovTakeNodeContainer.h"

KQovPropertyHandler::KQovPropertyHandler(KQovObject* owner) : mSceneOwner(owner) {}

KQovPropertyHandler::~KQovPropertyHandler() {
    // Members go first, last row first, each leaving the property list as it goes.
    for (size_t i = mRows.size(); i-- > 0;) {
        if (KQovEmbeddedProperty* member = mRows[i].embedded)
            member->~KQovEmbeddedProperty();
        else if (mRows[i].descriptor->form == KQovPropertyDescriptor::eObjectList)
            mMembers.pop_back();
    }
    std::allocator<KQovEmbeddedProperty> allocator;
    for (const EmbeddedBlock& block : mBlocks) allocator.deallocate(block.items, block.capacity);
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
    mRows.reserve(mRows.size() + size_t(count));
    mMembers.reserve(mMembers.size() + lists);
    EmbeddedBlock block{nullptr, embedded, 0};
    if (embedded > 0) block.items = std::allocator<KQovEmbeddedProperty>().allocate(embedded);
    for (int i = 0; i < count; ++i) CreateRow(rows[i], &block);
    if (block.items) mBlocks.push_back(block);
}

KProperty* KQovPropertyHandler::CreateRow(const KQovPropertyDescriptor& row,
                                          EmbeddedBlock* block) {
    KDataType* dataType = row.dataType ? KDataType::FindByName(row.dataType) : nullptr;
    KProperty* property = nullptr;
    KQovEmbeddedProperty* embedded = nullptr;
    switch (row.form) {
        case KQovPropertyDescriptor::eCreated: {
            const int code = row.typeCode ? row.typeCode : KProperty::TypeCodeFromDataType(dataType);
            property = CreateProperty(row.name, code, dataType, row.animatable, false);
            if (!property) {
                mRows.push_back(Row{&row, KWeakRef{}, nullptr});  // rows keep their indices
                return nullptr;
            }
            KQovSetPropertyNumbers(property, row.defaultValue, 4);
            if (row.defaultText) property->SetString(row.defaultText);
            break;
        }
        case KQovPropertyDescriptor::eObjectList: {
            std::unique_ptr<KPropertyObjectList> list(row.makeObjectList ? row.makeObjectList()
                                                                    : new KPropertyObjectList());
            list->Init(row.name, this);
            list->SetClassFilter(row.objectWord, row.objectClass ? row.objectClass() : -1);
            // Never a sub-plug: a linked object must not count as a source of the set itself.
            list->SetFilter(list->GetFilter(), 0);
            const uint32_t sides = KPlug::eAcceptsSources | KPlug::eAcceptsDestinations |
                                   KPlug::eOneSidedDestination;
            list->SetPlugFlags(sides, false);
            list->SetPlugFlags(row.objectDirection & sides, true);
            property = list.get();
            mMembers.push_back(std::move(list));
            break;
        }
        default: {
            KQovEmbeddedProperty* member =
                new (&block->items[block->used++]) KQovEmbeddedProperty(row.typeCode);
            member->Init(row.name, this);
            member->SetDataType(dataType);
            member->SetNumbers(row.defaultValue, 4);
            if (row.defaultText) member->SetText(row.defaultText);
            embedded = member;
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
    mRows.push_back(Row{&row, property->GetWeakRef(), embedded});
    return property;
}

KProperty* KQovPropertyHandler::GetTableProperty(int row) const {
    if (row < 0 || row >= GetTableRowCount()) return nullptr;
    return KObjectSafeCast<KProperty>(mRows[size_t(row)].property.Resolve());
}

const KQovPropertyDescriptor* KQovPropertyHandler::GetTableRow(int row) const {
    return row >= 0 && row < GetTableRowCount() ? mRows[size_t(row)].descriptor : nullptr;
}

KQovEmbeddedProperty* KQovPropertyHandler::GetEmbedded(int row) const {
    return GetTableProperty(row) ? mRows[size_t(row)].embedded : nullptr;
}

void KQovPropertyHandler::ResetTableDefaults() {
    for (int i = 0; i < GetTableRowCount(); ++i) {
        if (KQovEmbeddedProperty* member = GetEmbedded(i)) {
            member->SetNumbers(mRows[size_t(i)].descriptor->defaultValue, 4);
            const char* text = mRows[size_t(i)].descriptor->defaultText;
            member->SetText(text ? text : "");
        }
    }
}

void KQovPropertyHandler::CollectProperties(std::vector<KProperty*>& out) const {
    for (int i = 0; i < GetPropertyCount(); ++i) out.push_back(GetProperty(i));
}
