// Merging one object into another: values, connections and identity.
#include <cstring>

#include "scene/KObject.h"
#include "scene/KProperty.h"

namespace {

KPlug* TopOf(KPlug* plug) {
    while (plug && plug->GetParent()) plug = plug->GetParent();
    return plug;
}

}  // namespace

bool KObject::IsListed(const KObjectMergeContext* context) const {
    if (!context) return false;
    KObject* self = const_cast<KObject*>(this);
    const KString& name = self->GetFullName();
    for (const auto& list : context->lists) {
        for (const KWeakRef& ref : list) {
            KObject* object = FromPlug(ref.Resolve());
            if (object && object->GetFullName() == name) return true;
        }
    }
    return false;
}

void KObject::MoveConnections(int kind, KPlug* from, KPlug* to,
                              const KObjectMergeContext* context) {
    const bool sources = kind == 1;
    const int position = sources ? to->GetSrcCount() : to->GetDstCount();
    KObject* fromTop = FromPlug(TopOf(from));
    for (int i = sources ? from->GetSrcCount() : from->GetDstCount(); i-- > 0;) {
        const int count = sources ? from->GetSrcCount() : from->GetDstCount();
        if (i >= count) i = count - 1;
        if (i < 0) break;
        KPlug* far = sources ? from->GetSrc(i) : from->GetDst(i);
        if (!far) break;
        if (sources) {
            if (fromTop && !fromTop->Confirm(far)) continue;
        } else if (far->IsA(KEntity::ClassId())) {
            continue;
        }
        KObject* farTop = FromPlug(TopOf(far));
        const bool listed = farTop && farTop->IsListed(context);
        if (sources) {
            if (listed || to->IsConnectedSrc(far))
                from->DisconnectSrc(far);
            else
                far->ReplaceDst(from, to, position);
        } else {
            if (listed || to->IsConnectedDst(far))
                from->DisconnectDst(far);
            else
                far->ReplaceSrc(from, to, position);
        }
    }
}

bool KObject::CopyConnections(int kind, KObject* other, const KObjectMergeContext* context) {
    if ((kind != 1 && kind != 2) || !other || other == this) return true;
    MoveConnections(kind, this, other, context);
    for (int i = 0; i < GetPropertyCount(); ++i) {
        KProperty* p = GetProperty(i);
        if (!p || p->IsSubPlug()) continue;
        if (KProperty* target = other->FindProperty(p->GetName()))
            MoveConnections(kind, p, target, context);
    }
    return true;
}

bool KObject::Merge(KObject* other, uint32_t mode, void* replaceArgument,
                    const KObjectMergeContext* context) {
    if (!other || other == this) return false;
    if (mode & 0x2) other->CopyPropertyValues(this);
    if (mode & 0x4) CopyConnections(2, other, context);
    if (mode & 0x8) CopyConnections(1, other, context);
    if (mode & 0x40) {
        const KString name = other->GetName();
        const KString space = other->GetNameSpace();
        other->PrepareReplace(replaceArgument);
        other->Destroy();
        SetNameSpace(space.Buffer());
        SetName(name.Buffer());
    }
    return (mode & (0x2 | 0x40)) != 0;
}
