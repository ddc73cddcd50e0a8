#include "formats/geometry/3ds/NodeAnimation3ds.h"

#include <cmath>

#include "animation/KFCurveFilterKeyReducer.h"
#include "animation/KFCurveFilterUnroll.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovCamera.h"
#include "attributes/KQovLight.h"
#include "formats/geometry/3ds/MeshImport3ds.h"
#include "formats/geometry/3ds/Tracks3ds.h"
#include "foundation/KRotationOrder.h"

namespace {

enum class Static { eProperty, eKeyAtZero };

KQovTakeNode* AddTake(KQovNode& node) {
    if (!node.AddTakeNode(kTakeName3ds) || !node.SetCurrentTakeNode(kTakeName3ds)) return nullptr;
    return node.GetCurrentTakeNode();
}

// Fills `count` curves from the track's values (converted per taken key), or
// sets the static value (the first key's, else `fallback`) through `set`.
template <class V, class Set>
void Apply(KFCurve* const* curves, int count, const Track3ds<V>& track,
           const std::vector<size_t>& taken, const std::vector<KVector4>& values,
           const TrackReading3ds& r, const KVector4& fallback, Static mode, Set set) {
    if (r.animate && values.size() >= 2) {
        SetTrackCurves3ds(curves, count, track.keys, taken, values, true);
        std::vector<KFCurve*> list(curves, curves + count);
        if (r.reduceKeys) {
            KFCurveFilterKeyReducer reducer;
            reducer.SetPrecision(1.0);
            for (KFCurve* c : list)
                if (c) reducer.Apply(*c);
        }
        return;
    }
    const KVector4 v = values.empty() ? fallback : values[0];
    if (mode == Static::eKeyAtZero) {
        SetTrackCurves3ds(curves, count, std::vector<KeyHeader3ds>(1), {0}, {v});
    } else {
        for (int i = 0; i < count; ++i)
            if (curves[i]) curves[i]->SetValue(static_cast<float>(v[i]));
    }
    set(v);
}

template <class V, class Convert>
std::vector<KVector4> Values(const Track3ds<V>& track, const std::vector<size_t>& taken,
                             Convert convert) {
    std::vector<KVector4> out;
    for (size_t i : taken)
        if (i < track.values.size()) out.push_back(convert(track.values[i]));
    return out;
}

void ReadPosition(KQovNode& node, KQovTakeNode* take, const Track3ds<Point3ds>& track,
                  const TrackReading3ds& r) {
    KFCurve* curves[3] = {take->GetTranslationX(), take->GetTranslationY(),
                          take->GetTranslationZ()};
    const std::vector<size_t> taken = RisingKeys3ds(track.keys, r.lastFrame, r.keysPast);
    const auto values = Values(
        track, taken, [&](const Point3ds& p) { return ScenePoint3ds(p.x, p.y, p.z, r.scale); });
    Apply(curves, 3, track, taken, values, r, KVector4(0, 0, 0), Static::eProperty,
          [&](const KVector4& v) { node.SetLocalTranslation(v[0], v[1], v[2]); });
}

void ReadColor(KQovNode& node, KQovTakeNode* take, const Track3ds<Point3ds>& track,
               const TrackReading3ds& r) {
    KFCurve* curves[3] = {take->GetColorR(), take->GetColorG(), take->GetColorB()};
    const std::vector<size_t> taken = RisingKeys3ds(track.keys, r.lastFrame, r.keysPast);
    const auto values =
        Values(track, taken, [](const Point3ds& p) { return KVector4(p.x, p.y, p.z); });
    Apply(curves, 3, track, taken, values, r, KVector4(1, 1, 1), Static::eKeyAtZero,
          [&](const KVector4& v) {
              if (KQovLight* light = node.GetLight()) light->SetDefaultColor(v[0], v[1], v[2]);
          });
}

template <class Set>
void ReadValue(KFCurve* curve, const Track3ds<float>& track, const TrackReading3ds& r,
               double fallback, Set set) {
    const std::vector<size_t> taken = RisingKeys3ds(track.keys, r.lastFrame, r.keysPast);
    const auto values = Values(track, taken, [](float f) { return KVector4(f, 0, 0); });
    Apply(&curve, 1, track, taken, values, r, KVector4(fallback, 0, 0), Static::eKeyAtZero,
          [&](const KVector4& v) { set(v[0]); });
}

// The curves' rotation at every frame from `first` to `last` is the spline's.
bool FollowsSpline(KFCurve* const* curves, const RotationSpline3ds& spline) {
    for (uint64_t f = spline.FirstFrame(); f <= spline.LastFrame(); ++f) {
        const KTime time = FrameTime3ds(f);
        KMatrix ours, theirs;
        KMatrixSetRotationXYZ(ours, KVector4(curves[0]->Evaluate(time), curves[1]->Evaluate(time),
                                             curves[2]->Evaluate(time)));
        KQuaternionToMatrix(theirs, spline.At(double(f)));
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                if (!(std::fabs(ours[i][j] - theirs[i][j]) <= 1e-4)) return false;
    }
    return true;
}

void Unroll(KFCurve* const* curves) {
    std::vector<KFCurve*> list(curves, curves + 3);
    KFCurveFilterUnroll unroll;
    unroll.SetPath(true);
    unroll.SetPrecision(0.25);
    unroll.Apply(list.data(), 3);
}

// The rotation track: its keys composed into Euler keys where their curves turn as the file's
// spline does at every frame between keys (turns of up to 180 degrees about one axis); else the
// spline sampled at every frame.
void ReadRotation(KQovNode& node, KFCurve* const* rot, const Track3ds<Rotation3ds>& track,
                  const TrackReading3ds& r) {
    const std::vector<size_t> taken = RisingKeys3ds(track.keys, r.lastFrame, r.keysPast);
    const std::vector<KVector4> values = ReadRotations3ds(track, taken);
    if (!r.animate || values.size() < 2) {
        const KVector4 v = values.empty() ? KVector4(0, 0, 0) : values[0];
        for (int i = 0; i < 3; ++i)
            if (rot[i]) rot[i]->SetValue(static_cast<float>(v[i]));
        node.SetLocalRotation(v[0], v[1], v[2]);
        return;
    }
    if (!rot[0] || !rot[1] || !rot[2]) {
        SetTrackCurves3ds(rot, 3, track.keys, taken, values);
        return;
    }
    SetTrackCurves3ds(rot, 3, track.keys, taken, values);
    Unroll(rot);
    const RotationSpline3ds spline(track, taken);
    const int64_t frames = int64_t(spline.LastFrame()) - spline.FirstFrame() + 1;
    if (r.rotationFrames && *r.rotationFrames < 2 * frames) {
        if (r.rotationsUnfollowed) ++*r.rotationsUnfollowed;
    } else {
        if (r.rotationFrames) *r.rotationFrames -= frames;
        if (!FollowsSpline(rot, spline)) {
            // A key a frame, from the first key to the last.
            std::vector<KeyHeader3ds> keys;
            std::vector<size_t> every;
            std::vector<KVector4> samples;
            for (uint64_t f = spline.FirstFrame(); f <= spline.LastFrame(); ++f) {
                KeyHeader3ds key;
                key.time = uint32_t(f);
                every.push_back(keys.size());
                keys.push_back(key);
                samples.push_back(EulerOf3ds(spline.At(double(f))));
            }
            SetTrackCurves3ds(rot, 3, keys, every, samples);
            Unroll(rot);
            if (r.rotationFrames) *r.rotationFrames -= frames;
        }
    }
    if (r.reduceKeys) {
        KFCurveFilterKeyReducer reducer;
        reducer.SetPrecision(1.0);
        for (int i = 0; i < 3; ++i) reducer.Apply(*rot[i]);
    }
}

// The hide track: each key turns the node's visibility over, visible before the first. Keys
// of constant interpolation on "Visibility"; without animation, the state at frame 0.
void ReadHide(KQovNode& node, KQovTakeNode* take, const Track3ds<NoValue3ds>& track,
              const TrackReading3ds& r) {
    const std::vector<size_t> taken = RisingKeys3ds(track.keys, r.lastFrame, r.keysPast);
    if (taken.empty()) return;
    const bool hiddenAtStart = track.keys[taken.front()].time == 0;
    KFCurve* curve = r.animate ? take->GetVisibility() : nullptr;
    if (curve) {
        std::vector<std::pair<uint32_t, bool>> keys;
        bool visible = true;
        if (!hiddenAtStart) keys.emplace_back(0, true);
        for (size_t i : taken) keys.emplace_back(track.keys[i].time, visible = !visible);
        const int n = static_cast<int>(keys.size());
        curve->PrepareKeys(n);
        for (int k = 0; k < n; ++k)
            curve->KeySet(k, FrameTime3ds(keys[size_t(k)].first),
                          keys[size_t(k)].second ? 1.0f : 0.0f, KFCURVE_INTERPOLATION_CONSTANT,
                          KFCURVE_CONSTANT_STANDARD);
        curve->CommitKeys(n);
        curve->SetValue(hiddenAtStart ? 0.0f : 1.0f);
    }
    if (hiddenAtStart) node.SetVisibility(false);
}

// A target node's position track, in the target's own "default take".
bool ReadTargetTrack(KQovNode* target, const Track3ds<Point3ds>& track, const TrackReading3ds& r) {
    if (!target) return true;
    KQovTakeNode* take = AddTake(*target);
    if (!take) return false;
    ReadPosition(*target, take, track, r);
    return true;
}

}  // namespace

