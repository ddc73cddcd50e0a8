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

// Quaternions of the rotation spline, in the left-handed product of KQuaternionMultiply.
KQuaternion SplineProduct(const KQuaternion& a, const KQuaternion& b) {
    KQuaternion out;
    KQuaternionMultiply(out, a, b);
    return out;
}

KQuaternion SplineInverse(const KQuaternion& q) {
    return KQuaternion(-q[0], -q[1], -q[2], q[3]);
}

// exp of a pure quaternion: the turn of twice its length about it.
KQuaternion SplineExp(const KVector4& v) {
    const double angle = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (angle < 1e-12) return KQuaternion(v[0], v[1], v[2], 1.0);
    const double s = std::sin(angle) / angle;
    return KQuaternion(v[0] * s, v[1] * s, v[2] * s, std::cos(angle));
}

// The log of a unit quaternion nearest `hint` of all its logs (about its axis, half turns
// apart): the way from one rotation to another that a turn of more than 180 degrees takes.
KVector4 SplineLogNear(const KQuaternion& q, const KVector4& hint) {
    const double length = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2]);
    KVector4 axis;
    double angle;
    if (length > 1e-12) {
        axis = KVector4(q[0] / length, q[1] / length, q[2] / length);
        angle = std::atan2(length, q[3]);
    } else {
        const double h = std::sqrt(hint[0] * hint[0] + hint[1] * hint[1] + hint[2] * hint[2]);
        axis = h > 1e-12 ? KVector4(hint[0] / h, hint[1] / h, hint[2] / h) : KVector4(1, 0, 0);
        angle = q[3] > 0 ? 0.0 : M_PI;
    }
    const double along = hint[0] * axis[0] + hint[1] * axis[1] + hint[2] * axis[2];
    angle += M_PI * std::round((along - angle) / M_PI);
    return KVector4(axis[0] * angle, axis[1] * angle, axis[2] * angle);
}

KVector4 SplineScaled(const KVector4& v, double s) {
    return KVector4(v[0] * s, v[1] * s, v[2] * s);
}

KVector4 SplineSum(const KVector4& a, double s, const KVector4& b, double t) {
    return KVector4(a[0] * s + b[0] * t, a[1] * s + b[1] * t, a[2] * s + b[2] * t);
}

// The same turn the short way: what the spline's tangents are made of.
KVector4 SplineShort(const KVector4& v) {
    const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (length <= M_PI / 2) return v;
    return SplineScaled(v, (length - M_PI) / length);
}

// From a to b, the short way, at t.
KQuaternion SplineSlerp(const KQuaternion& a, KQuaternion b, double t) {
    if (a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3] < 0)
        b = KQuaternion(-b[0], -b[1], -b[2], -b[3]);
    const KVector4 log = SplineLogNear(SplineProduct(b, SplineInverse(a)), KVector4());
    return SplineProduct(SplineExp(SplineScaled(log, t)), a);
}

}  // namespace

RotationSpline3ds::RotationSpline3ds(const Track3ds<Rotation3ds>& track,
                                     const std::vector<size_t>& taken) {
    KQuaternion q;
    for (size_t i : taken) {
        if (i >= track.values.size() || i >= track.keys.size()) break;
        const Rotation3ds& r = track.values[i];
        KVector4 axis(r.x, r.z, -r.y);
        const double length = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
        // As the keys read into Euler curves: the file's angle turned the scene's way.
        const KVector4 turn = length > 0 ? SplineScaled(axis, -0.5 * double(r.angle) / length)
                                         : KVector4();
        q = SplineProduct(SplineExp(turn), q);
        const KeyHeader3ds& h = track.keys[i];
        mKeys.push_back({h.time, q, turn, q, q, h.tension, h.continuity, h.bias});
    }
    const size_t n = mKeys.size();
    for (size_t i = 0; i < n && n >= 2; ++i) {
        Key& k = mKeys[i];
        const double t = 1.0 - k.tension, c = k.continuity, b = k.bias;
        const KVector4 in = i > 0 ? k.turn : KVector4(), out = i + 1 < n ? mKeys[i + 1].turn : KVector4();
        const KVector4 tin = SplineShort(in), tout = SplineShort(out);
        KVector4 leaving, arriving;
        if (i == 0) {
            leaving = tout;  // the end keys' own tension, continuity and bias count for nothing
        } else if (i + 1 == n) {
            arriving = tin;
        } else {
            // Tangents in the key's frames, weighed by the frames on each side.
            const double before = double(k.frame) - mKeys[i - 1].frame;
            const double after = double(mKeys[i + 1].frame) - k.frame;
            const double f = before + after > 0 ? 1.0 / (before + after) : 0.0;
            const double fn = 2 * after * f + std::fabs(c) * (1 - 2 * after * f);
            const double fp = 2 * before * f + std::fabs(c) * (1 - 2 * before * f);
            leaving = SplineScaled(
                SplineSum(tin, 0.5 * t * (1 + c) * (1 + b), tout, 0.5 * t * (1 - c) * (1 - b)), fn);
            arriving = SplineScaled(
                SplineSum(tin, 0.5 * t * (1 - c) * (1 + b), tout, 0.5 * t * (1 + c) * (1 - b)), fp);
        }
        if (i + 1 < n) k.a = SplineProduct(SplineExp(SplineSum(leaving, 0.5, tout, -0.5)), k.q);
        if (i > 0) k.b = SplineProduct(SplineExp(SplineSum(tin, 0.5, arriving, -0.5)), k.q);
    }
}

