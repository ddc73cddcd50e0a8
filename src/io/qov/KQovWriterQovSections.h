#pragma once
// Sections both QOV writers (version 5 and version 6) write the same way, and the small
// field forms they are made of.

#include <cstdint>
#include <initializer_list>

class KColor;
class KQovFieldFile;
struct KQovSceneInfo;
class KQovThumbnail;
class KQovMesh;
class KQovTexture;
class KQovNode;
class KQovScene;

// "MultiLayer" (the node's multi-layer flag as 0/1) and "MultiTake".
bool KQovWriteMultiLayerAndTake(KQovFieldFile* file, const KQovNode* node);
// "Hidden" "True" for an invisible node; "Shading" as one letter (1 'W', 2 'F', 3 'Y', 4 'T',
// 5 'U'), absent for mode 0.
bool KQovWriteVisibilityAndShading(KQovFieldFile* file, const KQovNode* node);
// "ShadowPlanes" { "Count", "Plane" origin, normal, enabled ..., "UseShadow", "ShadowIntensity" }.
bool KQovWriteShadowPlanes(KQovFieldFile* file, KQovScene* scene);
// "PolygonVertexIndex": every polygon's vertices, the last one of each written as ~v.
bool KQovWritePolygonVertexIndex(KQovFieldFile* file, const KQovMesh* mesh);

// "ModelUVTranslation", "ModelUVScaling", "Texture_Alpha_Source" and "Cropping" (c0 to c3).
void KQovWriteTexturePlacement(KQovFieldFile* file, const KQovTexture* texture);

// Opens a layer element's field (its number) and block: "Version" 101, then the mapping
// ("ByVertice", "ByPolygonVertex", "ByPolygon", "AllSame") and reference ("Direct", "Index",
// "IndexToDirect") by name. The caller closes it with KQovWriteBlockEnd.
void KQovWriteElementBegin(KQovFieldFile* file, const char* name, int number, int mapping,
                           int reference);

// One field holding one integer, one double, or a list of doubles.
bool KQovWriteIntField(KQovFieldFile* file, const char* name, int32_t value);
bool KQovWriteDoubleField(KQovFieldFile* file, const char* name, double value);
bool KQovWriteDoublesField(KQovFieldFile* file, const char* name,
                           std::initializer_list<double> values);
// Red, green and blue of a colour.
bool KQovWriteRgbField(KQovFieldFile* file, const char* name, const KColor& color);
// A field (with a text value when given) that opens a block, and the end of both.
void KQovWriteBlockBegin(KQovFieldFile* file, const char* name, const char* value = nullptr);
bool KQovWriteBlockEnd(KQovFieldFile* file);

// "Thumbnail" { "Version", "Format", "Size", "ImageEncoding" 0, "ImageData" one integer a byte };
// nothing for a missing thumbnail or one of size 0.
void KQovWriteThumbnail(KQovFieldFile* file, const KQovThumbnail* thumbnail);
// "SceneInfo" "SceneInfo::GlobalInfo" { "Type" "UserData", "Version", the thumbnail, "MetaData" }.
void KQovWriteSceneInfo(KQovFieldFile* file, const KQovSceneInfo& info);
// What the block holds after its "Type": "Version", the thumbnail and "MetaData".
void KQovWriteSceneInfoContent(KQovFieldFile* file, const KQovSceneInfo& info);
// "AmbientRenderSettings" and "FogOptions" (the fog colour always opaque).
bool KQovWriteAmbientAndFog(KQovFieldFile* file, KQovScene* scene);
// "RendererSetting" { "DefaultCamera", "DefaultViewingMode" }.
bool KQovWriteRendererSetting(KQovFieldFile* file, KQovScene* scene);
// The time settings' fields (the caller opens the block that holds them): "TimeMode",
// "FrameRate", "TimeFormat", "SnapOnFrames", "ReferenceTimeIndex", one "TimeMarker" each.
bool KQovWriteTimeFields(KQovFieldFile* file, KQovScene* scene);
