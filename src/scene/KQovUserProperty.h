#pragma once
// A user property: one that a user or a file attached to a scene object, read
// and written through a handle with a few simple types ("Bool", "Real",
// "Color", "Integer", "Vector"). The handle starts as a bare description, or
// wraps a property that lives in an object's property set; once attached
// (KObject::CreatePropertyFromDescription) it wraps the property created from
// its description.

#include <cstddef>
#include <cstdint>

#include "foundation/KString.h"
#include "scene/KPlugHandlePool.h"

class KColor;
class KObject;
class KProperty;
class KQovObject;
class KQovObjectManager;
class KQovUserProperty;

// Implemented by the property sets (KQovPropertyHandler): told after every value change.
class KQovUserPropertyOwner {
public:
    virtual void UserPropertyChanged(KQovUserProperty* userProperty) = 0;

protected:
    ~KQovUserPropertyOwner() = default;
};

class KQovUserProperty {
public:
    enum : int { eUnidentified = 0, eBool = 1, eReal = 2, eColor = 3, eInteger = 4, eVector = 5 };
    // Flags, each standing for a property attribute: 1 -> 0x2, 2 -> 0x40, 4 -> 0x80.
    enum : int { eFlagAnimatable = 0x1, eFlagUserProperty = 0x2, eFlagFromDescription = 0x4 };

    // A description: the type by name (0 for an unknown name), unbounded limits, no flags.
    KQovUserProperty(KQovObjectManager* manager, const char* name, const char* typeName,
                     const char* label);
    // Wraps an existing property; no description.
    KQovUserProperty(KQovObjectManager* manager, KProperty* property);
    ~KQovUserProperty();
    KQovUserProperty(const KQovUserProperty&) = delete;
    KQovUserProperty& operator=(const KQovUserProperty&) = delete;

    // Null for a type outside 0..5.
    static const char* GetTypeName(int type);
    // 1 to 5 for an exact type name, else 0 (also for null).
    static int GetTypeFromName(const char* name);

    int GetType() const;
    KString GetName() const;
    void GetLabel(KString& out, bool nameWhenEmpty) const;
    bool Wraps(const KProperty* property) const;

    void SetFlag(int flag, bool on);
    bool GetFlag(int flag) const;
    void SetMin(double value);
    void SetMax(double value);
    double GetMin() const;
    double GetMax() const;

    // Values: nothing without a property; each setter then tells the owner.
    void SetValue(bool value);
    void SetValue(int value);
    void SetValue(double value);
    void SetValue(double x, double y, double z);
    void SetColor(const KColor& color);
    void GetValue(bool& value) const;
    void GetValue(int& value) const;
    void GetValue(double& value) const;
    void GetColor(KColor& color) const;
    void GetVector(double& x, double& y, double& z) const;

    // The wrapped property; null before attaching and once it was destroyed.
    KProperty* GetProperty() const;
    KQovUserPropertyOwner* GetOwner() const { return mOwner; }
    void SetOwner(KQovUserPropertyOwner* owner) { mOwner = owner; }
    // Forgets the wrapped property and the owner (the property is being destroyed).
    void Unbind() { Bind(nullptr, nullptr); }
    KQovObjectManager* GetManager() const;
    // False for a record that only wraps an object's own property.
    bool HasDescription() const { return HomeKind() == eHomeDescription; }

    // The objects whose lists hold the record, kept by KQovObject: a record going leaves every
    // list at the cost of those lists alone. AddLister may throw (nothing changed then).
    void AddLister(KQovObject* object);
    void RemoveLister(const KQovObject* object);
    bool IsListedBy(const KQovObject* object) const;

    // Room for `capacity` wrapping records in one allocation: an object's records are made
    // together and mostly go together. The block lives until its last record is disposed of
    // and the caller's own reference is dropped (ReleaseBlock).
    class Block;
    static Block* CreateBlock(KQovObjectManager* manager, size_t capacity);
    static void ReleaseBlock(Block* block);
    // A record wrapping `property` in the block's next free place; null when it is full.
    static KQovUserProperty* CreateInBlock(Block* block, KProperty* property);
    // Destroys a record made by new or in a block, and frees what it took.
    static void Dispose(KQovUserProperty* userProperty);
    // The block the record lives in; null for one made on its own.
    Block* GetBlock() const;
    // The manager's list holds a reference of its own: taken the first time (true), kept
    // until the list lets go with ReleaseBlock.
    static bool ListBlock(Block* block);
    static bool IsBlockListed(const Block* block);
    // The places used, in the order the records were made, and those whose record lives.
    static size_t GetBlockUsed(const Block* block);
    static size_t GetBlockLive(const Block* block);
    // The record at a place; null once it was disposed of.
    static KQovUserProperty* GetBlockRecord(Block* block, size_t place);
    // The place of a record of the block, found by its address alone (it is not read);
    // -1 when the address is not one of the block's.
    static ptrdiff_t GetBlockPlace(Block* block, const void* record);

private:
    friend class KObject;
    struct Description;
    // What mHome holds, told by its low bits (every target is at least 8-byte aligned).
    enum : uintptr_t { eHomeManager = 0, eHomeDescription = 1, eHomeBlock = 2, eHomeMask = 3 };

    KQovUserProperty(KProperty* property, Block* block);
    uintptr_t HomeKind() const { return mHome & eHomeMask; }
    Description* GetDescription() const;
    void Bind(KProperty* property, KQovUserPropertyOwner* owner);
    void Changed();
    // Every lister lets go of the record, which then has none.
    void LeaveListers();
    struct Listers;
    Listers* GetListers() const;

    // Weak, so that a property destroyed with its object is not used afterwards.
    KWeakRef mProperty;
    KQovUserPropertyOwner* mOwner = nullptr;
    // The manager; or the description, which names the manager; or the block, likewise.
    uintptr_t mHome;
    // None (0), the one lister, or (low bit set) the Listers of a record several objects list.
    uintptr_t mListedBy = 0;
};
