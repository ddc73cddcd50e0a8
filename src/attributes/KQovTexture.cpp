#include "attributes/KQovTexture.h"

#include <cctype>
#include <cstring>
#include <string_view>
#include <utility>

#include "animation/KQovTakeNode.h"
#include "attributes/KQovEqualityKey.h"
#include "attributes/KQovShadingChannels.h"
#include "attributes/KQovTextureProperties.h"
#include "scene/KQovVideo.h"

namespace {

using TP = KQovTextureProperties;

const char* const kTextureErrors[] = {"Take node error"};

// The name without its trailing run of digits and blanks.
std::string_view NameStem(const char* name) {
    std::string_view stem(name ? name : "");
    while (!stem.empty() && (std::isdigit(static_cast<unsigned char>(stem.back())) ||
                             std::isspace(static_cast<unsigned char>(stem.back()))))
        stem.remove_suffix(1);
    return stem;
}

// The clip "VideoProperty" refers to, or null.
KQovVideo* ConnectedClip(const KQovTextureProperties& set) {
    auto* clip = KObjectSafeCast<KQovVideoProperties>(set.GetMediaClip());
    KQovObject* owner = clip ? clip->GetOwner() : nullptr;
    return owner && owner->GetObjectType() == KQovObject::eVideo ? static_cast<KQovVideo*>(owner)
                                                                  : nullptr;
}

// "CurrentMappingType" of a mapping type (a planar one by its normal).
int MappingProperty(int type, int normal) {
    switch (type) {
        case KQovTexture::eMappingPlanar:
            return normal == KQovTexture::eNormalX   ? TP::eMapX
                   : normal == KQovTexture::eNormalY ? TP::eMapY
                                                     : TP::eMapZ;
        case KQovTexture::eMappingSpherical:
            return TP::eMapSpherical;
        case KQovTexture::eMappingCylindrical:
            return TP::eMapCylindrical;
        case KQovTexture::eMappingBox:
            return TP::eMapBox;
        case KQovTexture::eMappingFace:
            return TP::eMapFace;
        case KQovTexture::eMappingUV:
            return TP::eMapUV;
        case KQovTexture::eMappingEnvironment:
            return TP::eMapEnvironment;
        default:
            return TP::eMapNone;
    }
}

// Use codes and "TextureTypeUse" values swap 1 with 3 and 2 with 4; the
// exchange is its own inverse.
int SwapUse(int value) {
    static const int kSwap[] = {0, 3, 4, 1, 2, 5};
    return value >= 0 && value < 6 ? kSwap[value] : 0;
}

}  // namespace

KQovTexture::KQovTexture(KQovObjectManager* manager, const char* name)
    : KQovTakeNodeContainer(manager, name, &mError), mError(kTextureErrors, 1) {
    mProperties = new KQovTextureProperties(this);
    try {
        AddDefaultTakeNode();
        Reset();
    } catch (...) {
        // No destructor runs for a texture never made.
        std::exchange(mProperties, nullptr)->Destroy();
        throw;
    }
}

KQovTexture::~KQovTexture() {
    KQovTextureProperties* properties = mProperties;
    mProperties = nullptr;
    properties->Destroy();
}

void KQovTexture::PrepareDestroy() {
    if (mProperties) mProperties->PrepareDestroy();
}

KQovPropertyHandler* KQovTexture::GetPropertyHandler() const {
    return mProperties;
}

void KQovTexture::InitTakeNodeChannels(KQovTakeNode* takeNode) {
    const double zero[3] = {0.0, 0.0, 0.0};
    const double one[3] = {1.0, 1.0, 1.0};
    KQovShadingChannels::AddVector(takeNode, "Translation", "Translation", zero);
    KQovShadingChannels::AddVector(takeNode, "Rotation", "Rotation", zero);
    KQovShadingChannels::AddVector(takeNode, "Scaling", "Scaling", one);
    KQovShadingChannels::AddSingle(takeNode, "Alpha", "Number", 1.0);
}

const char* KQovTexture::GetChannelName(const KProperty* property) const {
    if (property && property == mProperties->GetTableProperty(TP::eTextureAlpha)) return "Alpha";
    return KQovTakeNodeContainer::GetChannelName(property);
}

