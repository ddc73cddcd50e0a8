#include "io/qov/KQovWriterQovSections.h"

#include <cstring>

#include "attributes/KQovMesh.h"
#include "attributes/KQovTexture.h"
#include "fieldfile/KQovFieldFile.h"
#include "foundation/KColor.h"
#include "foundation/KTimeModeTable.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovScene.h"
#include "scene/KQovSceneInfo.h"
#include "scene/KQovThumbnail.h"

bool KQovWriteIntField(KQovFieldFile* file, const char* name, int32_t value) {
    file->FieldWriteBegin(name);
    file->FieldWriteI(value);
    return file->FieldWriteEnd();
}

bool KQovWriteDoubleField(KQovFieldFile* file, const char* name, double value) {
    file->FieldWriteBegin(name);
    file->FieldWriteD(value);
    return file->FieldWriteEnd();
}

bool KQovWriteDoublesField(KQovFieldFile* file, const char* name,
                           std::initializer_list<double> values) {
    file->FieldWriteBegin(name);
    for (double value : values) file->FieldWriteD(value);
    return file->FieldWriteEnd();
}

bool KQovWriteRgbField(KQovFieldFile* file, const char* name, const KColor& color) {
    return KQovWriteDoublesField(file, name, {color.mRed, color.mGreen, color.mBlue});
}

void KQovWriteBlockBegin(KQovFieldFile* file, const char* name, const char* value) {
    file->FieldWriteBegin(name);
    if (value) file->FieldWriteC(value);
    file->FieldWriteBlockBegin();
}

bool KQovWriteBlockEnd(KQovFieldFile* file) {
    file->FieldWriteBlockEnd();
    return file->FieldWriteEnd();
}

void KQovWriteThumbnail(KQovFieldFile* file, const KQovThumbnail* thumbnail) {
    if (!thumbnail || thumbnail->GetSize() == 0) return;
    KQovWriteBlockBegin(file, "Thumbnail");
    KQovWriteIntField(file, "Version", 100);
    KQovWriteIntField(file, "Format", thumbnail->GetDataFormat());
    KQovWriteIntField(file, "Size", thumbnail->GetSize());
    KQovWriteIntField(file, "ImageEncoding", 0);
    file->FieldWriteBegin("ImageData");
    const uint8_t* image = thumbnail->GetImage();
    for (int i = 0; image && i < thumbnail->GetSizeInBytes(); ++i) file->FieldWriteI(image[i]);
    file->FieldWriteEnd();
    KQovWriteBlockEnd(file);
}

void KQovWriteSceneInfo(KQovFieldFile* file, const KQovSceneInfo& info) {
    KQovWriteBlockBegin(file, "SceneInfo", "SceneInfo::GlobalInfo");
    file->FieldWriteC("Type", "UserData");
    KQovWriteSceneInfoContent(file, info);
    KQovWriteBlockEnd(file);
}

void KQovWriteSceneInfoContent(KQovFieldFile* file, const KQovSceneInfo& info) {
    KQovWriteIntField(file, "Version", 100);
    KQovWriteThumbnail(file, info.GetThumbnail());
    KQovWriteBlockBegin(file, "MetaData");
    KQovWriteIntField(file, "Version", 100);
    static const char* const kNames[6] = {"Title",    "Subject",  "Author",
                                          "Keywords", "Revision", "Comment"};
    const KString* texts[6] = {&info.title,    &info.subject,  &info.author,
                               &info.keywords, &info.revision, &info.comment};
    for (int i = 0; i < 6; ++i) file->FieldWriteC(kNames[i], texts[i]->Buffer());
    KQovWriteBlockEnd(file);
}

bool KQovWriteAmbientAndFog(KQovFieldFile* file, KQovScene* scene) {
    KQovGlobalLightSettings& light = scene->GetGlobalLightSettings();
    KQovWriteBlockBegin(file, "AmbientRenderSettings");
    KQovWriteIntField(file, "Version", 101);
    const KColor ambient = light.GetAmbientColor();
    KQovWriteDoublesField(file, "AmbientLightColor",
                          {ambient.mRed, ambient.mGreen, ambient.mBlue, ambient.mAlpha});
    KQovWriteBlockEnd(file);
    KQovWriteBlockBegin(file, "FogOptions");
    KQovWriteIntField(file, "FlogEnable", light.GetFogEnable() ? 1 : 0);
    KQovWriteIntField(file, "FogMode", light.GetFogMode());
    KQovWriteDoubleField(file, "FogDensity", light.GetFogDensity());
    KQovWriteDoubleField(file, "FogStart", light.GetFogStart());
    KQovWriteDoubleField(file, "FogEnd", light.GetFogEnd());
    const KColor fog = light.GetFogColor();
    KQovWriteDoublesField(file, "FogColor", {fog.mRed, fog.mGreen, fog.mBlue, 1.0});
    return KQovWriteBlockEnd(file);
}

