// The QOV reader's scene-wide sections: Definitions, thumbnails, scene information, ambient
// light, fog, shadow planes, time settings and the renderer's default camera.
#include <cstring>

#include "attributes/KQovCamera.h"
#include "foundation/KTimeModeTable.h"
#include "io/qov/KQovReaderQov.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "scene/KQovSceneInfo.h"
#include "scene/KQovThumbnail.h"

namespace {

const char* const kProducerPrefix = "Model::";

// The names a stored "Model::" prefix is taken off: the seven producer cameras and the switcher.
const char* const kStrippedNames[] = {"Producer Perspective", "Producer Top",  "Producer Bottom",
                                      "Producer Front",       "Producer Back", "Producer Right",
                                      "Producer Left",        "Camera Switcher"};

}  // namespace

KQovThumbnail* KQovReaderQov::ReadThumbnail() {
    KQovPropertyFieldFile* file = mFile.get();
    if (!file->FieldReadBegin("Thumbnail")) return nullptr;
    // Scene-information records only point at their thumbnail: without a manager to own it
    // the image is passed over.
    if (!mManager) {
        file->FieldReadEnd();
        return nullptr;
    }
    KQovThumbnail* thumbnail = mManager->CreateThumbnail();
    bool accepted = false;
    if (file->FieldReadBlockBegin()) {
        file->FieldReadI("Version", 100);
        thumbnail->SetDataFormat(file->FieldReadI("Format", 0));
        thumbnail->SetSize(file->FieldReadI("Size", 0));
        if (file->FieldReadI("ImageEncoding", 0) == 0 && thumbnail->GetSize() != 0) {
            accepted = true;
            // The image is zeroed when allocated, so pixels the file lacks stay black.
            if (file->FieldReadBegin("ImageData")) {
                uint8_t* image = thumbnail->GetImage();
                int count = thumbnail->GetSizeInBytes();
                for (int i = 0; i < count && file->FieldReadGetRemain() > 0; ++i)
                    image[i] = static_cast<uint8_t>(file->FieldReadI() & 0xff);
                file->FieldReadEnd();
            }
        }
        file->FieldReadBlockEnd();
    }
    file->FieldReadEnd();
    if (accepted) return thumbnail;
    mManager->DestroyThumbnail(thumbnail);
    return nullptr;
}

KQovSceneInfo* KQovReaderQov::ReadUserData(const char* type) {
    if (KString(type ? type : "").CompareNoCase("UserData") != 0) return nullptr;
    KQovPropertyFieldFile* file = mFile.get();
    KQovSceneInfo* info = KQovCreateSceneInfo(mManager);
    file->FieldReadI("Version", 0);
    info->SetThumbnail(ReadThumbnail());
    if (file->FieldReadBegin("MetaData")) {
        if (file->FieldReadBlockBegin()) {
            file->FieldReadI("Version", 0);
            ReadMetaData(*info);
            file->FieldReadBlockEnd();
        }
        file->FieldReadEnd();
    }
    return info;
}

KQovSceneInfo* KQovReaderQov::ReadSceneInfo() {
    KQovPropertyFieldFile* file = mFile.get();
    if (!file->FieldReadBegin("SceneInfo")) return nullptr;
    KQovSceneInfo* info = nullptr;
    if (file->FieldReadBlockBegin()) {
        info = ReadUserData(KString(file->FieldReadC("Type", "")).Buffer());
        file->FieldReadBlockEnd();
    }
    file->FieldReadEnd();
    return info;
}

void KQovReaderQov::ReadAmbientRenderSettings(KQovScene* scene) {
    KQovPropertyFieldFile* file = mFile.get();
    if (!file->FieldReadBegin("AmbientRenderSettings")) return;
    KColor color(1.0, 1.0, 1.0, 1.0);
    if (file->FieldReadBlockBegin()) {
        if (file->FieldReadBegin("AmbientLightColor")) {
            double c[4] = {1.0, 1.0, 1.0, 1.0};
            file->FieldReadDn(c, 4);
            color = KColor(c[0], c[1], c[2], c[3]);
            file->FieldReadEnd();
        }
        file->FieldReadBlockEnd();
    }
    file->FieldReadEnd();
    scene->GetGlobalLightSettings().SetAmbientColor(color);
}

void KQovReaderQov::ReadFogOptions(KQovScene* scene) {
    KQovPropertyFieldFile* file = mFile.get();
    if (!file->FieldReadBegin("FogOptions")) return;
    if (file->FieldReadBlockBegin()) {
        KQovGlobalLightSettings& light = scene->GetGlobalLightSettings();
        light.SetFogEnable(file->FieldReadI("FlogEnable", 0) != 0);
        light.SetFogMode(file->FieldReadI("FogMode", 0));
        light.SetFogDensity(file->FieldReadD("FogDensity", 0.0));
        // End first: the start is kept within [0, end].
        double start = file->FieldReadD("FogStart", 0.0);
        light.SetFogEnd(file->FieldReadD("FogEnd", 0.0));
        light.SetFogStart(start);
        KColor color(1.0, 1.0, 1.0, 1.0);
        if (file->FieldReadBegin("FogColor")) {
            double c[4] = {1.0, 1.0, 1.0, 1.0};
            file->FieldReadDn(c, 4);
            color = KColor(c[0], c[1], c[2], 1.0);
            file->FieldReadEnd();
        }
        light.SetFogColor(color);
        file->FieldReadBlockEnd();
    }
    file->FieldReadEnd();
}

