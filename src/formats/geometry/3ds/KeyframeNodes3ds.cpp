#include "formats/geometry/3ds/KeyframeNodes3ds.h"

#include <algorithm>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovCamera.h"
#include "attributes/KQovLight.h"
#include "formats/geometry/3ds/Axes3ds.h"
#include "formats/geometry/3ds/K3dsNameTable.h"
#include "formats/geometry/3ds/LightCamera3ds.h"
#include "formats/geometry/3ds/Tracks3ds.h"
#include "foundation/KAffineMatrix.h"
#include "scene/KQovNodeAttribute.h"

namespace {

using Channels = Channel3ds[3];

std::string Name(const KQovObject& object) {
    return KStripNamePrefix(object.GetName()).Buffer();
}

std::string DummyReference(const std::string& name) {
    return std::string(kDummyName3ds) + "." + name.substr(0, 10);
}

// Curves of a transform channel ('T', 'R' or 'S'), defaults from the node's
// properties when the take lacks one of the three.
void TransformChannels(KQovNode& node, char which, Channels& out, bool animated) {
    KVector4 value;
    if (which == 'T') node.GetLocalTranslation(value);
    if (which == 'R') node.GetLocalRotation(value);
    if (which == 'S') node.GetLocalScaling(value);
    KQovTakeNode* take = animated ? node.GetCurrentTakeNode() : nullptr;
    const char name[2] = {which, 0};
    KFCurve* curves[3] = {nullptr, nullptr, nullptr};
    if (take)
        for (int i = 0; i < 3; ++i)
            curves[i] = take->FindCurve("Transform", name, i == 0 ? "X" : i == 1 ? "Y" : "Z");
    const bool all = curves[0] && curves[1] && curves[2];
    for (int i = 0; i < 3; ++i) out[i] = Channel3ds{all ? curves[i] : nullptr, value[i]};
}

Channel3ds TakeChannel(KQovNode& node, KFCurve* (KQovTakeNode::*get)(), double value,
                       bool animated) {
    KQovTakeNode* take = animated ? node.GetCurrentTakeNode() : nullptr;
    return Channel3ds{take ? (take->*get)() : nullptr, value};
}

// The light's colour curves, or its default colour.
void FillColorKeys(Track3ds<Point3ds>& track, KQovNode& node, bool animated, int count) {
    double rgb[3] = {1, 1, 1};
    if (const KQovLight* light = node.GetLight()) light->GetDefaultColor(rgb[0], rgb[1], rgb[2]);
    const Channels color = {TakeChannel(node, &KQovTakeNode::GetColorR, rgb[0], animated),
                            TakeChannel(node, &KQovTakeNode::GetColorG, rgb[1], animated),
                            TakeChannel(node, &KQovTakeNode::GetColorB, rgb[2], animated)};
    FillColorKeys3ds(track, color, count);
}

KVector4 Sample(const Channels& c, int64_t frame) {
    return KVector4(c[0].At(frame), c[1].At(frame), c[2].At(frame));
}

// Cameras and lights are written with a position only: in the file their frame moves their
// children but neither turns nor scales them. A dummy written in their place does both.
bool MovesOnly(const KQovNode& node, const KeyframeSettings3ds& s) {
    const KQovNodeAttribute* a = node.GetNodeAttribute();
    if (!a || !WrittenAsItself3ds(node, s)) return false;
    if (a->GetAttributeType() == KQovNodeAttribute::eCamera) return true;
    if (a->GetAttributeType() != KQovNodeAttribute::eLight) return false;
    const int type = static_cast<const KQovLight*>(a)->GetLightType();
    return type == 0 || type == 2;
}

// What the file's frame of a node lacks of the scene's at frames 0 to count - 1: the turn
// and scaling of a camera or light written as itself, and of each one it hangs on in a
// row, as their frames in the file only move. Empty for any other node.
std::vector<KAffineMatrix> LackedTurns(KQovNode* node, const KeyframeSettings3ds& s, int count) {
    // Up the chain to its top, or to a node whose turns are known for as many frames.
    std::vector<KQovNode*> chain;
    const std::vector<KAffineMatrix>* known = nullptr;
    for (KQovNode* n = node; n && MovesOnly(*n, s) && !known; n = n->GetParent()) {
        if (s.lackedTurns) {
            const auto found = s.lackedTurns->find(n);
            if (found != s.lackedTurns->end() && found->second.size() >= size_t(count))
                known = &found->second;
        }
        if (!known) chain.push_back(n);
    }
    std::vector<KAffineMatrix> lacked;
    if (known) lacked.assign(known->begin(), known->begin() + count);
    // Down again: each node's own turn acts before what its parent's frame lacks.
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        Channels r, sc;
        TransformChannels(**it, 'R', r, s.animated);
        TransformChannels(**it, 'S', sc, s.animated);
        const bool first = lacked.empty();
        lacked.resize(static_cast<size_t>(count));
        for (int k = 0; k < count; ++k) {
            const KAffineMatrix turn(KVector4(), Sample(r, k), Sample(sc, k));
            KAffineMatrix& m = lacked[static_cast<size_t>(k)];
            m = first ? turn : turn * m;
        }
        if (s.lackedTurns) (*s.lackedTurns)[*it] = lacked;
    }
    return lacked;
}

