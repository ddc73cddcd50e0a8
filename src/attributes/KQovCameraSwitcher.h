#pragma once
// The attribute of the scene's camera switcher node: the names of the cameras
// it may cut between, in the order they were added, and the animated
// "Camera Index" saying which one is live. It has no property set.

#include <vector>

#include "foundation/KString.h"
#include "scene/KQovNodeAttribute.h"

class KQovCameraSwitcher : public KQovNodeAttribute {
public:
    explicit KQovCameraSwitcher(KQovObjectManager* manager) : KQovNodeAttribute(manager) {}
    ~KQovCameraSwitcher() override;

    int GetAttributeType() const override { return eCameraSwitcher; }
    void InitTakeNodeChannels(KQovTakeNode* takeNode) override;
    void RemoveTakeNodeChannels(KQovTakeNode* takeNode) override;

    // Appends a copy of the name (null reads as empty); gives its index.
    int AddCameraName(const char* name);
    int GetCameraNameCount() const { return int(mCameraNames.size()); }
    // Null for an index outside the list.
    const char* GetCameraName(int index) const;
    void ClearCameraNames() { mCameraNames.clear(); }

    // The default take's "Camera Index" curve, truncated; 0 (and a setter does
    // nothing) without a node or the curve.
    int GetDefaultCameraIndex() const;
    void SetDefaultCameraIndex(int index);

private:
    std::vector<KString> mCameraNames;
};
