#include "scene/KPropertyObjectList.h"

#include "scene/KObject.h"
#include "scene/KPlugFilter.h"

KPropertyObjectList::KPropertyObjectList() {
    SetTypeCode(eOBJECT);
    SetFlag(eObjectListMark | eObjectList, true);
}

KPropertyObjectList::KPropertyObjectList(KObject* owner, const char* name, uint32_t subPlugFlag,
                                         int classId, int word, uint32_t direction,
                                         uint32_t userFlags) {
    SetUserFlag(userFlags, true);
    SetFlag(eObjectListMark | eObjectList, true);
    if (owner) owner->AddChild(this);
    SetClassFilter(word, classId);
    SetFilter(GetFilter(), subPlugFlag);
    SetPlugFlags(eAcceptsSources | eAcceptsDestinations | eOneSidedDestination, false);
    SetPlugFlags(direction & (eAcceptsSources | eAcceptsDestinations | eOneSidedDestination), true);
    SetTypeCode(eOBJECT);
    SetName(name, false);
    SetFlag(eTyped, true);
    if (owner) owner->AddProperty(this);
}

bool KPropertyObjectList::Notify(const KPlugChain* chain, int code, KPlug* sender, int index,
                                 KPlug* other, int type, void* extra) {
    if (sender == this && (code == eSourceAdded || code == eSourceRemoved)) Touch();
    return KProperty::Notify(chain, code, sender, index, other, type, extra);
}

void KPropertyObjectList::SetClassFilter(int word, int classId) {
    mWord = word;
    mClassId = classId;
    SetFilter(KClassRegistry::GetClassIdFilter(classId), GetPlugFlags() & eSubPlug);
}

void KPropertyObjectList::GetClassFilter(int* word, int* classId) const {
    if (word) *word = mWord;
    if (classId) *classId = mClassId;
}

int KPropertyObjectList::GetCount() const {
    return SourceSide() ? GetSrcCount() : GetDstCount();
}

KObject* KPropertyObjectList::GetAt(int index) const {
    return KObject::FromPlug(SourceSide() ? GetSrc(index) : GetDst(index));
}

bool KPropertyObjectList::Add(KObject* object) {
    Touch();
    return SourceSide() ? ConnectSrc(object) : ConnectDst(object);
}

bool KPropertyObjectList::SetAt(int index, KObject* object) {
    Touch();
    return SourceSide() ? ReplaceSrcAt(index, object) : ReplaceDstAt(index, object);
}

bool KPropertyObjectList::RemoveAt(int index) {
    Touch();
    return SourceSide() ? DisconnectSrcAt(index) : DisconnectDstAt(index);
}

bool KPropertyObjectList::InsertAt(int index, KObject* object) {
    Touch();
    return SourceSide() ? ConnectSrcAt(index, object) : ConnectDstAt(index, object);
}

bool KPropertyObjectList::Remove(KObject* object) {
    Touch();
    return SourceSide() ? DisconnectSrc(object) : DisconnectDst(object);
}

void KPropertyObjectList::Clear() {
    Touch();
    if (SourceSide())
        DisconnectAllSrc();
    else
        DisconnectAllDst();
}

bool KPropertyObjectList::SetSingle(KObject* object) {
    // Clearing may carry out a destruction that waited for it, of this list or
    // of the object.
    const KWeakRef self = GetWeakRef();
    const KWeakRef objectRef = object ? object->GetWeakRef() : KWeakRef{};
    Clear();
    if (!self.Resolve() || (object && !objectRef.Resolve())) return false;
    return Add(object);
}

int KPropertyObjectList::Find(const KObject* object) const {
    if (!object) return -1;
    for (int i = 0; i < GetCount(); ++i) {
        if (GetAt(i) == object) return i;
    }
    return -1;
}
