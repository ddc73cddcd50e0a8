#pragma once
// Key-frame tracks of a read 3DS file into the take "default take" of scene
// nodes: animation curves for tracks of two or more keys, static values else.

#include "formats/geometry/3ds/Motion3ds.h"
#include "scene/KQovNode.h"

constexpr const char* kTakeName3ds = "default take";

struct TrackReading3ds {
    bool animate = true;  // tracks of two or more keys become curves
    bool reduceKeys = false;
    double scale = 1.0;  // for positions
    // Keys past this frame are not read, but counted in `*keysPast` when it is given.
    uint32_t lastFrame = UINT32_MAX;
    size_t* keysPast = nullptr;
    // Frames left for following rotation tracks between their keys; the tracks past it keep
    // their keys as Euler keys and are counted in `*rotationsUnfollowed`.
    int64_t* rotationFrames = nullptr;
    size_t* rotationsUnfollowed = nullptr;
};

// Each adds "default take" to the node, makes it current and fills it.
// False when the take cannot be added.
bool ReadObjectAnimation3ds(KQovNode& node, const ObjectMotion3ds& motion,
                            const TrackReading3ds& reading);
bool ReadOmnilightAnimation3ds(KQovNode& node, const OmnilightMotion3ds& motion,
                               const TrackReading3ds& reading);
// The spot cone follows the falloff, the outer edge of the light.
bool ReadSpotlightAnimation3ds(KQovNode& node, KQovNode* target, const SpotlightMotion3ds& motion,
                               const TrackReading3ds& reading);
bool ReadCameraAnimation3ds(KQovNode& node, KQovNode* target, const CameraMotion3ds& motion,
                            const TrackReading3ds& reading);