// Points of the node's parent frame, one per frame, as the file holds them: what the file's
// frame of a camera or light parent lacks applied.
void IntoFileParentFrame(KQovNode& node, std::vector<KVector4>& points,
                         const KeyframeSettings3ds& s) {
    const std::vector<KAffineMatrix> lacked =
        LackedTurns(node.GetParent(), s, static_cast<int>(points.size()));
    for (size_t k = 0; k < lacked.size(); ++k) points[k] = lacked[k].MultT(points[k]);
}

// The node's position track, in the file's frame of its parent.
void FillNodePosition(Track3ds<Point3ds>& track, KQovNode& node, const KeyframeSettings3ds& s,
                      int count) {
    Channels t;
    TransformChannels(node, 'T', t, s.animated);
    std::vector<KVector4> positions = SampleFrames3ds(t, count);
    IntoFileParentFrame(node, positions, s);
    FillPositionKeys3ds(track, positions);
}

}  // namespace

KVector4 TransformAtStart3ds(KQovNode& node, char which) {
    Channels channels;
    TransformChannels(node, which, channels, true);
    return Sample(channels, 0);
}

namespace {

void SetName(NodePart3ds& part, KQovNode& node, const KeyframeSettings3ds& s) {
    part.name = NodeName3ds(node);
    part.parent = ParentReference3ds(node, s);
}

// Whether the file holds a node of its own for `node`, that a target node can hang on.
bool WritesNode(const KQovNode& node, const KeyframeSettings3ds& s) {
    if (WrittenAsItself3ds(node, s) || (s.dummies && s.dummies->count(&node))) return true;
    if (IsMeshLightOrCamera3ds(node) || (s.targetsOnly && s.targetsOnly->count(&node)))
        return false;
    return Name(node).compare(0, 7, kQovRootCut3ds) != 0 &&
           (node.GetParent() || s.createReferenceNode);
}

// The target track: the look-at node's place, or a point 10 units along `axis` of the node,
// frame by frame, in the frame of the node the target hangs on.
void FillTarget(Track3ds<Point3ds>& track, TargetPart3ds& part, KQovNode& node,
                const KeyframeSettings3ds& s, const KVector4& axis, int count) {
    if (KQovNode* target = node.GetLookAtTarget()) {
        if (s.targetsOnly && s.targetsOnly->count(target)) {
            // Hung where the look-at node hangs, at its place there.
            part.parent = ParentReference3ds(*target, s);
            Channels t;
            TransformChannels(*target, 'T', t, s.animated);
            std::vector<KVector4> points = SampleFrames3ds(t, KeyCount3ds(*target, s));
            IntoFileParentFrame(*target, points, s);
            FillPositionKeys3ds(track, points);
        } else if (WritesNode(*target, s)) {
            // Hung on the look-at node's own node: at its origin, which moves with it.
            part.parent = TargetReference3ds(node, s);
            FillPositionKeys3ds(track, std::vector<KVector4>(1, KVector4(0, 0, 0)));
        } else {
            part.parent = TargetReference3ds(node, s);
            Channels t;
            TransformChannels(*target, 'T', t, s.animated);
            FillPositionKeys3ds(track, t, KeyCount3ds(*target, s));
        }
        return;
    }
    part.parent = TargetReference3ds(node, s);
    Channels t, r;
    TransformChannels(node, 'T', t, s.animated);
    TransformChannels(node, 'R', r, s.animated);
    std::vector<KVector4> points;
    for (int k = 0; k < count; ++k)
        points.push_back(TargetPoint3ds(Sample(t, k), Sample(r, k), axis));
    IntoFileParentFrame(node, points, s);
    Channels fixed;
    FillPositionKeys3ds(track, fixed, count);
    for (int k = 0; k < count; ++k) {
        const KVector4 p = ConvertPosition3ds(points[static_cast<size_t>(k)]);
        track.values[static_cast<size_t>(k)] = {static_cast<float>(p[0]), static_cast<float>(p[1]),
                                                static_cast<float>(p[2])};
    }
}

}  // namespace