bool KQovWriteRendererSetting(KQovFieldFile* file, KQovScene* scene) {
    KQovGlobalCameraSettings& camera = scene->GetGlobalCameraSettings();
    KQovWriteBlockBegin(file, "RendererSetting");
    file->FieldWriteC("DefaultCamera", camera.GetDefaultCamera());
    KQovWriteIntField(file, "DefaultViewingMode", camera.GetDefaultViewingMode());
    return KQovWriteBlockEnd(file);
}

bool KQovWriteTimeFields(KQovFieldFile* file, KQovScene* scene) {
    KQovGlobalTimeSettings& time = scene->GetGlobalTimeSettings();
    KQovWriteIntField(file, "TimeMode", KTimeModeToFileCode(time.GetTimeMode()));
    file->FieldWriteC("FrameRate", KTimeModeToName(time.GetTimeMode()));
    KQovWriteIntField(file, "TimeFormat", time.GetTimeFormat());
    KQovWriteIntField(file, "SnapOnFrames", time.GetSnapOnFrames());
    bool ok = KQovWriteIntField(file, "ReferenceTimeIndex", time.GetReferenceTimeIndex());
    for (int i = 0; i < time.GetTimeMarkerCount(); ++i) {
        const KQovTimeMarker* marker = time.GetTimeMarker(i);
        KQovWriteBlockBegin(file, "TimeMarker", marker->name.Buffer());
        file->FieldWriteBegin("Time");
        file->FieldWriteT(marker->time);
        file->FieldWriteEnd();
        KQovWriteIntField(file, "Loop", marker->loop);
        ok = KQovWriteBlockEnd(file);
    }
    return ok;
}

bool KQovWriteMultiLayerAndTake(KQovFieldFile* file, const KQovNode* node) {
    file->FieldWriteBegin("MultiLayer");
    file->FieldWriteI(node->GetMultiLayer() ? 1 : 0);
    file->FieldWriteEnd();
    file->FieldWriteBegin("MultiTake");
    file->FieldWriteI(node->GetMultiTake());
    return file->FieldWriteEnd();
}

bool KQovWriteVisibilityAndShading(KQovFieldFile* file, const KQovNode* node) {
    bool ok = true;
    if (!node->GetVisibility()) ok = file->FieldWriteC("Hidden", "True");
    static const char kModes[] = "WFYTU";
    const int mode = node->GetShadingMode();
    if (mode >= 1 && mode <= 5) {
        file->FieldWriteBegin("Shading");
        file->FieldWriteCh(kModes[mode - 1]);
        ok = file->FieldWriteEnd() && ok;
    }
    return ok;
}

bool KQovWriteShadowPlanes(KQovFieldFile* file, KQovScene* scene) {
    KQovGlobalLightSettings& light = scene->GetGlobalLightSettings();
    file->FieldWriteBegin("ShadowPlanes");
    file->FieldWriteBlockBegin();
    const int count = light.GetShadowPlaneCount();
    file->FieldWriteBegin("Count");
    file->FieldWriteI(count);
    file->FieldWriteEnd();
    for (int i = 0; i < count; ++i) {
        const KQovShadowPlane* plane = light.GetShadowPlane(i);
        file->FieldWriteBegin("Plane");
        for (int k = 0; k < 3; ++k) file->FieldWriteD(plane->origin[k]);
        for (int k = 0; k < 3; ++k) file->FieldWriteD(plane->normal[k]);
        file->FieldWriteI(plane->enabled ? 1 : 0);
        file->FieldWriteEnd();
    }
    file->FieldWriteBegin("UseShadow");
    file->FieldWriteI(light.GetShadowEnable() ? 1 : 0);
    file->FieldWriteEnd();
    file->FieldWriteBegin("ShadowIntensity");
    file->FieldWriteD(light.GetShadowIntensity());
    file->FieldWriteEnd();
    file->FieldWriteBlockEnd();
    return file->FieldWriteEnd();
}

