#pragma once
// Sections both QOV writers (version 5 and version 6) write the same way.

class KQovFieldFile;
class KQovMesh;
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
