#include "formats/geometry/KQovGeometryContent.h"

#include <unordered_set>

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

std::vector<KQovTexture*> KQovTexturesOfModelOnly(KQovNode* node) {
    std::vector<KQovTexture*> loose;
    const int count = KQovShadingScene::ConnectedTextureCount(node);
    KQovGeometry* geometry = count > 0 ? node->GetGeometry() : nullptr;
    if (!geometry) return loose;
    std::unordered_set<const KQovTexture*> seen;
    for (int layer = 0; layer < geometry->GetLayerCount(); ++layer)
        for (int i = 0; i < geometry->GetTextureCount(layer); ++i)
            seen.insert(geometry->GetTexture(i, layer));
    for (int i = 0; i < count; ++i)
        if (KQovTexture* texture = KQovShadingScene::ConnectedTexture(node, i))
            if (seen.insert(texture).second) loose.push_back(texture);
    return loose;
}

std::string KQovTexturesLeftOut(KQovNode* node, size_t kept) {
    const std::vector<KQovTexture*> loose = KQovTexturesOfModelOnly(node);
    std::string out;
    for (size_t i = kept; i < loose.size(); ++i)
        out += "Texture \"" + KQovMessageText(loose[i]->GetNameWithoutPrefix().Buffer()) +
               "\" of \"" + KQovMessageText(node->GetNameWithoutPrefix().Buffer()) +
               "\" is not written: no layer of the model names it\n";
    return out;
}