std::string NodeName3ds(const KQovObject& object) {
    return Name(object).substr(0, 10);
}

bool IsMeshLightOrCamera3ds(const KQovNode& node) {
    const KQovNodeAttribute* a = node.GetNodeAttribute();
    if (!a) return false;
    switch (a->GetAttributeType()) {
        case KQovNodeAttribute::eMesh:
        case KQovNodeAttribute::eNurb:
        case KQovNodeAttribute::ePatch:
        case KQovNodeAttribute::eLight:
        case KQovNodeAttribute::eCamera:
            return true;
        default:
            return false;
    }
}

bool WrittenAsItself3ds(const KQovNode& node, const KeyframeSettings3ds& s) {
    return IsMeshLightOrCamera3ds(node) && !(s.dummies && s.dummies->count(&node));
}

std::string ParentReference3ds(const KQovNode& node, const KeyframeSettings3ds& s) {
    const KQovNode* parent = node.GetParent();
    if (!parent) return std::string();
    if (WrittenAsItself3ds(*parent, s)) return NodeName3ds(*parent);
    // Every other parent is written as a dummy, but for the extra root node, whose scaling is
    // the master scale: its children hang on the reference node when there is one.
    const std::string name = Name(*parent);
    if (name.compare(0, 7, kQovRootCut3ds) == 0)
        return s.createReferenceNode ? DummyReference(kRootNodeCut3ds) : std::string();
    return DummyReference(name);
}

bool TargetOnly3ds(const KQovNode& node, const KQovNode& target, bool written) {
    if (!written || node.GetLookAtTarget() != &target || &node == &target) return false;
    return !IsMeshLightOrCamera3ds(target) && target.GetChildCount() == 0 && target.GetParent() &&
           Name(target).compare(0, 7, kQovRootCut3ds) != 0;
}

std::string TargetReference3ds(const KQovNode& node, const KeyframeSettings3ds& s) {
    const KQovNode* target = node.GetLookAtTarget();
    if (!target) return ParentReference3ds(node, s);
    return WrittenAsItself3ds(*target, s) ? NodeName3ds(*target) : DummyReference(Name(*target));
}

int KeyCount3ds(KQovNode& node, const KeyframeSettings3ds& s) {
    if (!s.animated) return 1;
    KTime start, stop;
    KQovTakeNode* take = node.GetCurrentTakeNode();
    // A node without curves of its own follows the scene.
    if (!take || !take->GetAnimationInterval(start, stop)) stop = s.sceneStop;
    const int64_t frames = stop.GetFrame(true, KTime::eFRAMES30);
    return static_cast<int>(std::clamp<int64_t>(frames, 0, kLastFrame3ds)) + 1;
}

ObjectMotion3ds* BuildObjectMotion3ds(Context3ds& ctx, KQovNode& node,
                                      const KeyframeSettings3ds& s) {
    const int count = KeyCount3ds(node, s);
    // Held until it is handed back: sampling the scene may run out of memory.
    Held3ds<ObjectMotion3ds> held;
    InitObjectMotion3ds(ctx, held.Slot(), count, count, count, 0, 0);
    ObjectMotion3ds* m = held.get();
    if (!m) return nullptr;
    SetName(*m, node, s);
    Channels t, r, sc;
    TransformChannels(node, 'T', t, s.animated);
    TransformChannels(node, 'R', r, s.animated);
    TransformChannels(node, 'S', sc, s.animated);
    KQovTakeNode* take = s.animated ? node.GetCurrentTakeNode() : nullptr;
    FillHideKeys3ds(m->hide, take ? take->GetVisibility() : nullptr, node.GetVisibility(), count);
    const std::vector<KAffineMatrix> lacked = LackedTurns(node.GetParent(), s, count);
    if (lacked.empty()) {
        FillPositionKeys3ds(m->pos, t, count);
        FillRotationKeys3ds(m->rot, r, count);
        FillScaleKeys3ds(m->scale, sc, count);
        return held.Release();
    }
    // The file's camera or light only moves its children: what its frame lacks goes into each
    // child's own keys, frame by frame, so the child stays where the scene has it.
    std::vector<KVector4> ts, rs, ss;
    for (int k = 0; k < count; ++k) {
        const KAffineMatrix local(Sample(t, k), Sample(r, k), Sample(sc, k));
        const KAffineMatrix placed = local * lacked[static_cast<size_t>(k)];
        ts.push_back(placed.GetT());
        rs.push_back(placed.GetR());
        ss.push_back(placed.GetS());
    }
    FillPositionKeys3ds(m->pos, ts);
    FillRotationKeys3ds(m->rot, rs);
    FillScaleKeys3ds(m->scale, ss);
    return held.Release();
}

