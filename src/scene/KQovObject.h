#pragma once
// The common base of every named thing a scene holds apart from node
// attributes: a pair of names carrying a class prefix ("Model::", ...), an
// object type, the user properties attached to it and the object manager that
// created it.

#include <cstdint>
#include <vector>

#include "foundation/KString.h"
#include "foundation/KStringList.h"
#include "scene/KQovNamePair.h"

class KProperty;
class KQovNameWatcher;
class KQovObjectManager;
class KQovPropertyHandler;
class KQovUserProperty;

// `name` without anything up to and including its first "::" ("Name" when that
// leaves nothing), behind `prefix` (none for a null or empty prefix).
KString KMakePrefixedName(const char* prefix, const char* name);
// "SubDeformer::" for the kind "Cluster" (any case), "Deformer::" otherwise.
const char* GetDeformerPrefix(const char* kind);

class KQovObject {
public:
    // Object types (GetObjectType).
    enum : int {
        eNode = 1,
        eTexture = 2,
        eMaterial = 3,
        eVideo = 5,
        eCharacter = 8,
        eCharacterPose = 9,
        eGenericNode = 10,
        eDeformer = 10,
        ePose = 11,
        eControlSetPlug = 12,
    };

    // Both names are `name` as given (the manager adds the prefix).
    KQovObject(KQovObjectManager* manager, const char* name);
    virtual ~KQovObject();
    KQovObject(const KQovObject&) = delete;
    KQovObject& operator=(const KQovObject&) = delete;

    virtual void Hook() {}
    // Called by the manager just before the object is deleted.
    virtual void PrepareDestroy() {}
    virtual int GetObjectType() const = 0;
    virtual KQovPropertyHandler* GetPropertyHandler() const { return nullptr; }
    virtual void CollectProperties(std::vector<KProperty*>& out);
    virtual KString GetTypeName() const { return KString(""); }
    virtual KStringList GetTypeNames() const { return KStringList(); }
    // Called after a user property was added / before one goes away.
    virtual void AttachUserProperty(KQovUserProperty*) {}
    virtual void DetachUserProperty(KQovUserProperty*) {}

    // The current name becomes the class prefix followed by `name` without any
    // prefix of its own; the initial name is kept.
    void SetName(const char* name);
    const char* GetName() const { return mNames.currentName.Buffer(); }
    const char* GetInitialName() const { return mNames.initialName.Buffer(); }
    // Both names, unchanged.
    void SetInitialName(const char* name);
    const KQovNamePair& GetNamePair() const { return mNames; }
    // Both names as a renamer left them (a copy of GetNamePair, rewritten).
    void SetNamePair(KQovNamePair names);
    KString GetClassPrefix() const { return GetClassPrefix(GetObjectType()); }
    static KString GetClassPrefix(int objectType);
    // A type-name list of one entry.
    static KStringList OneTypeName(const char* name);
    KString GetNameWithoutPrefix() const;

    int GetUserPropertyCount() const { return int(Records().size()); }
    KQovUserProperty* GetUserProperty(int index) const;
    KQovUserProperty* FindUserProperty(const KProperty* property) const;
    KQovUserProperty* FindUserProperty(const char* name) const;
    // Appends and attaches; a null or listed user property, or one of another manager, is
    // ignored.
    void AddUserProperty(KQovUserProperty* userProperty);
    // The record is being destroyed: it leaves the list (the property it wraps stays). Called
    // by the record, which lets go of the object itself.
    void LetGoOfUserProperty(const KQovUserProperty* userProperty);
    // Empties the list at once; the records stay.
    void LetGoOfAllUserProperties();

    KQovObjectManager* GetObjectManager() const { return mManager; }

    // The records of a property set whose rows wait (KQovPropertyHandler::DeferTableProperties)
    // wait with them; the set calls this once its rows are built, and the records are made
    // then, in the place the manager's list kept for them.
    void MakeDeferredRecords();
    bool AreRecordsDeferred() const { return mRecordsDeferred; }
    // Whether one of the records still to be made carries this name.
    bool WouldHaveDeferredRecord(const char* name) const;

protected:
    // The `count` records of the set's rows are made with the rows (CreateDeferredRecords).
    void DeferRecords(int count);
    virtual void CreateDeferredRecords() {}
    // Takes a user property out of the list (it is not destroyed).
    bool ForgetUserProperty(KQovUserProperty* userProperty);
    void ReserveUserProperties(size_t count) { mUserProperties.reserve(count); }

private:
    // Every use of the record list goes through these: they make deferred records first.
    const std::vector<KQovUserProperty*>& Records() const;
    std::vector<KQovUserProperty*>& Records();

    friend class KQovNameWatcher;
    // Tells the watchers when the current name is no longer `old`.
    void NoteRename(const KString& old);

    KQovNamePair mNames;
    std::vector<KQovNameWatcher*> mNameWatchers;
    std::vector<KQovUserProperty*> mUserProperties;  // owned by the manager; see Records()
    bool mRecordsDeferred = false;
    int mDeferredRecordCount = 0;
    KQovObjectManager* mManager;
};
