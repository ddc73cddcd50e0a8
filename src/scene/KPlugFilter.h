#pragma once
// Filters that decide which plugs may be connected to a plug and identify
// sub-plugs. The class table owns one class-id filter per class; plugs only
// point at them.

#include "scene/KPlug.h"

class KPlugFilter : public KPlug {
    KQOV_CLASS(KPlugFilter)
public:
    virtual bool Accept(KPlug*) const { return false; }
    virtual bool IsSameFilter(const KPlugFilter*) const { return false; }
};

// Accepts plugs of one class and its descendants; id -1 accepts everything,
// null included.
class KClassIdFilter : public KPlugFilter {
    KQOV_CLASS(KClassIdFilter)
public:
    static KClassIdFilter* Create(int classId);

    bool Accept(KPlug* plug) const override;
    bool IsSameFilter(const KPlugFilter* other) const override;
    int GetFilterClassId() const { return mClassId; }

private:
    explicit KClassIdFilter(int classId) : mClassId(classId) {}
    int mClassId;
};