bool ReadObjectAnimation3ds(KQovNode& node, const ObjectMotion3ds& m, const TrackReading3ds& r) {
    KQovTakeNode* take = AddTake(node);
    if (!take) return false;
    ReadPosition(node, take, m.pos, r);
    KFCurve* rot[3] = {take->GetRotationX(), take->GetRotationY(), take->GetRotationZ()};
    ReadRotation(node, rot, m.rot, r);
    KFCurve* scale[3] = {take->GetScalingX(), take->GetScalingY(), take->GetScalingZ()};
    const std::vector<size_t> scaleKeys = RisingKeys3ds(m.scale.keys, r.lastFrame, r.keysPast);
    const auto values =
        Values(m.scale, scaleKeys, [](const Point3ds& p) { return KVector4(p.x, p.z, p.y); });
    Apply(scale, 3, m.scale, scaleKeys, values, r, KVector4(1, 1, 1), Static::eProperty,
          [&](const KVector4& v) { node.SetLocalScaling(v[0], v[1], v[2]); });
    ReadHide(node, take, m.hide, r);
    return true;
}

bool ReadOmnilightAnimation3ds(KQovNode& node, const OmnilightMotion3ds& m,
                               const TrackReading3ds& r) {
    KQovTakeNode* take = AddTake(node);
    if (!take) return false;
    ReadPosition(node, take, m.pos, r);
    ReadColor(node, take, m.color, r);
    return true;
}

