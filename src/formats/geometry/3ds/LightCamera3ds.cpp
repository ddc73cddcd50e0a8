#include "formats/geometry/3ds/LightCamera3ds.h"

#include <algorithm>
#include <cmath>

#include "formats/geometry/3ds/Axes3ds.h"
#include "foundation/KRotationOrder.h"

namespace {

KVector4 Turn(const KVector4& rotation, const KVector4& v) {
    KMatrix m;
    KMatrixSetRotationXYZ(m, rotation);
    KVector4 out;
    KMatrixRotateVector(out, m, v);
    return out;
}

}  // namespace

void SetupLight3ds(const Light3ds& record, KQovLight& light) {
    light.SetLightType(record.spot ? 2 : 0);
    if (!record.spot) return;
    if (record.spot->projectorFlag) light.SetGoboFileName(record.spot->projectorName.c_str());
    light.SetDefaultConeAngle(record.spot->falloff);
}

void SetupLightLevel3ds(const Light3ds& record, KQovLight& light) {
    // In single precision, as the file holds it: 0.4 gives 40, not 40.0000006.
    light.SetDefaultIntensity(double(record.multiplier * 100.0f));
    light.SetCastLightOnObject(record.off == 0);
}

void SetupCamera3ds(const Camera3ds& record, KQovCamera& camera, double scale,
                    const Color3ds& background) {
    camera.SetNearPlane(record.nearRange * scale);
    camera.SetFarPlane(record.farRange * scale * 10);
    // A zero field of view has no focal length; the camera keeps its default.
    if (record.fov > 0) camera.SetFocalLength(2400.0 / record.fov);
    camera.SetApertureMode(1);
    camera.SetDefaultBackgroundColor(background.r, background.g, background.b);
}

void FillLight3ds(const KQovLight& light, const KVector4& translation, const std::string& name,
                  Light3ds& record) {
    record.name = name.substr(0, 10);
    const KVector4 p = ConvertPosition3ds(translation);
    record.position = {static_cast<float>(p[0]), static_cast<float>(p[1]),
                       static_cast<float>(p[2])};
    double r = 1, g = 1, b = 1;
    light.GetDefaultColor(r, g, b);
    record.color = {static_cast<float>(r), static_cast<float>(g), static_cast<float>(b)};
    record.multiplier = static_cast<float>(light.GetDefaultIntensity() * 0.01);
    record.off = light.GetCastLightOnObject() ? 0 : 1;
    if (record.spot) record.spot->hotspot = static_cast<float>(light.GetDefaultConeAngle());
}

void FillCamera3ds(const KVector4& translation, const std::string& name, Camera3ds& record) {
    record.name = name.substr(0, 10);
    const KVector4 p = ConvertPosition3ds(translation);
    record.position = {static_cast<float>(p[0]), static_cast<float>(p[1]),
                       static_cast<float>(p[2])};
}

double HorizontalFieldOfView3ds(const KQovCamera& camera, double degrees, bool keyed) {
    switch (camera.GetApertureMode()) {
        case 1:
            return keyed ? degrees : camera.ComputeFieldOfView();
        case 0:
            return keyed ? degrees : camera.GetDefaultFieldOfViewX();
        default:
            break;
    }
    const double height = camera.GetFilmHeight();
    const double aspect = height != 0.0 ? camera.GetFilmWidth() / height : 1.0;
    return std::atan(std::tan(degrees * 0.008726646259971648) * aspect *
                     camera.GetFilmSqueezeRatio()) *
           114.59155902616465;
}

KVector4 TargetPoint3ds(const KVector4& translation, const KVector4& rotation,
                        const KVector4& axis) {
    const KVector4 d = Turn(rotation, axis);
    return KVector4(translation[0] + 10 * d[0], translation[1] + 10 * d[1],
                    translation[2] + 10 * d[2]);
}

double DerivedRoll3ds(const KVector4& rotation) {
    const KVector4 z = Turn(rotation, KVector4(0, 0, 1));
    // Rounding can push the cosine past 1.
    const double angle = std::acos(std::clamp(z[1], -1.0, 1.0)) * 57.29564553093965;
    const KVector4 view = Turn(rotation, KVector4(1, 0, 0));
    const KVector4 side = view.CrossProduct(KVector4(0, 1, 0));
    const double roll = 90.0 - angle;
    return z[0] * side[0] + z[1] * side[1] + z[2] * side[2] < 0 ? -roll : roll;
}
