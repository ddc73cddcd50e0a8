#pragma once
// The base of every property set of a scene object: a KObject that knows the
// scene object owning it, hands user-property changes to that object's
// animation, and builds its properties from a descriptor table.

#include <memory>
#include <vector>

#include "scene/KObject.h"
#include "scene/KPlugHandlePool.h"
#include "scene/KQovPropertyTable.h"
#include "scene/KQovUserProperty.h"

class KQovObject;

class KQovPropertyHandler : public KObject, public KQovUserPropertyOwner {
    KQOV_CLASS(KQovPropertyHandler)
public:
    explicit KQovPropertyHandler(KQovObject* owner);
    ~KQovPropertyHandler() override;

    // The scene object the set belongs to (hides KObject's owner reference,
    // which the set does not use).
    KQovObject* GetOwner() const { return mSceneOwner; }

    // Passes the user property on to the owner's animation (take-node
    // containers write its value into the channel defaults).
    void UserPropertyChanged(KQovUserProperty* userProperty) override;

    // Creates without animation; `animatable` only sets attribute flag 0x2.
    KProperty* CreateProperty(const char* name, int typeCode, KDataType* dataType,
                              bool animatable, bool isUserProperty,
                              KProperty* referenced = nullptr) override;

    // Builds one property per row, in row order, appended to the property list.
    void CreateTableProperties(const KQovPropertyDescriptor* rows, int count);
    // The same for a set with no property yet, left for later: the first use of the property
    // list, of a row's property or of the owner's records builds the rows as they would have
    // been built now, with the values the value calls below stored meanwhile. Until then the
    // set holds the table and those values only (most sets are never asked for more).
    void DeferTableProperties(const KQovPropertyDescriptor* rows, int count);
    // True while the rows are not built (deferred, or dropped unbuilt when the set went).
    bool IsTableDeferred() const { return mDeferredRows != nullptr; }
    // Deferred and not dropped: every row still holds what it would hold if built now.
    bool IsTableWaiting() const { return ArePropertiesDeferred(); }
    // The numbers a row's property would hold if built now (KQovGetPropertyNumbers), while
    // the set waits; 0 for rows without numbers and once the rows are built or dropped.
    int GetWaitingRowNumbers(int row, double* out) const;
    // The type code a row's property has once built (-1 out of range).
    int GetTableRowTypeCode(int row) const;
    // The values a set that waits keeps for its embedded rows, taken and put back whole (a
    // writer that changes them for a moment).
    struct StoredNumbers {
        int row;
        double numbers[4];
    };
    using WaitingValues = std::vector<StoredNumbers>;
    const WaitingValues& GetWaitingValues() const { return mStoredNumbers; }
    void SetWaitingValues(const WaitingValues& values);
    // Sets made from now on build their rows at once (true, the default, lets them wait).
    static void SetDeferTables(bool on);
    int GetTableRowCount() const { return mDeferredRows ? mDeferredCount : int(mSlots.size()); }
    // The property of a row; null out of range or once the property is gone.
    KProperty* GetTableProperty(int row) const;
    const KQovPropertyDescriptor* GetTableRow(int row) const;
    // The embedded property of a row (null for created rows and object lists).
    KQovEmbeddedProperty* GetEmbedded(int row) const;
    // The numbers of an embedded row, built or not (null for other rows); set without events.
    const double* GetEmbeddedNumbers(int row) const;
    void SetEmbeddedNumbers(int row, const double* values, int count);
    // As KQovSetPropertyNumbers on the embedded row's property: the first `count` numbers as
    // its stored kind keeps them (without events).
    void SetWaitingRowNumbers(int row, const double* values, int count);
    // Puts every embedded row back to its default, without events.
    void ResetTableDefaults();

    // Every listed property, in list order.
    void CollectProperties(std::vector<KProperty*>& out) const;

protected:
    void MakeDeferredProperties() override;
    void DropDeferredProperties() override;

private:
    // One table given to CreateTableProperties: its rows stay where they are (tables are
    // static), and its embedded rows are built side by side in one block.
    struct RowTable {
        const KQovPropertyDescriptor* rows;
        int count;
        int firstRow;
        KQovEmbeddedProperty* items;
        size_t capacity;
        size_t used;
    };
    KProperty* CreateRow(const KQovPropertyDescriptor& row, RowTable& table);
    const RowTable* TableOf(int row) const;
    bool IsEmbeddedRow(int row) const;

    KQovObject* mSceneOwner;
    std::vector<RowTable> mTables;
    // Per row: the index of its embedded property in its table's block, or of its reference
    // in mRefs (created rows and object lists, which may go before the set does).
    std::vector<uint16_t> mSlots;
    std::vector<KWeakRef> mRefs;
    // The embedded rows live in the blocks, the object lists here; created rows belong to the
    // property list.
    std::vector<std::unique_ptr<KProperty>> mMembers;
    // The table of a set whose rows are not built yet, and the numbers of the embedded rows
    // set meanwhile (rows never set hold their defaults).
    const KQovPropertyDescriptor* mDeferredRows = nullptr;
    int mDeferredCount = 0;
    std::vector<StoredNumbers> mStoredNumbers;
    bool IsEmbeddedForm(int row) const;
};