bool ReadSpotlightAnimation3ds(KQovNode& node, KQovNode* target, const SpotlightMotion3ds& m,
                               const TrackReading3ds& r) {
    KQovTakeNode* take = AddTake(node);
    if (!take) return false;
    ReadPosition(node, take, m.pos, r);
    ReadColor(node, take, m.color, r);
    ReadValue(take->GetConeAngle(), m.falloff, r, 45.0, [&](double v) {
        if (KQovLight* light = node.GetLight()) light->SetDefaultConeAngle(v);
    });
    return ReadTargetTrack(target, m.targetPos, r);
}

bool ReadCameraAnimation3ds(KQovNode& node, KQovNode* target, const CameraMotion3ds& m,
                            const TrackReading3ds& r) {
    KQovTakeNode* take = AddTake(node);
    if (!take) return false;
    ReadPosition(node, take, m.pos, r);
    KQovCamera* camera = node.GetCamera();
    ReadValue(take->GetFieldOfView(), m.fov, r, 45.0, [&](double v) {
        if (camera) camera->SetDefaultFieldOfView(v);
    });
    ReadValue(take->GetRoll(), m.roll, r, 0.0, [&](double v) {
        if (camera) camera->SetDefaultRoll(v);
    });
    return ReadTargetTrack(target, m.targetPos, r);
}
