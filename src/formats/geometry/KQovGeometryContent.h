#pragma once
// What the mesh formats' writers find to write in a scene.

#include <string>

class KQovNode;

// True when `root` or a node below it carries geometry that the OBJ, DXF and 3DS writers
// write: a mesh with a polygon, a NURBS or a patch (written as meshes).
bool KQovHoldsWritableGeometry(KQovNode* root);

// A warning line for each texture tied to the model alone (KQovShadingScene::
// TexturesOfModelOnly) past the first `kept`, which the writer leaves out.
std::string KQovTexturesLeftOut(KQovNode* node, size_t kept);
// The same for the materials tied to the model alone.
std::string KQovMaterialsLeftOut(const KQovNode* node, size_t kept);