KQuaternion RotationSpline3ds::At(double frame) const {
    if (mKeys.empty()) return KQuaternion();
    if (frame <= mKeys.front().frame) return mKeys.front().q;
    if (frame >= mKeys.back().frame) return mKeys.back().q;
    // The segment by halving: a track may hold a key at every frame it is followed at.
    const auto after = std::upper_bound(mKeys.begin() + 1, mKeys.end() - 1, frame,
                                        [](double f, const Key& key) { return f < key.frame; });
    const Key& k = *(after - 1);
    const Key& next = *after;
    const double u = (frame - k.frame) / (double(next.frame) - k.frame);
    // Both ways follow the whole turn of the next key.
    const KQuaternion along = SplineProduct(SplineExp(SplineScaled(next.turn, u)), k.q);
    const KVector4 inner = SplineLogNear(SplineProduct(next.b, SplineInverse(k.a)), next.turn);
    const KQuaternion between = SplineProduct(SplineExp(SplineScaled(inner, u)), k.a);
    return SplineSlerp(along, between, 2 * u * (1 - u));
}

KVector4 EulerOf3ds(const KQuaternion& q) {
    KMatrix m;
    KQuaternionToMatrix(m, q);
    KVector4 euler;
    KMatrixToEulerXYZ(euler, m);
    return euler;
}

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

void FillHideKeys3ds(Track3ds<NoValue3ds>& track, KFCurve* visibility, bool visibleAtRest,
                     int count) {
    track.keys.clear();
    track.values.clear();
    const bool keyed = visibility && visibility->KeyGetCount() > 0;
    bool visible = true;
    for (int k = 0; k < (keyed ? count : 1); ++k) {
        const bool seen = keyed ? visibility->Evaluate(FrameTime3ds(k)) >= 0.5 : visibleAtRest;
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
                       const std::vector<size_t>& taken, const std::vector<KVector4>& values,
                       bool weighSpacing) {
    const int n = static_cast<int>(std::min(taken.size(), values.size()));
    auto frame = [&](int k) { return double(keys[taken[size_t(k)]].time); };
    bool uneven = false;
    for (int k = 1; weighSpacing && k + 1 < n; ++k)
        uneven = uneven || frame(k) - frame(k - 1) != frame(k + 1) - frame(k);
    // TCB keys also weigh the end keys' own spline values, which the file's spline does not.
    for (int k : {0, n - 1}) {
        const KeyHeader3ds* h = weighSpacing && n >= 2 ? &keys[taken[size_t(k)]] : nullptr;
        uneven = uneven || (h && (h->tension != 0 || h->continuity != 0 || h->bias != 0));
    }
    if (uneven) {
        // Hermite keys with the file's own tangents, per second.
        const double second = FrameTime3ds(30).GetSecondDouble() / 30.0;
        for (int c = 0; c < count; ++c) {
            if (!curves[c]) continue;
            const size_t size = static_cast<size_t>(n);
            std::vector<double> v(size), leaving(size), arriving(size);
            for (int k = 0; k < n; ++k) v[size_t(k)] = static_cast<float>(values[size_t(k)][c]);
            for (int k = 0; k < n; ++k) {
                const KeyHeader3ds& h = keys[taken[size_t(k)]];
                const double t = 1.0 - h.tension, cc = h.continuity, b = h.bias;
                const double in = k > 0 ? v[size_t(k)] - v[size_t(k - 1)] : 0.0;
                const double out = k + 1 < n ? v[size_t(k + 1)] - v[size_t(k)] : 0.0;
                const double before = k > 0 ? frame(k) - frame(k - 1) : 0.0;
                const double after = k + 1 < n ? frame(k + 1) - frame(k) : 0.0;
                double to = 0, ti = 0;
                if (k == 0 || k + 1 == n) {
                    to = out, ti = in;  // the end keys' own spline values count for nothing
                } else {
                    const double w = 1.0 / (before + after);
                    // Weighed by the frames on each side, the less the more continuity.
                    const double fn = 2 * after * w + std::fabs(cc) * (1 - 2 * after * w);
                    const double fp = 2 * before * w + std::fabs(cc) * (1 - 2 * before * w);
                    to = 0.5 * t * ((1 + cc) * (1 + b) * in + (1 - cc) * (1 - b) * out) * fn;
                    ti = 0.5 * t * ((1 - cc) * (1 + b) * in + (1 + cc) * (1 - b) * out) * fp;
                }
                leaving[size_t(k)] = after > 0 ? to / (after * second) : 0.0;
                arriving[size_t(k)] = before > 0 ? ti / (before * second) : 0.0;
            }
            curves[c]->PrepareKeys(n);
            for (int k = 0; k < n; ++k)
                curves[c]->KeySet(k, FrameTime3ds(keys[taken[size_t(k)]].time),
                                  static_cast<float>(v[size_t(k)]), KFCURVE_INTERPOLATION_CUBIC,
                                  KFCURVE_TANGENT_USER, static_cast<float>(leaving[size_t(k)]),
                                  k + 1 < n ? static_cast<float>(arriving[size_t(k + 1)]) : 0.0f);
            curves[c]->CommitKeys(n);
        }
        return;
    }
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
