#pragma once
// An object of the model: a plug with a name and a name space, an ordered list
// of properties (its children), object-level events, link pairs recorded while
// connections are replaced, and a weak reference to an owning object to which
// it passes its events. Every property set of the scene derives from it.

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/KSparseIndexTable.h"
#include "foundation/KString.h"
#include "scene/KPlug.h"

#include "foundation/KCallbackList.h"

class KDataType;
class KProperty;
class KPropertyObjectList;
class KQovUserProperty;

// The two object lists with which a caller of CopyConnections marks objects
// whose connections must not be moved (matched by full name).
struct KObjectMergeContext {
    std::vector<KWeakRef> lists[2];
};

// What FireCallbacks dispatches (event id KObject::kCallbackEventId).
struct KObjectEventRecord : KEventRecordHeader {
    KPlug* sender = nullptr;
    KWeakRef object;     // the object that fired
    KWeakRef reference;  // the other object, empty when it is gone
    int32_t kind = 0;
};

class KObject : public KPlug, public KSparseIndexed {
    KQOV_CLASS(KObject)
public:
    static constexpr uint32_t kObjectInterfaceId = 0x98ABD146u;
    static constexpr int kCallbackEventId = 336738;

    // Object events (SendEvent codes).
    enum : int {
        eObjectDestroying = 1,
        eSourceObjectAdded = 4,
        eSourceObjectRemoved = 5,
        eSelected = 6,
        eDeselected = 7,
        eNameChanging = 8,
        eNameSpaceChanging = 9,
        eCurrentNameChanging = 10,
        eCurrentNameSpaceChanging = 11,
        eNameChanged = 12,
        eNameSpaceChanged = 13,
        eCurrentNameChanged = 14,
        eCurrentNameSpaceChanged = 15,
        eFlag2Set = 16,
        eFlag2Cleared = 17,
        eToggleSet = 19,
        eToggleCleared = 20,
        eObjectEvent23 = 23,
        eObjectEvent24 = 24,
        eReselected = 25,
        eSourceObjectAdding = 28,
        eSourceObjectRemoving = 29,
        eSourceObjectsChanged = 31,
        eConnection14 = 32,
        eConnection15 = 33,
    };
    // State events sent by objects.
    enum : int {
        eStateSelected = 24,
        eStateDeselected = 25,
        eStateReselected = 26,
        eStateRenaming = 27,
        eStateRenamed = 28,
        eStateNameSpace = 29,
    };
    enum : uint32_t { eUserFlagDestroying = 0x8 };
    enum : uint32_t { eCapabilityNoUserProperties = 0x20 };

    KObject();
    ~KObject() override;

    // The object behind a plug (its object interface), or null.
    static KObject* FromPlug(KPlug* plug) {
        return plug ? static_cast<KObject*>(plug->GetInterface(kObjectInterfaceId)) : nullptr;
    }

    void* GetInterface(uint32_t id) override;
    void OnAttach(void* index) override;
    void PrepareDestroy() override;
    int GetPlugTypeCode() const override { return 1; }
    bool IsLinked(KPlug* a, KPlug* b) override;
    bool SendValueEvent(const KPlugChain* chain, int code, KPlug* sender, const void* a,
                        const void* b, const void* c) override;
    bool SendStateEvent(const KPlugChain* chain, int code, KPlug* sender, const void* a,
                        const void* b, const void* c) override;
    bool Notify(const KPlugChain* chain, int code, KPlug* sender, int index, KPlug* other, int type,
                void* extra) override;
    int GetPropertyCount() const override { return int(Properties().size()); }
    KProperty* GetProperty(int index) const override;

    // Properties.
    virtual void DestroyProperties();
    virtual KProperty* CreateProperty(const char* name, int typeCode, KDataType* dataType,
                                      bool animatable, bool isUserProperty,
                                      KProperty* referenced = nullptr);
    virtual int AddProperty(KProperty* property);
    // 1 (and no change) for an index out of range, else 0.
    virtual int RemovePropertyAt(int index);
    virtual int DestroyProperty(int index);
    virtual void DeleteReferencingProperties(KProperty* property);
    virtual KProperty* CreateReferenceProperty(KProperty* property, const char* name);
    virtual KProperty* CloneProperty(KProperty* property);
    virtual void CopyFrom(KObject* other, uint32_t mask);
    virtual void CopyPropertyValues(KObject* other);
    virtual void CopyUserPropertyValues(KObject* other);
    virtual bool OnPropertyListEvent(int code, KProperty* property, uint32_t attributeBit, int);
    KProperty* FindProperty(const char* name) const;
    // True when a listed property other than `except` has the name.
    bool IsPropertyNameTaken(const char* name, const KProperty* except) const;
    int IndexOfProperty(const KProperty* property) const;
    int GetUserPropertyCount() const;
    KProperty* GetUserProperty(int index) const;
    void CopyUserProperties(KObject* other);
    void DestroyPropertyAndClear(KProperty*& property);
    // Creates the property a user-property description stands for and attaches
    // the handle to it; false for a null or attached handle or an unknown type.
    bool CreatePropertyFromDescription(KQovUserProperty* userProperty);
    // Drops a property from the list without events (a member property going away).
    void ForgetProperty(KProperty* property);
    static KPropertyObjectList* CreateObjectListProperty(KObject* owner, const char* name,
                                                         uint32_t subPlugFlag, int classId,
                                                         int limit, uint32_t direction,
                                                         uint32_t userFlags);