void KQovTexture::Reset() {
    SetCropping(0, 0, 0, 0);
    mAlphaSource = eAlphaNone;
    SetDefaultTranslation(0.0, 0.0);
    SetDefaultRotation(0.0, 0.0, 0.0);
    SetDefaultScale(1.0, 1.0);
    SetDefaultAlpha(1.0);
    mPlanarNormal = eNormalX;
    SetMappingType(eMappingUV);
    mProperties->SetNumber(TP::eUseMaterial, 0.0);
    mProperties->SetNumber(TP::eUVSwap, 0.0);
    mTypeName = "TextureVideoClip";
    mUVScaling.Set(1.0, 1.0);
    mUVTranslation.Set(0.0, 0.0);
    mProperties->SetNumber(TP::eTextureTypeUse, 0.0);
    mProperties->SetNumber(TP::eCurrentTextureBlendMode, 1.0);
    SetWrapMode(0, 0);
}

// The clip shows the same file: a texture and its clip never disagree.
bool KQovTexture::SetFileName(const char* name) {
    if (!name || !*name) return false;
    mFileName = name;
    KQovVideo* clip = ConnectedClip(*mProperties);
    if (clip && std::strcmp(clip->GetFileName(), name) != 0) clip->SetFileName(name);
    return true;
}

bool KQovTexture::SetRelativeFileName(const char* name) {
    if (!name || !*name) return false;
    mRelativeFileName = name;
    KQovVideo* clip = ConnectedClip(*mProperties);
    if (clip && std::strcmp(clip->GetRelativeFileName(), name) != 0)
        clip->SetRelativeFileName(name);
    return true;
}

void KQovTexture::SetCropping(int32_t c0, int32_t c2, int32_t c1, int32_t c3) {
    mCropping[0] = c0;
    mCropping[1] = c1;
    mCropping[2] = c2;
    mCropping[3] = c3;
}

void KQovTexture::SetMappingType(int32_t type) {
    mMappingType = type;
    mProperties->SetNumber(TP::eCurrentMappingType, MappingProperty(type, mPlanarNormal));
}

void KQovTexture::SetPlanarMappingNormal(int32_t axis) {
    mPlanarNormal = axis;
    if (mMappingType == eMappingPlanar && axis >= eNormalX && axis <= eNormalZ)
        mProperties->SetNumber(TP::eCurrentMappingType, MappingProperty(mMappingType, axis));
}

void KQovTexture::SetSwapUV(bool on) {
    mProperties->SetNumber(TP::eUVSwap, on ? 1.0 : 0.0);
}

bool KQovTexture::GetSwapUV() const {
    return mProperties->GetNumber(TP::eUVSwap) != 0.0;
}

void KQovTexture::SetMaterialUse(int32_t mode) {
    mProperties->SetNumber(TP::eUseMaterial, mode == 0 ? 1.0 : 0.0);
}

int32_t KQovTexture::GetMaterialUse() const {
    return mProperties->GetNumber(TP::eUseMaterial) != 0.0 ? 0 : 1;
}

void KQovTexture::SetTextureUse(int32_t use) {
    mProperties->SetNumber(TP::eTextureTypeUse, SwapUse(use));
}

int32_t KQovTexture::GetTextureUse() const {
    return SwapUse(int(mProperties->GetNumber(TP::eTextureTypeUse)));
}

void KQovTexture::SetWrapMode(int32_t u, int32_t v) {
    mProperties->SetNumber(TP::eWrapModeU, u);
    mProperties->SetNumber(TP::eWrapModeV, v);
}

int32_t KQovTexture::GetWrapModeU() const {
    return int32_t(mProperties->GetNumber(TP::eWrapModeU));
}

int32_t KQovTexture::GetWrapModeV() const {
    return int32_t(mProperties->GetNumber(TP::eWrapModeV));
}

void KQovTexture::SetBlendMode(int32_t mode) {
    mProperties->SetNumber(TP::eCurrentTextureBlendMode, mode);
}

int32_t KQovTexture::GetBlendMode() const {
    return int32_t(mProperties->GetNumber(TP::eCurrentTextureBlendMode));
}

void KQovTexture::SetChannel(const char* channel, int row, const double* xyz) {
    for (int c = 0; c < 3; ++c) KQovShadingChannels::SetDefault(*this, channel, c, xyz[c]);
    mProperties->SetVector(row, xyz);
}

KVector4 KQovTexture::GetChannel(const char* channel, double neutral) const {
    KVector4 v(neutral, neutral, neutral, 1.0);
    for (int c = 0; c < 3; ++c) v[c] = KQovShadingChannels::GetDefault(*this, channel, c, neutral);
    return v;
}

