#pragma once
// What the mesh formats' writers find to write in a scene.

#include <string>
#include <vector>

class KQovNode;
class KQovTexture;

// True when `root` or a node below it carries geometry that the OBJ, DXF and 3DS writers
// write: a mesh with a polygon, a NURBS or a patch (written as meshes).
bool KQovHoldsWritableGeometry(KQovNode* root);

// The textures connected to `node` that no layer of its geometry names (tied to the model
// alone), in connection order.
std::vector<KQovTexture*> KQovTexturesOfModelOnly(KQovNode* node);
// A warning line for each of those past the first `kept`, which the writer leaves out.
std::string KQovTexturesLeftOut(KQovNode* node, size_t kept);