void MakeDummy3ds(ObjectMotion3ds& m, const KQovNode& node) {
    m.name = kDummyName3ds;
    m.instance = Name(node).substr(0, 10);
    m.boundMin = {-0.5f, -0.5f, -0.5f};
    m.boundMax = {0.5f, 0.5f, 0.5f};
}

OmnilightMotion3ds* BuildOmnilightMotion3ds(Context3ds& ctx, KQovNode& node,
                                            const KeyframeSettings3ds& s) {
    const int count = KeyCount3ds(node, s);
    Held3ds<OmnilightMotion3ds> held;
    InitOmnilightMotion3ds(ctx, held.Slot(), count, count);
    OmnilightMotion3ds* m = held.get();
    if (!m) return nullptr;
    SetName(*m, node, s);
    FillNodePosition(m->pos, node, s, count);
    FillColorKeys(m->color, node, s.animated, count);
    return held.Release();
}

SpotlightMotion3ds* BuildSpotlightMotion3ds(Context3ds& ctx, KQovNode& node,
                                            const KeyframeSettings3ds& s) {
    const int count = KeyCount3ds(node, s);
    Held3ds<SpotlightMotion3ds> held;
    InitSpotlightMotion3ds(ctx, held.Slot(), count, count, count, count, 1, 1);
    SpotlightMotion3ds* m = held.get();
    if (!m) return nullptr;
    SetName(*m, node, s);
    FillNodePosition(m->pos, node, s, count);
    const KQovLight* light = node.GetLight();
    FillColorKeys(m->color, node, s.animated, count);
    const Channel3ds cone = TakeChannel(node, &KQovTakeNode::GetConeAngle,
                                        light ? light->GetDefaultConeAngle() : 45.0, s.animated);
    FillValueKeys3ds(m->hotspot, cone, count);
    FillValueKeys3ds(m->falloff, cone, count);
    FillValueKeys3ds(m->roll, Channel3ds{nullptr, 0.0}, 1);
    FillTarget(m->targetPos, m->target, node, s, KVector4(0, -1, 0), count);
    return held.Release();
}

CameraMotion3ds* BuildCameraMotion3ds(Context3ds& ctx, KQovNode& node,
                                      const KeyframeSettings3ds& s) {
    const int count = KeyCount3ds(node, s);
    Held3ds<CameraMotion3ds> held;
    InitCameraMotion3ds(ctx, held.Slot(), count, count, count, 1);
    CameraMotion3ds* m = held.get();
    if (!m) return nullptr;
    SetName(*m, node, s);
    Channels r;
    TransformChannels(node, 'R', r, s.animated);
    FillNodePosition(m->pos, node, s, count);
    const KQovCamera* camera = node.GetCamera();
    // The scene's field of view is converted on the way out; its curve stays.
    const Channel3ds fov = TakeChannel(node, &KQovTakeNode::GetFieldOfView,
                                       camera ? camera->GetDefaultFieldOfView() : 45.0, s.animated);
    FillValueKeys3ds(m->fov, fov, count);
    // Keys keep their animation: each is converted as the value it is, never replaced by the
    // still camera's angle. A still scene's camera whose angle is keyed (as every camera read
    // from a 3DS file is) keeps that angle too, not one made from its focal length.
    KQovTakeNode* take = node.GetCurrentTakeNode();
    const KFCurve* fovCurve = fov.curve ? fov.curve : take ? take->GetFieldOfView() : nullptr;
    const bool keyed = fovCurve && fovCurve->KeyGetCount() > 0;
    if (camera)
        for (float& v : m->fov.values)
            v = static_cast<float>(HorizontalFieldOfView3ds(*camera, v, keyed));
    const Channel3ds roll = TakeChannel(node, &KQovTakeNode::GetRoll,
                                        camera ? camera->GetDefaultRoll() : 0.0, s.animated);
    FillValueKeys3ds(m->roll, roll, count);
    if (!node.GetLookAtTarget())
        for (int k = 0; k < count; ++k)
            m->roll.values[static_cast<size_t>(k)] =
                static_cast<float>(DerivedRoll3ds(Sample(r, k)));
    FillTarget(m->targetPos, m->target, node, s, KVector4(1, 0, 0), count);
    return held.Release();
}
