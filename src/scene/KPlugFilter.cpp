#include "scene/KPlugFilter.h"

KClassIdFilter* KClassIdFilter::Create(int classId) {
    return new KClassIdFilter(classId);
}

bool KClassIdFilter::Accept(KPlug* plug) const {
    if (plug) return plug->IsA(mClassId) || mClassId == -1;
    return mClassId == -1;
}

bool KClassIdFilter::IsSameFilter(const KPlugFilter* other) const {
    return other && other->IsA(KClassIdFilter::ClassId()) &&
           static_cast<const KClassIdFilter*>(other)->mClassId == mClassId;
}
