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
    // Notifications of the moves may destroy either end: stop when one is gone.
    const KWeakRef fromRef = from->GetWeakRef(), toRef = to->GetWeakRef();
    for (int i = sources ? from->GetSrcCount() : from->GetDstCount(); i-- > 0;) {
        if (!fromRef.Resolve() || !toRef.Resolve()) return;
        const int count = sources ? from->GetSrcCount() : from->GetDstCount();
        if (i >= count) i = count - 1;
        if (i < 0) break;
        KPlug* far = sources ? from->GetSrc(i) : from->GetDst(i);
        if (!far) break;
        const KWeakRef farRef = far->GetWeakRef();
        if (sources) {
            KObject* fromTop = FromPlug(TopOf(from));
            if (fromTop && !fromTop->Confirm(far)) continue;
            if (!farRef.Resolve() || !fromRef.Resolve() || !toRef.Resolve()) return;
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
    const KWeakRef self = GetWeakRef(), otherRef = other->GetWeakRef();
    MoveConnections(kind, this, other, context);
    for (int i = 0; self.Resolve() && otherRef.Resolve() && i < GetPropertyCount(); ++i) {
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
    const KWeakRef self = GetWeakRef(), otherRef = other->GetWeakRef();
    auto bothLive = [&] { return self.Resolve() && otherRef.Resolve(); };
    if (mode & 0x2) other->CopyPropertyValues(this);
    if ((mode & 0x4) && bothLive()) CopyConnections(2, other, context);
    if ((mode & 0x8) && bothLive()) CopyConnections(1, other, context);
    if ((mode & 0x40) && bothLive()) {
        const KString name = other->GetName();
        const KString space = other->GetNameSpace();
        other->PrepareReplace(replaceArgument);
        other->Destroy();
        if (self.Resolve()) {
            SetNameSpace(space.Buffer());
            SetName(name.Buffer());
        }
    }
    return (mode & (0x2 | 0x40)) != 0;
}
