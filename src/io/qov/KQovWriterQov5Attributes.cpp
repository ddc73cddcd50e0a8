// Version-5 node attribute sections: the dispatch by attribute type and the sections of nulls,
// markers, optical references, skeletons, cameras, the camera switcher and lights.

#include "attributes/KQovCamera.h"
#include "attributes/KQovCameraSwitcher.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovMarker.h"
#include "attributes/KQovNull.h"
#include "attributes/KQovSkeleton.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "io/qov/KQovWriterQov5.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"

bool KQovWriterAnimatedInTakes(KQovTakeNodeContainer* object, const char* channel);

namespace {

void Int(KQovFieldFile* f, const char* name, int value) {
    f->FieldWriteBegin(name);
    f->FieldWriteI(value);
    f->FieldWriteEnd();
}

void Double(KQovFieldFile* f, const char* name, double value) {
    f->FieldWriteBegin(name);
    f->FieldWriteD(value);
    f->FieldWriteEnd();
}

void Doubles(KQovFieldFile* f, const char* name, const double* values, int count) {
    f->FieldWriteBegin(name);
    for (int i = 0; i < count; ++i) f->FieldWriteD(values[i]);
    f->FieldWriteEnd();
}

void Rgb(KQovFieldFile* f, const char* name, const KColor& color) {
    const double rgb[3] = {color.mRed, color.mGreen, color.mBlue};
    Doubles(f, name, rgb, 3);
}

void Vector3(KQovFieldFile* f, const char* name, const KVector4& v) {
    const double xyz[3] = {v[0], v[1], v[2]};
    Doubles(f, name, xyz, 3);
}

void BeginBlock(KQovFieldFile* f, const char* name) {
    f->FieldWriteBegin(name);
    f->FieldWriteBlockBegin();
}

void EndBlock(KQovFieldFile* f) {
    f->FieldWriteBlockEnd();
    f->FieldWriteEnd();
}

}  // namespace

const char* KQovWriterQov5::CameraFormatName(int format) {
    // 9 ("128x128") is a format the reader knows; it is not written as "Custom".
    static const char* const kNames[] = {"Custom", "D1 NTSC", "NTSC",     "PAL",
                                         "D1 PAL", "HD",      "640x480",  "320x200",
                                         "320x240", "128x128", "Full Screen"};
    return format >= 1 && format <= 10 ? kNames[format] : "Custom";
}

const char* KQovWriterQov5::ApertureFormatName(int format) {
    static const char* const kNames[] = {
        "Custom",          "16mm Theatrical", "Super 16mm",          "35mm Academy",
        "35mm TV Projection", "35mm Full Aperture", "35mm 1.85 Projection", "35mm Anamorphic",
        "70mm Projection", "VistaVision",     "Dynavision",          "Imax"};
    return format >= 1 && format <= 11 ? kNames[format] : "Custom";
}

void KQovWriterQov5::WriteNodeAttribute(KQovNode* node) {
    KQovNodeAttribute* attribute = node->GetNodeAttribute();
    const bool geometry = mOptions->GetSwitch(KStreamOptionsQov::eNodeAttributes);
    switch (attribute ? attribute->GetAttributeType() : KQovNodeAttribute::eNull) {
        case KQovNodeAttribute::eNull:
            WriteNullSection(node->GetNull() ? node->GetNull()->GetSize() : 100.0);
            break;
        case KQovNodeAttribute::eMarker:
            WriteMarkerSection(node, node->GetMarker());
            break;
        case KQovNodeAttribute::eSkeleton:
            WriteSkeletonSection(node->GetSkeleton());
            break;
        case KQovNodeAttribute::eMesh:
        case KQovNodeAttribute::eNurb:
        case KQovNodeAttribute::ePatch:
            if (geometry)
                WriteGeometrySection(node);
            else
                WriteNullSection(100.0);
            break;
        case KQovNodeAttribute::eCamera:
            WriteCameraSection(node, node->GetCamera(), false);
            break;
        case KQovNodeAttribute::eCameraSwitcher: {
            KQovCameraSwitcher* switcher = node->GetCameraSwitcher();
            mFile->FieldWriteC("AnimationMode", "Global");
            Int(mFile, "Version", 100);
            mFile->FieldWriteC("Name", "Camera Switcher");
            Int(mFile, "CameraId", switcher->GetDefaultCameraIndex());
            Int(mFile, "CameraName", 100);
            break;
        }
        case KQovNodeAttribute::eLight:
            WriteLightSection(node->GetLight());
            break;
        case KQovNodeAttribute::eOpticalReference:
            mFile->FieldWriteC("Type", "Optical");
            mFile->FieldWriteC("TypeFlags", "Marker");
            break;
        default:
            if (!geometry) WriteNullSection(100.0);
            break;
    }
}

