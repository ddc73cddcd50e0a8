#include "formats/geometry/3ds/MaterialConvert3ds.h"

#include <algorithm>
#include <cmath>

#include "attributes/KQovShadingChannels.h"
#include "foundation/KLocale.h"
#include "foundation/KMatrix.h"
#include "foundation/KPath.h"
#include "foundation/KRotationOrder.h"

namespace {

KColor ToColor(const Color3ds& c, double factor = 1.0) {
    return KColor(c.r * factor, c.g * factor, c.b * factor);
}

Color3ds FromColor(const KColor& c) {
    return Color3ds{static_cast<float>(c.mRed), static_cast<float>(c.mGreen),
                    static_cast<float>(c.mBlue)};
}

// A zero scale would divide by zero in the placement; it counts as 1.
double Scale(double s) {
    return s == 0.0 ? 1.0 : s;
}

KVector4 RotateZ(const KVector4& v, double degrees) {
    KMatrix m;
    KMatrixSetRotationXYZ(m, 0, 0, degrees);
    KVector4 out;
    KMatrixRotateVector(out, m, v);
    return out;
}

// The "Shininess" channel of a material at full shininess (1): a 3DS shininess s stands at
// 2s of it, so above 50% it passes that top, which only the channel itself holds.
constexpr double kFullShininess = 128.0;

// Self-illumination shows the diffuse colour at its share: an emission that is that colour
// scaled gives the share back; any other, its mean.
double SelfIllumination(const KColor& emissive, const KColor& diffuse) {
    const double e[3] = {emissive.mRed, emissive.mGreen, emissive.mBlue};
    const double d[3] = {diffuse.mRed, diffuse.mGreen, diffuse.mBlue};
    const double mean = (e[0] + e[1] + e[2]) * 0.3333333333333333;
    const int top = d[0] >= d[1] && d[0] >= d[2] ? 0 : d[1] >= d[2] ? 1 : 2;
    if (!(d[top] > 0.0)) return mean;
    const double share = e[top] / d[top];
    for (int c = 0; c < 3; ++c)
        if (!(std::fabs(e[c] - share * d[c]) <= 1e-6)) return mean;
    return share;
}

}  // namespace

void ApplyMaterial3ds(const Material3ds& r, KQovMaterial& m) {
    m.SetDefaultAmbient(ToColor(r.ambient));
    m.SetDefaultDiffuse(ToColor(r.diffuse));
    m.SetDefaultSpecular(ToColor(r.specular, r.shineStrength * 1.3333334f));
    m.SetDefaultShininess(std::min(2.0 * r.shininess, 1.0));
    if (2.0 * r.shininess > 1.0)
        KQovShadingChannels::SetDefault(m, "Shininess", -1, 2.0 * r.shininess * kFullShininess);
    m.SetDefaultEmissive(ToColor(r.diffuse, r.selfIllumination));
    m.SetDefaultOpacity(1.0 - r.transparency);
}

void ApplyTextureMap3ds(const TextureMap3ds& map, KQovTexture& t, bool first) {
    t.SetDefaultAlpha(map.percent);
    if (first) t.SetMaterialUse(map.percent >= 1.0f ? 1 : 0);
    t.SetBlendMode(0);
    const double su = Scale(map.uScale), sv = Scale(map.vScale);
    const double ou = map.uOffset, ov = map.vOffset, r = map.rotation;
    if (r == 0.0) {
        t.SetDefaultTranslation(-su * ((1 - 1 / su) * 0.5 + ou), -sv * ((1 - 1 / sv) * 0.5 - ov));
    } else {
        const KVector4 p = RotateZ(KVector4(-su * (ou + 0.5), -sv * (0.5 - ov), 0), -r);
        t.SetDefaultTranslation(p[0] + 0.5, p[1] + 0.5);
        t.SetDefaultRotation(0, 0, -r);
    }
    t.SetDefaultScale(su, sv);
    const int wrap = map.tiling == 1 ? 0 : 1;
    t.SetWrapMode(wrap, wrap);
}

void FillMaterial3ds(const KQovMaterial& m, Material3ds& r) {
    r.ambient = FromColor(m.GetDefaultAmbient());
    r.diffuse = FromColor(m.GetDefaultDiffuse());
    r.specular = FromColor(m.GetDefaultSpecular());
    const double full = KQovShadingChannels::GetDefault(m, "Shininess", -1, 0.0) / kFullShininess;
    r.shininess =
        static_cast<float>((full > 1.0 ? std::min(full, 2.0) : m.GetDefaultShininess()) * 0.5);
    r.shineStrength = static_cast<float>((r.specular.r + r.specular.g + r.specular.b) * 0.25);
    r.selfIllumination =
        static_cast<float>(SelfIllumination(m.GetDefaultEmissive(), m.GetDefaultDiffuse()));
    r.transparency = static_cast<float>(1.0 - m.GetDefaultOpacity());
    r.flagA081 = 1;
}

void FillTextureMap3ds(const KQovTexture& t, const std::string& name, bool second,
                       TextureMap3ds& map) {
    map.name = name;
    map.percent =
        static_cast<float>(t.GetDefaultAlpha() * (second && t.GetBlendMode() == 1 ? 0.5 : 1.0));
    map.tiling = t.GetWrapModeU() == 0 ? 1 : 2;
    const double su = Scale(t.GetDefaultScaleU()), sv = Scale(t.GetDefaultScaleV());
    map.uScale = static_cast<float>(su);
    map.vScale = static_cast<float>(sv);
    const double w = t.GetDefaultRotationW();
    double ou = 0, ov = 0;
    if (w == 0.0) {
        ou = -(t.GetDefaultTranslationU() / su) - (1 - 1 / su) * 0.5;
        ov = -(-(t.GetDefaultTranslationV() / sv) - (1 - 1 / sv) * 0.5);
    } else {
        // The reading placement undone: shift back, turn back, unscale.
        const KVector4 p = RotateZ(
            KVector4(t.GetDefaultTranslationU() - 0.5, t.GetDefaultTranslationV() - 0.5, 0), -w);
        ou = -p[0] / su - 0.5;
        ov = p[1] / sv + 0.5;
        map.rotation = static_cast<float>(-w);
    }
    map.uOffset = static_cast<float>(ou);
    map.vOffset = static_cast<float>(ov);
}

std::string MaterialName3ds(int meshCounter, int material, int first, int second, int serial) {
    std::string name = KFormatC("%d", meshCounter) + ".Mat" + KFormatC("%d", material);
    if (second >= 0)
        name += "T" + KFormatC("%d", first) + "T" + KFormatC("%d", second);
    else
        name += "Tex" + KFormatC("%d", first);
    // A 3DS material name holds at most 15 characters; an empty name would
    // leave the material unreachable.
    if (name.size() >= 15) name = "$MAT" + KFormatC("%d", serial);
    return name;
}
