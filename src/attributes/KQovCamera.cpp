#include "attributes/KQovCamera.h"

#include <algorithm>
#include <cmath>

#include "scene/KQovNode.h"
#include "scene/KQovTakeNodeContainer.h"

namespace {

using P = KQovCameraProperties;

const char kBackgroundChannel[] = "BackgroundColor (Color)";

// The scalar channels, named after their properties, with the default value
// and display colour their curves get in every take.
struct Channel {
    int row;
    KQovAttributeChannel channel;
    float value;
};
const Channel kChannels[] = {
    {P::eFieldOfView, {"FieldOfView", 1, nullptr, {0.55f, 0.55f, 0.81f}}, 25.115f},
    {P::eFieldOfViewX, {"FieldOfViewX", 1, nullptr, {0.06f, 0.06f, 0.94f}}, 40.0f},
    {P::eFieldOfViewY, {"FieldOfViewY", 1, nullptr, {0.04f, 0.04f, 0.4f}}, 40.0f},
    {P::eOpticalCenterX, {"OpticalCenterX", 1, nullptr, {0.5f, 0.88f, 0.73f}}, 0.0f},
    {P::eOpticalCenterY, {"OpticalCenterY", 1, nullptr, {0.13f, 0.56f, 0.34f}}, 0.0f},
    {P::eRoll, {"Roll", 1, nullptr, {0.13f, 0.18f, 0.4f}}, 0.0f},
    {P::eTurnTable, {"TurnTable", 1, nullptr, {0.4f, 0.13f, 0.18f}}, 0.0f},
};

struct FilmFormat {
    double width, height, squeeze;
};
const FilmFormat kFilmFormats[] = {
    {0.404, 0.295, 1.0}, {0.493, 0.292, 1.0}, {0.864, 0.630, 1.0}, {0.816, 0.612, 1.0},
    {0.980, 0.735, 1.0}, {0.825, 0.446, 1.0}, {0.864, 0.732, 2.0}, {2.066, 0.906, 1.0},
    {1.485, 0.991, 1.0}, {2.080, 1.480, 1.0}, {2.772, 2.072, 1.0},
};

struct CameraFormat {
    int format;
    double width, height, pixelRatio;
};
const CameraFormat kCameraFormats[] = {
    {1, 720, 486, 0.8999999999775},      {2, 640, 480, 0.999999999975},
    {3, 570, 486, 1.1368421052347366},   {4, 720, 576, 1.06666666664},
    {5, 1920, 1080, 0.9999999999562499}, {6, 640, 480, 0.999999999975},
    {7, 320, 200, 0.8333333333124999},   {8, 320, 240, 0.999999999975},
    {10, 1280, 1024, 1.06666666664},
};

// The embedded values a copy takes over, in copy order.
const int kCopiedRows[] = {
    P::eCameraProjectionType,
    P::eCameraFormat,
    P::eResolutionMode,
    P::eAspectW,
    P::eAspectH,
    P::ePixelAspectRatio,
    P::eNearPlane,
    P::eFarPlane,
    P::eLockMode,
    P::eFilmFormatIndex,
    P::eApertureMode,
    P::eFilmWidth,
    P::eFilmHeight,
    P::eFilmSqueezeRatio,
    P::eFocalLength,
    P::eViewFrustumBackPlaneMode,
    P::eBackgroundMode,
    P::eForegroundTransparent,
    P::eBackgroundAlphaTreshold,
    P::eFitImage,
    P::eCenter,
    P::eKeepRatio,
    P::eCrop,
    P::eBackPlaneDistance,
    P::eBackPlaneDistanceMode,
    P::eViewFrustum,
    P::eViewFrustumNearFarPlane,
    P::eShowGrid,
    P::eShowAzimut,
    P::eShowName,
    P::eShowTimeCode,
    P::eDisplaySafeArea,
    P::eSafeAreaDisplayStyle,
    P::eUseFrameColor,
    P::eFrameColor,
    P::eUseRealTimeDOFAndAA,
    P::eUseAntialiasing,
    P::eAntialiasingIntensity,
    P::eFrameSamplingCount,
    P::eUseAccumulationBuffer,
    P::eUseDepthOfField,
    P::eFocusSource,
    P::eFocusDistance,
    P::eFocusAngle,
};

// Within [low, high]; NaN gives `low`.
double Clamp(double value, double low, double high) {
    return std::max(low, std::min(value, high));
}

const char* RowName(int row) {
    return P::GetDescriptors()[row].name;
}

const double kMaxAngle = 179.0;
const double kMinAngle = 1.0;
const double kMmPerInch = 25.4;

}  // namespace

