#pragma once
// Test helper: destroys at the end of a test every plug it made that is still alive.

#include <vector>

#include "scene/KPlug.h"

template <class Default>
class KSceneTestPlugs {
public:
    template <class T = Default>
    T* Make() {
        T* p = new T;
        mAll.push_back(p->GetWeakRef());
        return p;
    }
    ~KSceneTestPlugs() {
        for (const KWeakRef& r : mAll)
            if (KPlug* p = r.Resolve()) p->Destroy();
    }

private:
    std::vector<KWeakRef> mAll;
};
