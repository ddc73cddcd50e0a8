#pragma once
// A named pose ("Pose::"): a bind pose or a rest pose.

#include "scene/KQovObject.h"

class KQovPose : public KQovObject {
public:
    KQovPose(KQovObjectManager* manager, const char* name, bool bindPose)
        : KQovObject(manager, name), mBindPose(bindPose) {}
    int GetObjectType() const override { return ePose; }
    bool IsBindPose() const { return mBindPose; }

private:
    bool mBindPose;
};