KQovCamera::KQovCamera(KQovObjectManager* manager)
    : KQovPropertySetAttribute(manager, new KQovCameraProperties()) {
    Reset();
}

// --- Channels ---

void KQovCamera::InitTakeNodeChannels(KQovTakeNode* takeNode) {
    // Read before any linked curve changes: the "Default" take's background
    // curves are the ones being made, so the colour comes from the property.
    double rgb[3];
    GetCameraProperties()->GetColor(P::eBackgroundColor, rgb);
    for (const Channel& entry : kChannels) {
        const double value = entry.value;
        KQovInitAttributeChannel(this, takeNode, entry.channel,
                                 GetCameraProperties()->GetTableProperty(entry.row), &value);
    }
    KQovInitAttributeChannel(this, takeNode, {kBackgroundChannel, 3},
                             GetCameraProperties()->GetTableProperty(P::eBackgroundColor), rgb);
}

void KQovCamera::RemoveTakeNodeChannels(KQovTakeNode* takeNode) {
    for (const Channel& entry : kChannels) KQovRemoveAttributeChannel(takeNode, entry.channel.name);
    KQovRemoveAttributeChannel(takeNode, kBackgroundChannel);
}

double KQovCamera::GetDefault(int row) const {
    return KQovGetDefaultValue(this, RowName(row), nullptr,
                               GetCameraProperties()->GetTableProperty(row));
}

void KQovCamera::SetDefault(int row, double value) {
    KQovSetDefaultValue(this, RowName(row), nullptr, GetCameraProperties()->GetTableProperty(row),
                        0, value);
}

KColor KQovCamera::GetDefaultBackgroundColor() const {
    KProperty* property = GetCameraProperties()->GetTableProperty(P::eBackgroundColor);
    double rgb[3];
    for (int c = 0; c < 3; ++c)
        rgb[c] = KQovGetDefaultValue(this, kBackgroundChannel,
                                     KQovTakeNodeContainer::GetComponentName(c), property, c);
    return KColor(rgb[0], rgb[1], rgb[2], 1.0);
}

void KQovCamera::SetDefaultBackgroundColor(double r, double g, double b) {
    const double rgb[3] = {r, g, b};
    KQovSetDefaultValues(this, kBackgroundChannel,
                         GetCameraProperties()->GetTableProperty(P::eBackgroundColor), rgb, 3);
}

KColor KQovCamera::GetColor(int row) const {
    double rgb[3];
    GetCameraProperties()->GetColor(row, rgb);
    return KColor(rgb[0], rgb[1], rgb[2], 1.0);
}

// --- Optics ---

double KQovCamera::ComputeFieldOfViewFromFocalLength(double filmWidth, double filmHeight,
                                                     double focalLength) const {
    const double aperture = GetApertureMode() == 2 ? filmHeight * kMmPerInch
                                                   : filmWidth * kMmPerInch * GetFilmSqueezeRatio();
    return std::atan2(aperture / focalLength * 0.5, 1.0) * 114.59155902616465;
}

double KQovCamera::ComputeFieldOfView() const {
    return Clamp(
        ComputeFieldOfViewFromFocalLength(GetFilmWidth(), GetFilmHeight(), GetFocalLength()),
        kMinAngle, kMaxAngle);
}

void KQovCamera::SetFocalLengthFromFieldOfView(double degrees) {
    const double angle = Clamp(degrees, kMinAngle, kMaxAngle);
    const double aperture = GetApertureMode() == 2
                                ? GetFilmHeight() * kMmPerInch
                                : GetFilmWidth() * kMmPerInch * GetFilmSqueezeRatio();
    Set(P::eFocalLength, aperture / std::tan(angle * 0.008726646259971648) * 0.5);
}

void KQovCamera::SetNearPlane(double value) {
    Set(P::eNearPlane, Clamp(value, 0.001, 600000.0));
    if (GetFarPlane() < GetNearPlane()) Set(P::eFarPlane, GetNearPlane());
}

