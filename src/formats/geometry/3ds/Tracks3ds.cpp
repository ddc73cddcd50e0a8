#include "formats/geometry/3ds/Tracks3ds.h"

#include <algorithm>
#include <cmath>

#include "formats/geometry/3ds/Axes3ds.h"
#include "foundation/KAffineMatrix.h"
#include "foundation/KQuaternion.h"
#include "foundation/KRotationOrder.h"

namespace {

constexpr uint16_t kKeyFlags3ds = 7;

template <class V, class F>
void Fill(Track3ds<V>& track, int count, F value) {
    const size_t n = static_cast<size_t>(std::max(count, 0));
    track.keys.assign(n, KeyHeader3ds());
    track.values.resize(n);
    for (size_t k = 0; k < n; ++k) {
        track.keys[k].time = static_cast<uint32_t>(k);
        track.keys[k].rflags = kKeyFlags3ds;
        track.values[k] = value(static_cast<int64_t>(k));
    }
}

KVector4 SampleChannels(const Channel3ds (&xyz)[3], int64_t frame) {
    return KVector4(xyz[0].At(frame), xyz[1].At(frame), xyz[2].At(frame));
}

Point3ds ToPoint(const KVector4& v) {
    return Point3ds{static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2])};
}

double Clamp1(double w) {
    return std::min(1.0, std::max(-1.0, w));
}

}  // namespace

double Channel3ds::At(int64_t frame) const {
    if (!curve || curve->KeyGetCount() == 0) return value;
    return curve->Evaluate(FrameTime3ds(frame));
}

std::vector<KVector4> SampleFrames3ds(const Channel3ds (&xyz)[3], int count) {
    std::vector<KVector4> values;
    for (int k = 0; k < count; ++k) values.push_back(SampleChannels(xyz, k));
    return values;
}

void FillPositionKeys3ds(Track3ds<Point3ds>& track, const Channel3ds (&xyz)[3], int count) {
    FillPositionKeys3ds(track, SampleFrames3ds(xyz, count));
}

void FillPositionKeys3ds(Track3ds<Point3ds>& track, const std::vector<KVector4>& frames) {
    Fill(track, int(frames.size()),
         [&](int64_t k) { return ToPoint(ConvertPosition3ds(frames[size_t(k)])); });
}

void FillScaleKeys3ds(Track3ds<Point3ds>& track, const Channel3ds (&xyz)[3], int count) {
    FillScaleKeys3ds(track, SampleFrames3ds(xyz, count));
}

void FillScaleKeys3ds(Track3ds<Point3ds>& track, const std::vector<KVector4>& frames) {
    Fill(track, int(frames.size()), [&](int64_t k) {
        const KVector4 s = frames[size_t(k)];
        // A vanished scaling would make the node unrecoverable in the file.
        if (std::fabs(s[0]) < 1e-5 && std::fabs(s[1]) < 1e-5 && std::fabs(s[2]) < 1e-5)
            return Point3ds{1, 1, 1};
        return ToPoint(ConvertScaling3ds(s));
    });
}

void FillColorKeys3ds(Track3ds<Point3ds>& track, const Channel3ds (&rgb)[3], int count) {
    Fill(track, count, [&](int64_t k) { return ToPoint(SampleChannels(rgb, k)); });
}

void FillValueKeys3ds(Track3ds<float>& track, const Channel3ds& channel, int count) {
    Fill(track, count, [&](int64_t k) { return static_cast<float>(channel.At(k)); });
}

void FillRotationKeys3ds(Track3ds<Rotation3ds>& track, const Channel3ds (&xyz)[3], int count) {
    FillRotationKeys3ds(track, SampleFrames3ds(xyz, count));
}

void FillRotationKeys3ds(Track3ds<Rotation3ds>& track, const std::vector<KVector4>& frames) {
    KAffineMatrix previous;
    Fill(track, int(frames.size()), [&](int64_t k) {
        KAffineMatrix current;
        current.SetR(frames[size_t(k)]);
        const KAffineMatrix relative = previous.Inverse() * current;
        previous = current;
        const KQuaternion q = relative.GetQ();
        KVector4 axis(q[0], q[1], q[2]);
        axis.Normalize();
        // Rounding can push w past 1.
        const double angle = std::acos(Clamp1(q[3])) * -2.0;
        const KVector4 fileAxis = ConvertPosition3ds(axis);
        Rotation3ds r{static_cast<float>(angle), static_cast<float>(fileAxis[0]),
                      static_cast<float>(fileAxis[1]), static_cast<float>(fileAxis[2])};
        if (std::fabs(r.x) < 1e-5 && std::fabs(r.y) < 1e-5 && std::fabs(r.z) < 1e-5 &&
            std::fabs(r.angle) < 1e-5)
            r = Rotation3ds{0, -1, 0, 0};
        return r;
    });
}

void FillHideKeys3ds(Track3ds<NoValue3ds>& track, KFCurve* visibility, int count) {
    track.keys.clear();
    track.values.clear();
    if (!visibility || visibility->KeyGetCount() == 0) return;
    bool visible = true;
    for (int k = 0; k < count; ++k) {
        const bool seen = visibility->Evaluate(FrameTime3ds(k)) >= 0.5;
        if (seen == visible) continue;
        visible = seen;
        KeyHeader3ds key;
        key.time = static_cast<uint32_t>(k);
        track.keys.push_back(key);
        track.values.push_back(NoValue3ds());
    }
}

std::vector<size_t> RisingKeys3ds(const std::vector<KeyHeader3ds>& keys, uint32_t last,
                                  size_t* past) {
    std::vector<size_t> taken;
    for (size_t i = 0; i < keys.size(); ++i) {
        if (keys[i].time > last) {
            if (past) ++*past;
        } else if (taken.empty() || keys[i].time > keys[taken.back()].time) {
            taken.push_back(i);
        }
    }
    return taken;
}

std::vector<KVector4> ReadRotations3ds(const Track3ds<Rotation3ds>& track,
                                       const std::vector<size_t>& taken) {
    std::vector<KVector4> angles;
    angles.reserve(taken.size());
    KQuaternion running;
    for (size_t i : taken) {
        if (i >= track.values.size()) break;
        const Rotation3ds& r = track.values[i];
        KVector4 axis(r.x, r.z, -r.y);
        axis.Normalize();
        const double half = -r.angle * 0.5;
        const KQuaternion q(axis[0] * std::sin(half), axis[1] * std::sin(half),
                            axis[2] * std::sin(half), std::cos(half));
        KQuaternionMultiply(running, q, running);
        KQuaternionNormalize(running, running);
        KMatrix m;
        KQuaternionToMatrix(m, running);
        KVector4 euler;
        KMatrixToEulerXYZ(euler, m);
        angles.push_back(euler);
    }
    return angles;
}

void SetTrackCurves3ds(KFCurve* const* curves, int count, const std::vector<KeyHeader3ds>& keys,
                       const std::vector<size_t>& taken, const std::vector<KVector4>& values) {
    const int n = static_cast<int>(std::min(taken.size(), values.size()));
    for (int c = 0; c < count; ++c) {
        if (!curves[c]) continue;
        curves[c]->PrepareKeys(n);
        for (int k = 0; k < n; ++k) {
            const KeyHeader3ds& h = keys[taken[static_cast<size_t>(k)]];
            curves[c]->KeySetTCB(k, FrameTime3ds(h.time), static_cast<float>(values[k][c]),
                                 h.tension, h.continuity, h.bias);
        }
        curves[c]->CommitKeys(n);
    }
}