void KQovReaderQov::ReadShadowPlanes(KQovScene* scene) {
    KQovPropertyFieldFile* file = mFile.get();
    KQovGlobalLightSettings& light = scene->GetGlobalLightSettings();
    light.RemoveAllShadowPlanes();
    if (!file->FieldReadBegin("ShadowPlanes")) return;
    if (file->FieldReadBlockBegin()) {
        int count = file->FieldReadI("Count", 0);
        for (int i = 0; i < count && file->FieldReadBegin("Plane"); ++i) {
            double v[6] = {0.0, 0.0, 0.0, 0.0, 1.0, 0.0};
            file->FieldReadDn(v, 6);
            KQovShadowPlane plane;
            plane.origin = KVector4(v[0], v[1], v[2]);
            plane.normal = KVector4(v[3], v[4], v[5]);
            plane.enabled = file->FieldReadGetRemain() > 0 && file->FieldReadI() != 0;
            light.AddShadowPlane(plane);
            file->FieldReadEnd();
        }
        // Read whatever the plane count: a file may switch shadows off with no planes left.
        light.SetShadowEnable(file->FieldReadI("UseShadow", 0) != 0);
        light.SetShadowIntensity(file->FieldReadD("ShadowIntensity", 0.0));
        file->FieldReadBlockEnd();
    }
    file->FieldReadEnd();
}

void KQovReaderQov::ReadTimeFields(KQovScene* scene) {
    KQovPropertyFieldFile* file = mFile.get();
    KQovGlobalTimeSettings& time = scene->GetGlobalTimeSettings();
    KString rate = file->FieldReadC("FrameRate", "0.0");
    if (rate == "0.0") {
        if (file->FieldReadGetOccurrenceCount("TimeMode") > 0)
            time.SetTimeMode(KTimeModeFromFileCode(file->FieldReadI("TimeMode", 0)));
    } else {
        time.SetTimeMode(KTimeModeFromName(rate.Buffer()));
    }
    time.SetTimeFormat(file->FieldReadI("TimeFormat", time.GetTimeFormat()));
    time.SetSnapOnFrames(file->FieldReadI("SnapOnFrames", time.GetSnapOnFrames()));
    int markers = file->FieldReadGetOccurrenceCount("TimeMarker");
    for (int i = 0; i < markers && file->FieldReadBegin("TimeMarker"); ++i) {
        KQovTimeMarker marker;
        if (file->FieldReadGetRemain() > 0) marker.name = file->FieldReadC();
        if (file->FieldReadBlockBegin()) {
            if (file->FieldReadGetOccurrenceCount("Time") > 0) marker.time = file->FieldReadT("Time");
            marker.loop = file->FieldReadI("Loop", marker.loop) != 0 ? 1 : 0;
            file->FieldReadBlockEnd();
            time.AddTimeMarker(marker);
        }
        file->FieldReadEnd();
    }
    if (time.GetTimeMarkerCount() > 0)
        time.SetReferenceTimeIndex(
            file->FieldReadI("ReferenceTimeIndex", time.GetReferenceTimeIndex()));
}

void KQovReaderQov::ReadTimeSettings(KQovScene* scene) {
    KQovPropertyFieldFile* file = mFile.get();
    scene->GetGlobalTimeSettings().Reset();
    if (!file->FieldReadBegin("Settings")) return;
    if (file->FieldReadBlockBegin()) {
        ReadTimeFields(scene);
        file->FieldReadBlockEnd();
    }
    file->FieldReadEnd();
}

void KQovReaderQov::ReadRendererSetting(KQovScene* scene) {
    KQovPropertyFieldFile* file = mFile.get();
    if (!file->FieldReadBegin("RendererSetting")) return;
    if (file->FieldReadBlockBegin()) {
        KQovGlobalCameraSettings& camera = scene->GetGlobalCameraSettings();
        KString name = StripProducerPrefix(file->FieldReadC("DefaultCamera", camera.GetDefaultCamera()));
        camera.SetDefaultCamera(name.Buffer());
        camera.SetDefaultViewingMode(
            file->FieldReadI("DefaultViewingMode", camera.GetDefaultViewingMode()));
        file->FieldReadBlockEnd();
    }
    file->FieldReadEnd();
}

void KQovReaderQov::ReadVersion5Settings(KQovScene* scene) {
    KQovPropertyFieldFile* file = mFile.get();
    scene->GetGlobalCameraSettings().Reset();
    scene->GetGlobalTimeSettings().Reset();
    ReadRendererSetting(scene);
    if (!file->FieldReadBegin("Settings")) return;
    if (file->FieldReadBlockBegin()) {
        KQovGlobalCameraSettings& settings = scene->GetGlobalCameraSettings();
        int cameras = file->FieldReadGetOccurrenceCount("Camera");
        for (int i = 0; i < cameras && file->FieldReadBegin("Camera"); ++i) {
            const KString name = StripProducerPrefix(file->FieldReadC());
            int producer = 0;
            while (producer < KQovGlobalCameraSettings::eProducerCount &&
                   name != KQovGlobalCameraSettings::GetProducerName(producer))
                ++producer;
            KQovCamera* camera = settings.GetProducerCamera(producer);
            if (camera && file->FieldReadBlockBegin()) {
                ReadCamera(camera);
                file->FieldReadBlockEnd();
            }
            file->FieldReadEnd();
        }
        ReadTimeFields(scene);
        file->FieldReadBlockEnd();
    }
    file->FieldReadEnd();
}

KString KQovReaderQov::StripProducerPrefix(const KString& name) {
    size_t prefix = std::strlen(kProducerPrefix);
    if (std::strncmp(name.Buffer(), kProducerPrefix, prefix) != 0) return name;
    for (const char* stripped : kStrippedNames)
        if (std::strcmp(name.Buffer() + prefix, stripped) == 0) return KString(stripped);
    return name;
}
