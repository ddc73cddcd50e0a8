#include "formats/geometry/KQovGeometryContent.h"

#include "attributes/KQovMesh.h"
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
