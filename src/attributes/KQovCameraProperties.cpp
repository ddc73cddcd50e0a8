#include "attributes/KQovCameraProperties.h"

#include <algorithm>

namespace {

using CameraRow = KQovPropertyDescriptor;

const char* const kResolutionModes[] = {"Window Size",
                                        "Fixed Ratio",
                                        "Fixed Resolution",
                                        "Fixed Width Resolution",
                                        "Fixed Height Resolution",
                                        nullptr};
const char* const kApertureModes[] = {"Horizontal & Vertical", "Horizontal", "Vertical", nullptr};
const char* const kFilmFormatNames[] = {"Custom",
                                        "16mm Theatrical",
                                        "Super 16mm",
                                        "35mm Academy",
                                        "35mm TV Projection",
                                        "35mm Full Aperture",
                                        "35mm 1.85 Projection",
                                        "35mm Anamorphic",
                                        "70mm Projection",
                                        "VistaVision",
                                        "Dynavision",
                                        "Imax",
                                        nullptr};
const char* const kBackPlaneModes[] = {"Disabled", "Always", "When Media", nullptr};
const char* const kBackPlaneDistanceModes[] = {"Relative to Interest", "Relative to Camera",
                                               nullptr};
const char* const kBackgroundModes[] = {"Background", "Foreground", "Background & Forground",
                                        nullptr};
const char* const kSafeAreaStyles[] = {"Round Safe Area", "Square Safe Area", nullptr};
const char* const kProjectionTypes[] = {"Perspective", "Orthographic", nullptr};
const char* const kFocusSources[] = {"Camera Interest", "Specific Distance", nullptr};

// Format 9 has no name.
const char* CameraFormatName(int value) {
    static const char* const kNames[] = {"Custom",  "D1 NTSC", "NTSC",       "PAL",
                                         "D1 PAL",  "HD",      "640x480",    "320x200",
                                         "320x240", nullptr,   "Full Screen"};
    return value >= 0 && value < 11 ? kNames[value] : nullptr;
}

CameraRow Bool(const char* name, bool value) {
    return KQovAttributeRows::Embedded(name, KProperty::eBOOL, value ? 1.0 : 0.0);
}
CameraRow Double(const char* name, double value) {
    return KQovAttributeRows::Embedded(name, KProperty::eDOUBLE, value);
}
CameraRow Enum(const char* name, const char* const* labels, int value) {
    return KQovAttributeRows::Embedded(name, KProperty::eENUM, value, 0.0, 0.0, labels);
}
CameraRow Color(const char* name, double r, double g, double b) {
    return KQovAttributeRows::Embedded(name, KProperty::eCOLORRGB, r, g, b);
}

const CameraRow kCameraRows[KQovCameraProperties::eRowCount] = {
    KQovAttributeRows::Animatable("Roll", "Roll", 0.0),
    KQovAttributeRows::Animatable("FieldOfView", "FieldOfView", 40.0),
    KQovAttributeRows::Animatable("FieldOfViewX", "FieldOfView", 1.0),
    KQovAttributeRows::Animatable("FieldOfViewY", "FieldOfView", 1.0),
    KQovAttributeRows::Animatable("OpticalCenterX", "Real", 0.0),
    KQovAttributeRows::Animatable("OpticalCenterY", "Real", 0.0),
    KQovAttributeRows::Animatable("BackgroundColor", "Color", 0.0),
    KQovAttributeRows::Animatable("TurnTable", "Real", 0.0),
    Bool("DisplayTurnTableIcon", true),
    KQovAttributeRows::Animatable("Motion Blur Intensity", "Real", 1.0),
    Bool("UseMotionBlur", false),
    Bool("UseRealTimeMotionBlur", true),
    Double("FocalLength", 35.0),
    Enum("ResolutionMode", kResolutionModes, 0),
    Enum("ApertureMode", kApertureModes, 2),
    [] {
        CameraRow d = Enum("CameraFormat", nullptr, 0);
        d.enumSource = &CameraFormatName;
        return d;
    }(),
    Double("AspectW", 320.0),
    Double("AspectH", 200.0),
    Double("PixelAspectRatio", 1.0),
    Bool("UseFrameColor", false),
    Color("FrameColor", 0.3, 0.3, 0.3),
    Bool("ShowName", true),
    Bool("ShowGrid", true),
    Bool("ShowOpticalCenter", false),
    Bool("ShowAzimut", true),
    Bool("ShowTimeCode", false),
    Double("NearPlane", 10.0),
    Double("FarPlane", 4000.0),
    Double("FilmWidth", 0.816),
    Double("FilmHeight", 0.612),
    Double("FilmAspectRatio", 0.816 / 0.612),
    Double("FilmSqueezeRatio", 1.0),
    Enum("FilmFormatIndex", kFilmFormatNames, 4),
    Bool("ViewFrustum", true),
    Bool("ViewFrustumNearFarPlane", false),
    Enum("ViewFrustumBackPlaneMode", kBackPlaneModes, 2),
    Double("BackPlaneDistance", 100.0),
    Enum("BackPlaneDistanceMode", kBackPlaneDistanceModes, 0),
    Bool("ViewCameraToLookAt", true),
    Bool("LockMode", false),
    Bool("LockInterestNavigation", false),
    Bool("FitImage", false),
    Bool("Crop", false),
    Bool("Center", true),
    Bool("KeepRatio", true),
    Enum("BackgroundMode", kBackgroundModes, 0),
    Double("BackgroundAlphaTreshold", 0.5),
    Bool("ForegroundTransparent", true),
    Bool("DisplaySafeArea", false),
    Enum("SafeAreaDisplayStyle", kSafeAreaStyles, 1),
    Double("SafeAreaAspectRatio", 1.33333333333333),
    Bool("Use2DMagnifierZoom", false),
    KQovAttributeRows::Animatable("2D Magnifier Zoom", "Real", 100.0),
    KQovAttributeRows::Animatable("2D Magnifier X", "Real", 50.0),
    KQovAttributeRows::Animatable("2D Magnifier Y", "Real", 50.0),
    Enum("CameraProjectionType", kProjectionTypes, 0),
    Bool("UseRealTimeDOFAndAA", false),
    Bool("UseDepthOfField", false),
    Enum("FocusSource", kFocusSources, 0),
    Double("FocusAngle", 3.5),
    Double("FocusDistance", 200.0),
    Bool("UseAntialiasing", false),
    Double("AntialiasingIntensity", 0.77777),
    Bool("UseAccumulationBuffer", false),
    KQovAttributeRows::Embedded("FrameSamplingCount", KProperty::eINT, 7),
};

}  // namespace

