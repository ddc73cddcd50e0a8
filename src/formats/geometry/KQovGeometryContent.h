#pragma once
// What the mesh formats' writers find to write in a scene.

#include <string>

class KQovNode;

// True when `root` or a node below it carries geometry that the OBJ, DXF and 3DS writers
// write: a mesh with a polygon, a NURBS or a patch (written as meshes).
bool KQovHoldsWritableGeometry(KQovNode* root);

class KQovMaterial;
class KQovTexture;

// The first texture tied to the model alone (KQovShadingScene::TexturesOfModelOnly), which
// covers a model whose layers name none (`layered` false), or null; `told` gets a warning line
// for each other such texture, which the writer leaves out.
KQovTexture* KQovTextureCoveringModel(const KQovNode* node, bool layered, std::string& told);
// The same for the materials tied to the model alone.
KQovMaterial* KQovMaterialCoveringModel(const KQovNode* node, bool layered, std::string& told);