namespace {

// The polygon-vertex indices, the last of each polygon complemented, a chunk at a time:
// encoded ('I' and the value) where the file takes values so, straight into its output
// buffer where it gives room, else as integers. A position past the vertex list reads as -1.
template <bool Encoded>
void WritePolygonIndices(KQovFieldFile* file, const KQovPolygon* polygon, int polygons,
                         const int32_t* vertex, int64_t vertexCount) {
    constexpr size_t kChunk = 4096, kItem = Encoded ? 5 : 4, kBytes = kChunk * kItem;
    alignas(4) uint8_t local[kBytes];
    uint8_t* begin = local;
    bool inPlace = false;
    auto open = [&] {
        uint8_t* room = Encoded ? file->FieldWriteEncodedRoom(kBytes) : nullptr;
        inPlace = room != nullptr;
        begin = inPlace ? room : local;
    };
    open();
    uint8_t* at = begin;
    auto flush = [&](bool more) {
        const size_t size = size_t(at - begin), count = size / kItem;
        if (inPlace)
            file->FieldWriteEncodedCommit(size, count);
        else if (Encoded)
            file->FieldWriteEncoded(begin, size, count);
        else
            file->FieldWriteIn(reinterpret_cast<const int32_t*>(begin), count);
        if (more) open();
        at = begin;
    };
    auto store = [](uint8_t* to, int32_t v) {
        if (Encoded) *to++ = 'I';
        std::memcpy(to, &v, 4);
    };
    // Room is made before each value: a whole polygon may have filled the chunk exactly.
    auto put = [&](int32_t v) {
        if (at == begin + kBytes) flush(true);
        store(at, v);
        at += kItem;
    };
    for (int p = 0; p < polygons; ++p) {
        const int64_t first = polygon[p].first, size = polygon[p].size;
        if (size <= 0) continue;
        if (first >= 0 && first + size <= vertexCount && size_t(size) <= kChunk) {
            // The common polygon: room made for it whole, its vertices taken unchecked.
            if (size_t(begin + kBytes - at) < size_t(size) * kItem) flush(true);
            const int32_t* v = vertex + first;
            for (int64_t k = 0; k + 1 < size; ++k, at += kItem) store(at, v[k]);
            store(at, ~v[size - 1]);
            at += kItem;
            continue;
        }
        for (int64_t k = 0; k < size; ++k) {
            const int64_t position = first + k;
            const int v = position >= 0 && position < vertexCount ? vertex[position] : -1;
            put(k + 1 == size ? ~v : v);
        }
    }
    flush(false);
}

}  // namespace

bool KQovWritePolygonVertexIndex(KQovFieldFile* file, const KQovMesh* mesh) {
    file->FieldWriteBegin("PolygonVertexIndex");
    const KArrayInt& vertices = mesh->GetPolygonVertices();
    if (file->CanWriteEncoded())
        WritePolygonIndices<true>(file, mesh->GetPolygonArray(), mesh->GetPolygonCount(),
                                  vertices.GetArray(), vertices.GetCount());
    else
        WritePolygonIndices<false>(file, mesh->GetPolygonArray(), mesh->GetPolygonCount(),
                                   vertices.GetArray(), vertices.GetCount());
    return file->FieldWriteEnd();
}

void KQovWriteTexturePlacement(KQovFieldFile* file, const KQovTexture* texture) {
    const KVector2 move = texture->GetUVTranslation(), scale = texture->GetUVScaling();
    KQovWriteDoublesField(file, "ModelUVTranslation", {move.mData[0], move.mData[1]});
    KQovWriteDoublesField(file, "ModelUVScaling", {scale.mData[0], scale.mData[1]});
    static const char* const kSources[] = {"None", "RGB_Intensity", "Alpha_Black"};
    const int source = texture->GetAlphaSource();
    file->FieldWriteC("Texture_Alpha_Source",
                      source >= 0 && source < 3 ? kSources[source] : "None");
    file->FieldWriteBegin("Cropping");
    for (int c : {texture->GetCroppingC0(), texture->GetCroppingC1(), texture->GetCroppingC2(),
                  texture->GetCroppingC3()})
        file->FieldWriteI(c);
    file->FieldWriteEnd();
}

void KQovWriteElementBegin(KQovFieldFile* file, const char* name, int number, int mapping,
                           int reference) {
    static const char* const kMappings[] = {"", "ByVertice", "ByPolygonVertex", "ByPolygon",
                                            "AllSame"};
    static const char* const kReferences[] = {"Direct", "Index", "IndexToDirect"};
    file->FieldWriteBegin(name);
    file->FieldWriteI(number);
    file->FieldWriteBlockBegin();
    KQovWriteIntField(file, "Version", 101);
    file->FieldWriteC("MappingInformationType",
                      mapping >= 0 && mapping <= 4 ? kMappings[mapping] : "");
    file->FieldWriteC("ReferenceInformationType",
                      reference >= 0 && reference <= 2 ? kReferences[reference] : "Direct");
}