KQovCameraProperties::KQovCameraProperties() : KQovAttributeProperties(kCameraRows, eRowCount) {}

KQovCameraProperties::~KQovCameraProperties() = default;

const KQovPropertyDescriptor* KQovCameraProperties::GetDescriptors() {
    return kCameraRows;
}

double KQovCameraProperties::Get(int row) const {
    if (const KQovEmbeddedProperty* p = GetEmbedded(row)) return p->GetNumbers()[0];
    double values[4] = {0.0, 0.0, 0.0, 1.0};
    KQovGetPropertyNumbers(GetTableProperty(row), values);
    return values[0];
}

void KQovCameraProperties::Set(int row, double value) {
    if (KQovEmbeddedProperty* p = GetEmbedded(row))
        p->SetNumbers(&value, 1);
    else
        KQovSetPropertyNumbers(GetTableProperty(row), &value, 1);
}

void KQovCameraProperties::GetColor(int row, double* rgb) const {
    double values[4] = {0.0, 0.0, 0.0, 1.0};
    if (const KQovEmbeddedProperty* p = GetEmbedded(row))
        std::copy(p->GetNumbers(), p->GetNumbers() + 3, values);
    else
        KQovGetPropertyNumbers(GetTableProperty(row), values);
    std::copy(values, values + 3, rgb);
}

void KQovCameraProperties::SetColor(int row, double r, double g, double b) {
    const double values[3] = {r, g, b};
    if (KQovEmbeddedProperty* p = GetEmbedded(row))
        p->SetNumbers(values, 3);
    else
        KQovSetPropertyNumbers(GetTableProperty(row), values, 3);
}

void KQovCameraProperties::ResetEmbedded() {
    const double keep = Get(eLockInterestNavigation);
    ResetTableDefaults();
    Set(eLockInterestNavigation, keep);
}