    // Names.
    virtual void SetName(const char* text);
    virtual const char* GetName() const { return mName.Buffer(); }
    virtual void SetNameSpace(const char* text);
    virtual void SetCurrentName(const char* text);
    virtual void SetCurrentNameSpace(const char* text);
    virtual void SetFullName(const char* text);
    virtual int GetNameSpaceClassId() const { return -1; }
    virtual void MarkChanged(bool propagate);
    const char* GetInitialName() const {
        return mMoreNames && mMoreNames->initialNameSet ? mMoreNames->initialName.Buffer()
                                                        : mName.Buffer();
    }
    const char* GetNameSpace() const { return mMoreNames ? mMoreNames->nameSpace.Buffer() : ""; }
    const char* GetInitialNameSpace() const {
        return mMoreNames ? mMoreNames->initialNameSpace.Buffer() : "";
    }
    const KString& GetFullName();
    KString GetNameWithNameSpace() const;
    static void SplitFullName(const char* full, KString& beforeTriple, KString& classPrefix,
                              KString& nameSpace, KString& name);
    static KString ComposeName(const char* classPrefix, const char* nameSpace, const char* name);
    static KString JoinNameSpace(const char* nameSpace, const char* name);

    // Events, state and callbacks.
    virtual bool SendEvent(int code, const KWeakRef* reference, const void* detail, int index);
    virtual bool OnSourceObjectEvent(int code, const KWeakRef* sender, const KWeakRef* reference,
                                     const void* detail);
    // Object events of the objects this object owns (SetOwner) arrive here.
    virtual bool OnOwnedObjectEvent(const KWeakRef& object, int code, const KWeakRef* reference,
                                    const void* detail, int index);
    bool SendObjectEvent23() { return SendEvent(eObjectEvent23, &kEmptyRef, nullptr, -1); }
    bool SendObjectEvent24() { return SendEvent(eObjectEvent24, &kEmptyRef, nullptr, -1); }
    virtual void SetToggle(bool on);
    bool GetToggle() const { return mToggle; }
    virtual bool SetFlags(uint32_t word);
    virtual void ResetFlags();
    uint32_t GetFlags() const { return mState; }
    uint32_t GetStamp() const { return mStamp; }
    virtual bool FireCallbacks(KPlug* sender, int kind, const KWeakRef* reference, int index);
    virtual bool HandleConnectionEvent(int kind, const KWeakRef* other, int index);
    virtual bool OnDestinationConnectionEvent(int kind, const KWeakRef* other, int index);
    // The callback list FireCallbacks dispatches on (owned; null for none).
    void SetCallbackList(std::unique_ptr<KCallbackList> list);
    KCallbackList* GetCallbackList() const { return mCallbacks.get(); }
    uint32_t GetUserFlags() const { return mUserFlags; }
    void SetUserFlags(uint32_t bits, bool on);
    uint32_t GetCapabilities() const { return mCapabilities; }

    // Owner and connections.
    virtual void SetOwner(const KWeakRef& owner) { mOwner = owner; }
    KObject* GetOwner() const { return FromPlug(mOwner.Resolve()); }
    virtual void DisconnectAll();
    void DisconnectSourceObjects();
    bool IsUnconnected(int x) const;
    virtual bool Confirm(KPlug*) { return true; }
    virtual bool ConfirmWithDestinations();
    // The objects of a class connected as sources (through the class's sub-plug).
    int GetConnectedObjectCount(int classId);
    KObject* GetConnectedObject(int index, int classId);

    // Merging: pushes this object's values, connections or identity into `other`.
    virtual bool Merge(KObject* other, uint32_t mode, void* replaceArgument,
                       const KObjectMergeContext* context);
    virtual bool CopyConnections(int kind, KObject* other, const KObjectMergeContext* context);
    virtual void PrepareReplace(void*) {}

    // KSparseIndexed.
    void SetIndexTableEntry(KSparseIndexTable* table, int index) override;
    int GetIndexTableIndex() const override { return mIndexPosition; }
    int GetIndexedPropertyCount() override;
    void* GetIndexedProperty(int i) override;
    uint16_t& IndexedPropertyIndex(int i) override;

