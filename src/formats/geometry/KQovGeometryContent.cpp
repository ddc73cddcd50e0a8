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
Item* Covering(const char* kind, const KQovNode* node, bool layered,
               const std::vector<Item*>& loose, std::string& told) {
    for (size_t i = layered ? 0 : 1; i < loose.size(); ++i)
        told += std::string(kind) + " \"" +
                KQovMessageText(loose[i]->GetNameWithoutPrefix().Buffer()) + "\" of \"" +
                KQovMessageText(node->GetNameWithoutPrefix().Buffer()) +
                "\" is not written: no layer of the model names it\n";
    return !layered && !loose.empty() ? loose.front() : nullptr;
}

}  // namespace

KQovTexture* KQovTextureCoveringModel(const KQovNode* node, bool layered, std::string& told) {
    return Covering("Texture", node, layered, KQovShadingScene::TexturesOfModelOnly(node), told);
}

KQovMaterial* KQovMaterialCoveringModel(const KQovNode* node, bool layered, std::string& told) {
    return Covering("Material", node, layered, KQovShadingScene::MaterialsOfModelOnly(node),
                    told);
}
