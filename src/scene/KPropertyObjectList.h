#pragma once
// A property whose value is a list of objects, kept as connections: the
// objects are the list's sources when it accepts sources (plug flag 0x1),
// otherwise its destinations.

#include <cstdint>

#include "scene/KProperty.h"

class KPropertyObjectList : public KProperty {
    KQOV_CLASS(KPropertyObjectList)
public:
    // An embedded member, set up by its owner.
    KPropertyObjectList();
    // `classId` (-1 for any class) becomes the type filter; `direction` the plug
    // flags 0x1, 0x2 and 0x4; the result is added to `owner`.
    KPropertyObjectList(KObject* owner, const char* name, uint32_t subPlugFlag, int classId,
                        int word, uint32_t direction, uint32_t userFlags);

    bool Notify(const KPlugChain* chain, int code, KPlug* sender, int index, KPlug* other, int type,
                void* extra) override;

    int GetCount() const;
    // The object at `index` when it is alive and a KObject, else null.
    KObject* GetAt(int index) const;
    bool Add(KObject* object);
    bool SetAt(int index, KObject* object);
    bool RemoveAt(int index);
    bool InsertAt(int index, KObject* object);
    bool Remove(KObject* object);
    void Clear();
    // Clear, then Add.
    bool SetSingle(KObject* object);
    int Find(const KObject* object) const;

    int GetChangeCount() const { return mChangeCount; }
    void Touch() { ++mChangeCount; }
    void SetClassFilter(int word, int classId);
    void GetClassFilter(int* word, int* classId) const;

private:
    bool SourceSide() const { return (GetPlugFlags() & eAcceptsSources) != 0; }

    int32_t mClassId = -1;
    int32_t mWord = -1;
    int32_t mChangeCount = 0;
};
