#pragma once
// Key-frame nodes of written 3DS files: every written node gets one, sampled
// once per frame from the curves of its current take node.

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "formats/geometry/3ds/Motion3ds.h"
#include "foundation/KAffineMatrix.h"
#include "scene/KQovNode.h"

struct KeyframeSettings3ds {
    bool animated = true;  // sample every frame, else frame 0 only
    bool createReferenceNode = false;
    KTime sceneStop;  // for nodes without curves of their own
    // Meshes, lights and cameras the file does not hold (their kind switched off, or a light
    // of a kind the file has not) that are written as dummies: nodes below them keep their
    // parent's place.
    const std::unordered_set<const KQovNode*>* dummies = nullptr;
    // The turn and scaling that the file's frame of a camera or light lacks, frame by frame,
    // kept by node so that a chain of them is turned once.
    std::unordered_map<const KQovNode*, std::vector<KAffineMatrix>>* lackedTurns = nullptr;
    // Look-at targets written only as the target node of their camera or spotlight: no node
    // of their own, their place in the frame of their parent.
    const std::unordered_set<const KQovNode*>* targetsOnly = nullptr;
};

// The name written for an object: without class prefix, at most 10 characters.
std::string NodeName3ds(const KQovObject& object);
// Whether the node has a mesh, NURBS, patch, light or camera attribute.
bool IsMeshLightOrCamera3ds(const KQovNode& node);
// Whether the node is written as a mesh, light or camera of its own, not as a dummy.
bool WrittenAsItself3ds(const KQovNode& node, const KeyframeSettings3ds& settings);
// The parent reference of a node: the name of the node written for its parent, a dummy's as
// "$$$DUMMY." and its name; empty without a written parent.
std::string ParentReference3ds(const KQovNode& node, const KeyframeSettings3ds& settings);
// The parent reference of a light's or camera's target node.
std::string TargetReference3ds(const KQovNode& node, const KeyframeSettings3ds& settings);
// Whether `target` is written only as the target node of the camera or spotlight `node`
// that looks at it, the one node of the tree that does: a node without a mesh, light or
// camera of its own and without children.
bool TargetOnly3ds(const KQovNode& node, const KQovNode& target, bool written);
// The node's translation ('T'), rotation ('R') or scaling ('S') at time 0: its
// current take's curves where they have keys, else its properties.
KVector4 TransformAtStart3ds(KQovNode& node, char which);
// Keys per track: frames 0 to the end of the node's animation, at least one.
int KeyCount3ds(KQovNode& node, const KeyframeSettings3ds& settings);

// Records the caller puts into the database and releases.
ObjectMotion3ds* BuildObjectMotion3ds(Context3ds& ctx, KQovNode& node,
                                      const KeyframeSettings3ds& settings);
// An object node turned into a dummy named after the node.
void MakeDummy3ds(ObjectMotion3ds& motion, const KQovNode& node);
OmnilightMotion3ds* BuildOmnilightMotion3ds(Context3ds& ctx, KQovNode& node,
                                            const KeyframeSettings3ds& settings);
SpotlightMotion3ds* BuildSpotlightMotion3ds(Context3ds& ctx, KQovNode& node,
                                            const KeyframeSettings3ds& settings);
CameraMotion3ds* BuildCameraMotion3ds(Context3ds& ctx, KQovNode& node,
                                      const KeyframeSettings3ds& settings);