void KQovCamera::SetFarPlane(double value) {
    Set(P::eFarPlane, Clamp(value, 0.001, 600000.0));
    if (GetNearPlane() > GetFarPlane()) Set(P::eNearPlane, GetFarPlane());
}

void KQovCamera::UpdateFilmAspectRatio() {
    // Through the value operation, so listeners hear it.
    if (GetFilmHeight() <= 0.0) return;
    const double ratio = GetFilmWidth() / GetFilmHeight();
    KQovSetPropertyNumbers(GetCameraProperties()->GetTableProperty(P::eFilmAspectRatio), &ratio, 1);
}

void KQovCamera::SetFilm(int row, double value) {
    if (value == Get(row)) return;
    Set(row, std::max(0.0001, value));
    Set(P::eFilmFormatIndex, 0);
    UpdateFilmAspectRatio();
}

void KQovCamera::SetFilmFormat(int index) {
    if (index < 1 || index > 11) {
        Set(P::eFilmFormatIndex, 0);
        return;
    }
    const FilmFormat& format = kFilmFormats[index - 1];
    Set(P::eFilmFormatIndex, index);
    Set(P::eFilmWidth, format.width);
    Set(P::eFilmHeight, format.height);
    Set(P::eFilmSqueezeRatio, format.squeeze);
    UpdateFilmAspectRatio();
}

// --- Output size ---

void KQovCamera::SetResolution(int mode, double width, double height) {
    double w = width, h = height;
    switch (mode) {
        case 0:
            break;
        case 1:
            w = std::max(0.001, width);
            h = 1.0;
            break;
        case 2:
            w = std::max(1.0, width);
            h = std::max(1.0, height);
            break;
        case 3:
            w = std::max(1.0, width);
            h = std::max(0.001, height);
            break;
        case 4:
            w = std::max(0.001, width);
            h = std::max(1.0, height);
            break;
        default:
            w = GetAspectWidth();
            h = GetAspectHeight();
            break;
    }
    Set(P::eAspectW, w);
    Set(P::eAspectH, h);
    Set(P::eCameraFormat, 0);
    Set(P::eResolutionMode, mode);
}

void KQovCamera::SetPixelAspectRatio(double value) {
    if (value == GetPixelAspectRatio()) return;
    Set(P::ePixelAspectRatio, Clamp(value, 0.05, 20.0));
    Set(P::eCameraFormat, 0);
}

void KQovCamera::SetCameraFormat(int format) {
    const int oldMode = GetResolutionMode();
    const auto* end = std::end(kCameraFormats);
    const auto* known =
        std::find_if(std::begin(kCameraFormats), end,
                     [format](const CameraFormat& f) { return f.format == format; });
    if (known == end) {
        Set(P::eCameraFormat, 0);
        return;
    }
    Set(P::eAspectW, known->width);
    Set(P::eAspectH, known->height);
    Set(P::eResolutionMode, 2);
    if (known->pixelRatio != GetPixelAspectRatio())
        Set(P::ePixelAspectRatio, Clamp(known->pixelRatio, 0.05, 20.0));
    Set(P::eCameraFormat, format);
    switch (oldMode) {
        case 1:
            Set(P::eAspectW, GetAspectWidth() * GetPixelAspectRatio() / GetAspectHeight());
            Set(P::eAspectH, 1.0);
            Set(P::eResolutionMode, 1);
            break;
        case 3:
            Set(P::eAspectH, GetAspectHeight() / GetAspectWidth());
            Set(P::eResolutionMode, 3);
            break;
        case 4:
            Set(P::eAspectW, GetAspectWidth() / GetAspectHeight());
            Set(P::eResolutionMode, 4);
            break;
        default:
            break;
    }
}

// --- Packed options ---

void KQovCamera::SetBackgroundPlacementOptions(int mask) {
    Set(P::eFitImage, (mask & 1) != 0);
    Set(P::eCenter, (mask & 2) != 0);
    Set(P::eKeepRatio, (mask & 4) != 0);
    Set(P::eCrop, (mask & 8) != 0);
}

int KQovCamera::GetBackgroundPlacementOptions() const {
    return (GetBool(P::eFitImage) ? 1 : 0) | (GetBool(P::eCenter) ? 2 : 0) |
           (GetBool(P::eKeepRatio) ? 4 : 0) | (GetBool(P::eCrop) ? 8 : 0);
}