void KQovTexture::SetDefaultTranslation(double u, double v) {
    const double xyz[3] = {u, v, 0.0};
    SetChannel("Translation", TP::eTranslation, xyz);
}

void KQovTexture::SetDefaultRotation(double u, double v, double w) {
    const double xyz[3] = {u, v, w};
    SetChannel("Rotation", TP::eRotation, xyz);
}

void KQovTexture::SetDefaultScale(double u, double v) {
    const double xyz[3] = {u, v, 1.0};
    SetChannel("Scaling", TP::eScaling, xyz);
}

KVector4 KQovTexture::GetDefaultTranslation() const {
    return GetChannel("Translation", 0.0);
}
KVector4 KQovTexture::GetDefaultRotation() const {
    return GetChannel("Rotation", 0.0);
}
KVector4 KQovTexture::GetDefaultScale() const {
    return GetChannel("Scaling", 1.0);
}
double KQovTexture::GetDefaultTranslationU() const {
    return GetDefaultTranslation()[0];
}
double KQovTexture::GetDefaultTranslationV() const {
    return GetDefaultTranslation()[1];
}
double KQovTexture::GetDefaultRotationU() const {
    return GetDefaultRotation()[0];
}
double KQovTexture::GetDefaultRotationV() const {
    return GetDefaultRotation()[1];
}
double KQovTexture::GetDefaultRotationW() const {
    return GetDefaultRotation()[2];
}
double KQovTexture::GetDefaultScaleU() const {
    return GetDefaultScale()[0];
}
double KQovTexture::GetDefaultScaleV() const {
    return GetDefaultScale()[1];
}

void KQovTexture::SetDefaultAlpha(double alpha) {
    KQovShadingChannels::SetDefault(*this, "Alpha", -1, alpha);
    mProperties->SetNumber(TP::eTextureAlpha, alpha);
}

double KQovTexture::GetDefaultAlpha() const {
    return mProperties->GetNumber(TP::eTextureAlpha);
}

KObject* KQovTexture::GetMediaClip() const {
    return mProperties->GetMediaClip();
}

std::string KQovTexture::GetEqualityKey() const {
    KQovEqualityKey key;
    key.AddText(NameStem(GetName()));
    const KVector4 t = GetDefaultTranslation(), r = GetDefaultRotation(), s = GetDefaultScale();
    for (double v : {t[0], t[1], r[0], r[1], r[2], s[0], s[1], GetDefaultAlpha(),
                     mProperties->GetNumber(TP::eTextureTypeUse), mUVScaling.mData[0],
                     mUVScaling.mData[1], mUVTranslation.mData[0], mUVTranslation.mData[1]})
        key.Add(v);
    for (int32_t v : {mCropping[0], mCropping[1], mCropping[2], mCropping[3], mAlphaSource,
                      mMappingType, mPlanarNormal, GetMaterialUse(), int32_t(GetSwapUV())})
        key.Add(v);
    for (const KString* text : {&mFileName, &mMediaName, &mTypeName}) key.AddText(text->Buffer());
    return key.Take(this);
}

bool KQovTexture::IsEqual(const KQovTexture& other) const {
    if (NameStem(GetName()) != NameStem(other.GetName())) return false;
    const KVector4 t = GetDefaultTranslation(), ot = other.GetDefaultTranslation();
    const KVector4 r = GetDefaultRotation(), orr = other.GetDefaultRotation();
    const KVector4 s = GetDefaultScale(), os = other.GetDefaultScale();
    if (t[0] != ot[0] || t[1] != ot[1] || r[0] != orr[0] || r[1] != orr[1] || r[2] != orr[2] ||
        s[0] != os[0] || s[1] != os[1])
        return false;
    if (GetDefaultAlpha() != other.GetDefaultAlpha()) return false;
    if (std::memcmp(mCropping, other.mCropping, sizeof mCropping) != 0 ||
        mAlphaSource != other.mAlphaSource || mMappingType != other.mMappingType ||
        mPlanarNormal != other.mPlanarNormal)
        return false;
    if (GetMaterialUse() != other.GetMaterialUse() ||
        mProperties->GetNumber(TP::eTextureTypeUse) !=
            other.mProperties->GetNumber(TP::eTextureTypeUse) ||
        GetSwapUV() != other.GetSwapUV())
        return false;
    return mFileName == other.mFileName && mMediaName == other.mMediaName &&
           mTypeName == other.mTypeName && mUVScaling == other.mUVScaling &&
           mUVTranslation == other.mUVTranslation;
}
