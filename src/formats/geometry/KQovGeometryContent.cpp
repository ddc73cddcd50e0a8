#include "formats/geometry/KQovGeometryContent.h"

#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovShadingScene.h"
#include "attributes/KQovTexture.h"
#include "foundation/KQuotedText.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"
#include "scene/KQovNodeWalk.h"

bool KQovHoldsWritableGeometry(KQovNode* root) {
    if (!root) return false;
    for (KQovNode* node : KQovListNodes(root)) {
        KQovNodeAttribute* attribute = node->GetNodeAttribute();
        const int type = attribute ? attribute->GetAttributeType() : -1;
        if (type == KQovNodeAttribute::eNurb || type == KQovNodeAttribute::ePatch) return true;
        // A mesh of points alone reads back as nothing.
        const auto* mesh = dynamic_cast<const KQovMesh*>(attribute);
        if (mesh && mesh->GetPolygonCount() > 0) return true;
    }
    return false;
}

namespace {

template <class Item>
std::string LeftOut(const char* kind, const KQovNode* node, const std::vector<Item*>& loose,
                    size_t kept) {
    std::string out;
    for (size_t i = kept; i < loose.size(); ++i)
        out += std::string(kind) + " \"" +
               KQovMessageText(loose[i]->GetNameWithoutPrefix().Buffer()) + "\" of \"" +
               KQovMessageText(node->GetNameWithoutPrefix().Buffer()) +
               "\" is not written: no layer of the model names it\n";
    return out;
}

}  // namespace

std::string KQovTexturesLeftOut(KQovNode* node, size_t kept) {
    return LeftOut("Texture", node, KQovShadingScene::TexturesOfModelOnly(node), kept);
}

std::string KQovMaterialsLeftOut(const KQovNode* node, size_t kept) {
    return LeftOut("Material", node, KQovShadingScene::MaterialsOfModelOnly(node), kept);
}