void KQovCamera::SetUseOverSamplingTime(int value) {
    if (value == 0 || value == 1) Set(P::eUseRealTimeDOFAndAA, value == 0);
}

// --- Own fields ---

void KQovCamera::SetPosition(const KVector4& position) {
    if (KQovNode* node = GetNode())
        node->SetLocalTranslation(position[0], position[1], position[2]);
}

KVector4 KQovCamera::GetPosition() const {
    KVector4 position;
    if (KQovNode* node = GetNode()) node->GetLocalTranslation(position);
    return position;
}

void KQovCamera::ConnectBackgroundTexture(KQovObject* texture) {
    KQovNode* node = GetNode();
    KPlug* source = texture ? texture->GetPropertyHandler() : nullptr;
    KPlug* target = node ? node->GetPropertyHandler() : nullptr;
    if (!source || !target || target->IsConnectedSrc(source)) return;
    target->ConnectSrc(source, 0);
}

// --- Reset and copy ---

void KQovCamera::Reset() {
    if (KQovNode* node = GetNode()) node->SetLocalTranslation(0.0, 0.0, -50.0);
    mUpVector = KVector4(0.0, 1.0, 0.0, 1.0);
    mLookAt = KVector4(0.0, 0.0, 0.0, 1.0);
    Set(P::eCameraProjectionType, 0);
    SetDefaultRoll(0.0);
    Set(P::eFieldOfView, 40.0);
    Set(P::eFieldOfViewX, 1.0);
    Set(P::eFieldOfViewY, 1.0);
    Set(P::eOpticalCenterX, 0.0);
    Set(P::eOpticalCenterY, 0.0);
    GetCameraProperties()->SetColor(P::eBackgroundColor, 0.0, 0.0, 0.0);
    SetDefaultTurnTable(0.0);
    GetCameraProperties()->ResetEmbedded();
    // These three through their value operation, so listeners hear them.
    UpdateFilmAspectRatio();
    const double safeArea = 1.33333333333333;
    KQovSetPropertyNumbers(GetCameraProperties()->GetTableProperty(P::eSafeAreaAspectRatio),
                           &safeArea, 1);
    const double frame[3] = {0.3, 0.3, 0.3};
    KQovSetPropertyNumbers(GetCameraProperties()->GetTableProperty(P::eFrameColor), frame, 3);
    mBackgroundMediaName = "";
    mBackgroundTextureName = "";
    mShowInfoOnMoving = 1;
    mDisplaySafeAreaOnRender = 0;
    mShowAudio = 0;
    mAudioColor = KColor(0.0, 1.0, 0.0, 1.0);
    mAntialiasingMethod = 0;
    mFrameSamplingType = 1;
    Set(P::e2DMagnifierZoom, 100.0);
    Set(P::e2DMagnifierX, 50.0);
    Set(P::e2DMagnifierY, 50.0);
}

void KQovCamera::CopyFrom(const KQovCamera& other) {
    mUpVector = other.mUpVector;
    mLookAt = other.mLookAt;
    if (GetNode()) SetPosition(other.GetPosition());
    SetDefaultRoll(other.GetDefaultRoll());
    SetDefaultTurnTable(other.GetDefaultTurnTable());
    // Colours as stored: a KColor would clamp them.
    double rgb[3];
    for (int row : kCopiedRows) {
        if (row == P::eFrameColor) {
            other.GetCameraProperties()->GetColor(row, rgb);
            GetCameraProperties()->SetColor(row, rgb[0], rgb[1], rgb[2]);
        } else {
            Set(row, other.Get(row));
        }
    }
    mBackgroundMediaName = other.mBackgroundMediaName;
    mBackgroundTextureName = other.mBackgroundTextureName;
    other.GetCameraProperties()->GetColor(P::eBackgroundColor, rgb);
    SetDefaultBackgroundColor(rgb[0], rgb[1], rgb[2]);
    mAudioColor = other.mAudioColor;
    mShowInfoOnMoving = other.mShowInfoOnMoving;
    mDisplaySafeAreaOnRender = other.mDisplaySafeAreaOnRender;
    mShowAudio = other.mShowAudio;
    mAntialiasingMethod = other.mAntialiasingMethod;
    mFrameSamplingType = other.mFrameSamplingType;
}