void KQovWriterQov5::WriteNullSection(double size) {
    mFile->FieldWriteC("Type", "Null");
    mFile->FieldWriteC("TypeFlags", "Null");
    BeginBlock(mFile, "Properties");
    Int(mFile, "Version", 100);
    Double(mFile, "Size", size);
    EndBlock(mFile);
}

void KQovWriterQov5::WriteMarkerSection(KQovNode* node, KQovMarker* marker) {
    static const char* const kTypes[] = {"Marker", "OpticalMarker", "IKEffector", "FKEffector"};
    const int type = marker->GetType();
    if (type >= 0 && type <= 3) mFile->FieldWriteC("Type", kTypes[type]);
    mFile->FieldWriteC("TypeFlags", "Marker");
    const KColor color = marker->GetColor();
    BeginBlock(mFile, "Properties");
    Int(mFile, "Version", 100);
    Int(mFile, "Look", marker->GetLook());
    Double(mFile, "Size", marker->GetSize());
    Rgb(mFile, "Color", color);
    Int(mFile, "ShowLabel", marker->GetShowLabel() ? 1 : 0);
    EndBlock(mFile);
    if (type == KQovMarker::eIKEffector) {
        if (!KQovWriterAnimatedInTakes(node, "IK Reach Translation"))
            Double(mFile, "IKReachTranslation", marker->GetDefaultIKReachTranslation());
        if (!KQovWriterAnimatedInTakes(node, "IK Reach Rotation"))
            Double(mFile, "IKReachRotation", marker->GetDefaultIKReachRotation());
    }
    mFile->FieldWriteBegin("Channel");
    mFile->FieldWriteC("Color");
    mFile->FieldWriteBlockBegin();
    const double rgb[3] = {color.mRed, color.mGreen, color.mBlue};
    for (int i = 0; i < 3; ++i) {
        const char axis[2] = {char('X' + i), 0};
        mFile->FieldWriteBegin("Channel");
        mFile->FieldWriteC(axis);
        mFile->FieldWriteBlockBegin();
        Double(mFile, "Default", rgb[i]);
        EndBlock(mFile);
    }
    EndBlock(mFile);
}

void KQovWriterQov5::WriteSkeletonSection(KQovSkeleton* skeleton) {
    const int type = skeleton->GetSkeletonType();
    if (type == KQovSkeleton::eRoot || type == KQovSkeleton::eRootAlternate) {
        mFile->FieldWriteC("Type", "Root");
        mFile->FieldWriteBegin("TypeFlags");
        for (const char* flag : {"Null", "Skeleton", "Root"}) mFile->FieldWriteC(flag);
        mFile->FieldWriteEnd();
    } else if (type == KQovSkeleton::eLimb || type == KQovSkeleton::eLimbNode) {
        mFile->FieldWriteC("Type", type == KQovSkeleton::eLimb ? "Limb" : "LimbNode");
        mFile->FieldWriteC("TypeFlags", "Skeleton");
        if (type == KQovSkeleton::eLimb) Double(mFile, "LimbLength", skeleton->GetLimbLength());
    } else {
        return;
    }
    BeginBlock(mFile, "Properties");
    Int(mFile, "Version", 100);
    Double(mFile, "Size", skeleton->GetSize());
    if (type == KQovSkeleton::eLimb || type == KQovSkeleton::eLimbNode)
        Rgb(mFile, "Color", skeleton->GetColor());
    EndBlock(mFile);
}

void KQovWriterQov5::WriteLightSection(KQovLight* light) {
    mFile->FieldWriteC("Type", "Light");
    mFile->FieldWriteC("TypeFlags", "Light");
    Int(mFile, "GeometryVersion", 123);
    Int(mFile, "LightTypeVersion", 202);
    Int(mFile, "LightType", light->GetLightType());
    Int(mFile, "CastLight", light->GetCastLightOnObject() ? 1 : 0);
    double rgb[3];
    light->GetDefaultColor(rgb[0], rgb[1], rgb[2]);
    Doubles(mFile, "Color", rgb, 3);
    Double(mFile, "Intensity", light->GetDefaultIntensity());
    Double(mFile, "ConeAngle", light->GetDefaultConeAngle());
    Double(mFile, "Fog", light->GetDefaultFog());
}

