#pragma once
// The field file the QOV reader and writers use: the byte container plus the object-name
// map that resolves references between objects while a file is read, and the layout flag.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/KStringMap.h"
#include "fieldfile/KQovFieldFile.h"

class KObject;
class KQovPropertyHandler;
class KPlug;
class KProperty;

class KQovPropertyFieldFile : public KQovFieldFile {
public:
    static KQovPropertyFieldFile* Create();
    ~KQovPropertyFieldFile() override;

    // Object names are compared byte for byte.
    void RegisterObject(const char* name, KPlug* object);
    KPlug* FindObject(const char* name) const;
    bool UnregisterObject(const char* name);
    // The map in use; a caller may put in a fresh one and later put the old one back.
    KStringMap* GetObjectMap() const { return mObjects; }
    void SetObjectMap(KStringMap* map) { mObjects = map ? map : &mOwnMap; }

    // Version-5 forms of property blocks and curve nodes.
    bool IsVersion5Layout() const { return mVersion5Layout; }
    void SetVersion5Layout(bool on) { mVersion5Layout = on; }

    // The property block "Properties60" of an object: one "Property" record per property
    // that carries a value, in property order:
    //   name, data-type name (the type-code name when there is none), flag letters
    //   ("A" animatable, "U" user-defined), the persistent user-flags word, the value,
    //   and for user-defined properties their min and max.
    // Values: int, bool and enum one int; float and double one double; Vector3D and
    // ColorRGB three doubles, Vector4D and ColorRGBA four; a time as FieldWriteT; a text
    // (KString or char pointer) one string; a string list one string per item. Object
    // lists and references (their values are connections), events and actions are not
    // written.
    bool FieldWritePropertyBlock(KObject* owner);
    // The same block for the properties an object collects (a node's and its attribute's).
    bool FieldWritePropertyBlock(const std::vector<KProperty*>& properties);
    // The block of one property, its record under `name`.
    bool FieldWritePropertyBlock(KProperty* property, const char* name);
    // The same block for a set whose rows are not built (KQovPropertyHandler::IsTableWaiting),
    // its rows written as built ones would be, then `more`. False, with nothing written, when
    // a row holds other than numbers (the caller builds the rows then).
    bool FieldWriteWaitingPropertyBlock(const KQovPropertyHandler& set,
                                        const std::vector<KProperty*>& more);
    // Reads the block of the current level into `properties` (matched by exact name, set
    // through each property's setter). A record for a missing property creates it on
    // `owner` only when it is marked user-defined, and appends it to `properties`.
    // Unknown names and bad records are skipped; a missing block is no error. False only
    // when the field carries no block.
    bool FieldReadPropertyBlock(std::vector<KProperty*>& properties, KObject* owner);
    // The same, with the properties collected only when needed. An owner whose rows wait
    // (KQovPropertyHandler::IsTableWaiting) is left so while the records only set numbers of
    // its rows or values of `others`, the properties `collect` lists after the owner's.
    bool FieldReadPropertyBlock(const std::function<void(std::vector<KProperty*>&)>& collect,
                                KObject* owner, const std::vector<KProperty*>& others);

    class NameIndex;

    // Names a block's "Shape" records take in turn, by the name they have in the file: shapes
    // renamed as read find their values. Null for none; the lists are consumed.
    using NameTurns = std::unordered_map<std::string, std::vector<std::string>>;
    void SetShapeNameTurns(NameTurns* turns) { mShapeTurns = turns; }

protected:
    KQovPropertyFieldFile();

private:
    // Reads the block into the list `find` gives, asked for only when needed; with `others`
    // (not null), an owner whose rows wait is left so where it can be.
    bool ReadPropertyBlockInto(const std::function<void(std::vector<KProperty*>*&)>& find,
                               KObject* owner, const std::vector<KProperty*>* others);

    std::vector<int32_t> mNameSlots;  // NameIndex's table, kept between blocks
    KStringMap mOwnMap;
    KStringMap* mObjects;
    bool mVersion5Layout = false;
    NameTurns* mShapeTurns = nullptr;
};