    static const KWeakRef kEmptyRef;

protected:
    // Room for `count` more properties (a set that knows how many it makes).
    void ReserveProperties(size_t count) { mPropertyList.reserve(mPropertyList.size() + count); }
    // A set that can make its properties later says so; the first use of the list calls
    // MakeDeferredProperties, which must clear the mark (ClearPropertiesDeferred) before it
    // adds anything. DestroyProperties of a set still deferred calls DropDeferredProperties
    // instead: nothing was made, so nothing is to be disconnected or destroyed.
    void DeferProperties() { mPropertiesDeferred = true; }
    void ClearPropertiesDeferred() { mPropertiesDeferred = false; }
    bool ArePropertiesDeferred() const { return mPropertiesDeferred; }
    virtual void MakeDeferredProperties() { mPropertiesDeferred = false; }
    virtual void DropDeferredProperties() { mPropertiesDeferred = false; }

private:
    struct LinkPair {
        KPlug* a;
        KPlug* b;
        void* extra;
        bool sourceEnd;
    };
    bool Rename(const char* text, bool current);
    bool SetSpace(const char* text, bool current);
    bool IsListed(const KObjectMergeContext* context) const;
    void MoveConnections(int kind, KPlug* from, KPlug* to, const KObjectMergeContext* context);
    KProperty* IndexedProperty(int i) const;
    // Every use of the list goes through these: Properties() makes a deferred set's
    // properties first; MadeProperties() is for walks to which properties never made add
    // nothing (disconnecting, the unconnected test), and is empty while the set is deferred.
    const std::vector<KProperty*>& Properties() const {
        if (mPropertiesDeferred) const_cast<KObject*>(this)->MakeDeferredProperties();
        return mPropertyList;
    }
    std::vector<KProperty*>& Properties() {
        if (mPropertiesDeferred) MakeDeferredProperties();
        return mPropertyList;
    }
    const std::vector<KProperty*>& MadeProperties() const { return mPropertyList; }

    KSparseIndexTable* mIndexTable = nullptr;
    int32_t mIndexPosition = -2;
    KWeakRef mOwner;
    KString mName;
    // The names most objects never set, made by the first that differs: the initial name
    // once the current one was renamed alone, the name spaces, the composed full name.
    struct MoreNames {
        bool initialNameSet = false;
        KString initialName;
        KString nameSpace;
        KString initialNameSpace;
        KString fullName;
    };
    MoreNames& More();
    std::unique_ptr<MoreNames> mMoreNames;
    bool mChanged = true;
    std::unique_ptr<KCallbackList> mCallbacks;
    bool mToggle = false;
    bool mPropertiesDeferred = false;
    uint32_t mCapabilities = 5087;
    uint32_t mUserFlags = 0;
    uint32_t mState = 0;
    uint32_t mStamp = 0;
    // Only through Properties() / MadeProperties().
    std::vector<KProperty*> mPropertyList;
    // What an object holds only while connections are replaced or properties go, made by the
    // first such change.
    struct Changes {
        std::vector<LinkPair> linkPairs;
        // Properties whose destruction waits for a connection change to end: they
        // must not keep pointing at this object once it is gone.
        std::vector<KWeakRef> pendingProperties;
        std::vector<KProperty*> removing;  // properties in RemovePropertyAt
    };
    Changes& GetChanges();
    std::unique_ptr<Changes> mChanges;
    // The first property of each name, made by a lookup among many properties and kept by
    // additions and removals; a rename of a name it holds drops it.
    struct PropertyNames;
    PropertyNames* IndexedProperties() const;
    void ForgetPropertyName(KProperty* property);
    mutable std::unique_ptr<PropertyNames> mPropertyNames;
};

// The object when its class-id test accepts T's class, else null (null for null).
template <class T>
T* KObjectSafeCast(KPlug* plug) {
    return plug && plug->IsA(T::ClassId()) ? static_cast<T*>(plug) : nullptr;
}

// Identity-only object classes.
class KGenericObjectList : public KObject {
    KQOV_CLASS(KGenericObjectList)
};
class KObjectList : public KGenericObjectList {
    KQOV_CLASS(KObjectList)
};
class KEntityList : public KGenericObjectList {
    KQOV_CLASS(KEntityList)
};
class KStream : public KObject {
    KQOV_CLASS(KStream)
};
class KTsObject : public KObject {
    KQOV_CLASS(KTsObject)
};
class KObjectSet : public KTsObject {
    KQOV_CLASS(KObjectSet)
};
class KEntity : public KObjectSet {
    KQOV_CLASS(KEntity)
};
