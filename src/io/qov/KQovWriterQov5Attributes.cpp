// Version-5 node attribute sections: the dispatch by attribute type and the sections of nulls,
// markers, optical references, skeletons, cameras, the camera switcher and lights.

#include "attributes/KQovCamera.h"
#include "attributes/KQovCameraProperties.h"
#include "attributes/KQovCameraSwitcher.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovMarker.h"
#include "attributes/KQovNull.h"
#include "attributes/KQovSkeleton.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "io/qov/KQovWriterQov5.h"
#include "io/qov/KQovWriterQovSections.h"
#include "scene/KProperty.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"

bool KQovWriterAnimatedInTakes(KQovTakeNodeContainer* object, const char* channel);

namespace {

void Vector3(KQovFieldFile* f, const char* name, const KVector4& v) {
    KQovWriteDoublesField(f, name, {v[0], v[1], v[2]});
}

}  // namespace

const char* KQovWriterQov5::CameraFormatName(int format) {
    // 9 ("128x128") is a format the reader knows; it is not written as "Custom".
    static const char* const kNames[] = {"Custom",  "D1 NTSC", "NTSC",       "PAL",
                                         "D1 PAL",  "HD",      "640x480",    "320x200",
                                         "320x240", "128x128", "Full Screen"};
    return format >= 1 && format <= 10 ? kNames[format] : "Custom";
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
            // A version-6 model without a type is a mesh; older files keep a section of its own.
            if (!mFile->IsVersion5Layout()) mFile->FieldWriteC("Type", "CameraSwitcher");
            mFile->FieldWriteC("AnimationMode", "Global");
            KQovWriteIntField(mFile, "Version", 100);
            mFile->FieldWriteC("Name", "Camera Switcher");
            KQovWriteIntField(mFile, "CameraId", switcher->GetDefaultCameraIndex());
            KQovWriteIntField(mFile, "CameraName", 100);
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
    KQovWriteBlockBegin(mFile, "Properties");
    KQovWriteIntField(mFile, "Version", 100);
    KQovWriteDoubleField(mFile, "Size", size);
    KQovWriteBlockEnd(mFile);
}

void KQovWriterQov5::WriteMarkerSection(KQovNode* node, KQovMarker* marker) {
    static const char* const kTypes[] = {"Marker", "OpticalMarker", "IKEffector", "FKEffector"};
    const int type = marker->GetType();
    if (type >= 0 && type <= 3) mFile->FieldWriteC("Type", kTypes[type]);
    mFile->FieldWriteC("TypeFlags", "Marker");
    const KColor color = marker->GetColor();
    KQovWriteBlockBegin(mFile, "Properties");
    KQovWriteIntField(mFile, "Version", 100);
    KQovWriteIntField(mFile, "Look", marker->GetLook());
    KQovWriteDoubleField(mFile, "Size", marker->GetSize());
    KQovWriteRgbField(mFile, "Color", color);
    KQovWriteIntField(mFile, "ShowLabel", marker->GetShowLabel() ? 1 : 0);
    KQovWriteBlockEnd(mFile);
    if (type == KQovMarker::eIKEffector) {
        if (!KQovWriterAnimatedInTakes(node, "IK Reach Translation"))
            KQovWriteDoubleField(mFile, "IKReachTranslation",
                                 marker->GetDefaultIKReachTranslation());
        if (!KQovWriterAnimatedInTakes(node, "IK Reach Rotation"))
            KQovWriteDoubleField(mFile, "IKReachRotation", marker->GetDefaultIKReachRotation());
    }
    KQovWriteBlockBegin(mFile, "Channel", "Color");
    const double rgb[3] = {color.mRed, color.mGreen, color.mBlue};
    for (int i = 0; i < 3; ++i) {
        const char axis[2] = {char('X' + i), 0};
        KQovWriteBlockBegin(mFile, "Channel", axis);
        KQovWriteDoubleField(mFile, "Default", rgb[i]);
        KQovWriteBlockEnd(mFile);
    }
    KQovWriteBlockEnd(mFile);
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
        if (type == KQovSkeleton::eLimb)
            KQovWriteDoubleField(mFile, "LimbLength", skeleton->GetLimbLength());
    } else {
        return;
    }
    KQovWriteBlockBegin(mFile, "Properties");
    KQovWriteIntField(mFile, "Version", 100);
    KQovWriteDoubleField(mFile, "Size", skeleton->GetSize());
    if (type == KQovSkeleton::eLimb || type == KQovSkeleton::eLimbNode)
        KQovWriteRgbField(mFile, "Color", skeleton->GetColor());
    KQovWriteBlockEnd(mFile);
}

void KQovWriterQov5::WriteLightSection(KQovLight* light) {
    mFile->FieldWriteC("Type", "Light");
    mFile->FieldWriteC("TypeFlags", "Light");
    KQovWriteIntField(mFile, "GeometryVersion", 123);
    KQovWriteIntField(mFile, "LightTypeVersion", 202);
    KQovWriteIntField(mFile, "LightType", light->GetLightType());
    KQovWriteIntField(mFile, "CastLight", light->GetCastLightOnObject() ? 1 : 0);
    double rgb[3];
    light->GetDefaultColor(rgb[0], rgb[1], rgb[2]);
    KQovWriteDoublesField(mFile, "Color", {rgb[0], rgb[1], rgb[2]});
    KQovWriteDoubleField(mFile, "Intensity", light->GetDefaultIntensity());
    KQovWriteDoubleField(mFile, "ConeAngle", light->GetDefaultConeAngle());
    KQovWriteDoubleField(mFile, "Fog", light->GetDefaultFog());
}

