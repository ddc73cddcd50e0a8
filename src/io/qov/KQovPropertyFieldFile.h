#pragma once
// The field file the QOV reader and writers use: the byte container plus the object-name
// map that resolves references between objects while a file is read, and the layout flag.

#include <memory>

#include "foundation/KStringMap.h"
#include "io/qov/KQovFieldFile.h"

class KPlug;

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

protected:
    KQovPropertyFieldFile();

private:
    KStringMap mOwnMap;
    KStringMap* mObjects;
    bool mVersion5Layout = false;
};