void KQovWriterQov5::WriteCameraSection(KQovNode* node, KQovCamera* camera, bool producer) {
    KQovFieldFile* f = mFile;
    if (!camera) return;
    if (!producer) f->FieldWriteC("Type", "Camera");
    f->FieldWriteC("TypeFlags", "Camera");
    Int(f, "Version", 220);
    f->FieldWriteC("Name", node->GetName());
    Vector3(f, "Position", camera->GetPosition());
    Vector3(f, "Up", camera->GetUpVector());
    Vector3(f, "LookAt", camera->GetLookAt());
    Double(f, "Roll", camera->GetDefaultRoll());
    Double(f, "TurnTable", camera->GetDefaultTurnTable());
    Int(f, "Type", camera->GetProjectionType());
    f->FieldWriteC("FormatName", CameraFormatName(camera->GetCameraFormat()));
    Int(f, "AspectType", camera->GetResolutionMode());
    Double(f, "AspectW", camera->GetAspectWidth());
    Double(f, "AspectH", camera->GetAspectHeight());
    Double(f, "PixelRatio", camera->GetPixelAspectRatio());
    Double(f, "NearPlane", camera->GetNearPlane());
    Double(f, "FarPlane", camera->GetFarPlane());
    Int(f, "CameraLock", camera->GetLockMode() ? 1 : 0);
    f->FieldWriteC("ApertureFormat", ApertureFormatName(camera->GetFilmFormatIndex()));
    Int(f, "ApertureMode", camera->GetApertureMode());
    const double aperture[2] = {camera->GetFilmWidth(), camera->GetFilmHeight()};
    Doubles(f, "CameraAperture", aperture, 2);
    Double(f, "SqueezeRatio", camera->GetFilmSqueezeRatio());
    Double(f, "FocalLength", camera->GetFocalLength());
    Double(f, "Aperture", camera->GetDefaultFieldOfView());
    Double(f, "FieldOfViewXProperty", camera->GetDefaultFieldOfViewX());
    Double(f, "FieldOfViewYProperty", camera->GetDefaultFieldOfViewY());
    Double(f, "OpticalCenterXProperty", camera->GetDefaultOpticalCenterX());
    Double(f, "OpticalCenterYProperty", camera->GetDefaultOpticalCenterY());
    const char* media = camera->GetBackgroundMediaName();
    if (media && media[0]) f->FieldWriteC("Media", media);
    Int(f, "ViewFrustumPlane", camera->GetViewFrustumBackPlaneMode());
    Int(f, "BackgroundMode", camera->GetBackgroundMode());
    Int(f, "ForegroundTransparent", camera->GetForegroundTransparent() ? 1 : 0);
    Double(f, "BackgroundTreshold", camera->GetBackgroundAlphaTreshold());
    Int(f, "DisplayMode", camera->GetBackgroundPlacementOptions());
    Double(f, "ViewFrustumPlaneDistance", camera->GetBackPlaneDistance());
    Int(f, "ViewFrustumPlaneDistanceMode", camera->GetBackPlaneDistanceMode());
    const struct {
        const char* name;
        bool value;
    } kFlags[] = {{"ViewLookAt", camera->GetViewCameraToLookAt()},
                  {"ViewFrustum", camera->GetViewFrustumNearFarPlane()},
                  {"ShowGrid", camera->GetShowGrid()},
                  {"ShowAzimut", camera->GetShowAzimut()},
                  {"ShowName", camera->GetShowName()},
                  {"ShowInfoOnMoving", camera->GetShowInfoOnMoving()},
                  {"ShowTimeCode", camera->GetShowTimeCode()},
                  {"DisplaySafeArea", camera->GetDisplaySafeArea()}};
    for (const auto& flag : kFlags) Int(f, flag.name, flag.value ? 1 : 0);
    Int(f, "SafeAreaStyle", camera->GetSafeAreaDisplayStyle());
    Int(f, "DisplaySafeAreaOnRender", camera->GetDisplaySafeAreaOnRender() ? 1 : 0);
    Int(f, "ShowAudio", camera->GetShowAudio() ? 1 : 0);
    Rgb(f, "BackGroundColor", camera->GetBackgroundColor());
    Rgb(f, "AudioColor", camera->GetAudioColor());
    Int(f, "UseFrameColor", camera->GetUseFrameColor() ? 1 : 0);
    Rgb(f, "FrameColor", camera->GetFrameColor());
    BeginBlock(f, "CameraAndLens");
    f->FieldWriteBegin("DepthOfField");
    f->FieldWriteI(camera->GetUseDepthOfField() ? 1 : 0);
    f->FieldWriteI(camera->GetFocusSource());
    f->FieldWriteD(camera->GetFocusAngle());
    f->FieldWriteD(camera->GetFocusDistance());
    f->FieldWriteEnd();
    f->FieldWriteBegin("Antialiasing");
    f->FieldWriteI(camera->GetUseAntialiasing() ? 1 : 0);
    f->FieldWriteI(camera->GetAntialiasingMethod());
    f->FieldWriteD(camera->GetAntialiasingIntensity());
    f->FieldWriteEnd();
    f->FieldWriteBegin("OverSampling");
    f->FieldWriteI(camera->GetFrameSamplingCount());
    f->FieldWriteI(camera->GetFrameSamplingType());
    f->FieldWriteI(camera->GetUseAccumulationBuffer() ? 1 : 0);
    f->FieldWriteEnd();
    Int(f, "UseOverSamplingTime", camera->GetUseOverSamplingTime());
    EndBlock(f);
}