void KQovWriterQov5::WriteCameraSection(KQovNode* node, KQovCamera* camera, bool producer) {
    KQovFieldFile* f = mFile;
    if (!camera) return;
    if (!producer) f->FieldWriteC("Type", "Camera");
    f->FieldWriteC("TypeFlags", "Camera");
    KQovWriteIntField(f, "Version", 220);
    f->FieldWriteC("Name", WrittenName(node));
    Vector3(f, "Position", camera->GetPosition());
    Vector3(f, "Up", camera->GetUpVector());
    Vector3(f, "LookAt", camera->GetLookAt());
    KQovWriteDoubleField(f, "Roll", camera->GetDefaultRoll());
    KQovWriteDoubleField(f, "TurnTable", camera->GetDefaultTurnTable());
    KQovWriteIntField(f, "Type", camera->GetProjectionType());
    f->FieldWriteC("FormatName", CameraFormatName(camera->GetCameraFormat()));
    KQovWriteIntField(f, "AspectType", camera->GetResolutionMode());
    KQovWriteDoubleField(f, "AspectW", camera->GetAspectWidth());
    KQovWriteDoubleField(f, "AspectH", camera->GetAspectHeight());
    KQovWriteDoubleField(f, "PixelRatio", camera->GetPixelAspectRatio());
    KQovWriteDoubleField(f, "NearPlane", camera->GetNearPlane());
    KQovWriteDoubleField(f, "FarPlane", camera->GetFarPlane());
    KQovWriteIntField(f, "CameraLock", camera->GetLockMode() ? 1 : 0);
    // The film formats by the labels of the camera's own enum, 1 to 11; any other is "Custom".
    const int film = camera->GetFilmFormatIndex();
    KProperty* labels =
        camera->GetCameraProperties()->GetTableProperty(KQovCameraProperties::eFilmFormatIndex);
    const char* filmName = film >= 1 && film <= 11 && labels ? labels->GetEnumName(film) : nullptr;
    f->FieldWriteC("ApertureFormat", filmName ? filmName : "Custom");
    KQovWriteIntField(f, "ApertureMode", camera->GetApertureMode());
    KQovWriteDoublesField(f, "CameraAperture", {camera->GetFilmWidth(), camera->GetFilmHeight()});
    KQovWriteDoubleField(f, "SqueezeRatio", camera->GetFilmSqueezeRatio());
    KQovWriteDoubleField(f, "FocalLength", camera->GetFocalLength());
    KQovWriteDoubleField(f, "Aperture", camera->GetDefaultFieldOfView());
    KQovWriteDoubleField(f, "FieldOfViewXProperty", camera->GetDefaultFieldOfViewX());
    KQovWriteDoubleField(f, "FieldOfViewYProperty", camera->GetDefaultFieldOfViewY());
    KQovWriteDoubleField(f, "OpticalCenterXProperty", camera->GetDefaultOpticalCenterX());
    KQovWriteDoubleField(f, "OpticalCenterYProperty", camera->GetDefaultOpticalCenterY());
    const char* media = camera->GetBackgroundMediaName();
    if (media && media[0]) f->FieldWriteC("Media", media);
    KQovWriteIntField(f, "ViewFrustumPlane", camera->GetViewFrustumBackPlaneMode());
    KQovWriteIntField(f, "BackgroundMode", camera->GetBackgroundMode());
    KQovWriteIntField(f, "ForegroundTransparent", camera->GetForegroundTransparent() ? 1 : 0);
    KQovWriteDoubleField(f, "BackgroundTreshold", camera->GetBackgroundAlphaTreshold());
    KQovWriteIntField(f, "DisplayMode", camera->GetBackgroundPlacementOptions());
    KQovWriteDoubleField(f, "ViewFrustumPlaneDistance", camera->GetBackPlaneDistance());
    KQovWriteIntField(f, "ViewFrustumPlaneDistanceMode", camera->GetBackPlaneDistanceMode());
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
    for (const auto& flag : kFlags) KQovWriteIntField(f, flag.name, flag.value ? 1 : 0);
    KQovWriteIntField(f, "SafeAreaStyle", camera->GetSafeAreaDisplayStyle());
    KQovWriteIntField(f, "DisplaySafeAreaOnRender", camera->GetDisplaySafeAreaOnRender() ? 1 : 0);
    KQovWriteIntField(f, "ShowAudio", camera->GetShowAudio() ? 1 : 0);
    KQovWriteRgbField(f, "BackGroundColor", camera->GetBackgroundColor());
    KQovWriteRgbField(f, "AudioColor", camera->GetAudioColor());
    KQovWriteIntField(f, "UseFrameColor", camera->GetUseFrameColor() ? 1 : 0);
    KQovWriteRgbField(f, "FrameColor", camera->GetFrameColor());
    KQovWriteBlockBegin(f, "CameraAndLens");
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
    KQovWriteIntField(f, "UseOverSamplingTime", camera->GetUseOverSamplingTime());
    KQovWriteBlockEnd(f);
}
