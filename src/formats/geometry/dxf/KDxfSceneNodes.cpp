#include "formats/geometry/dxf/KDxfSceneNodes.h"

#include "attributes/KQovMesh.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeWalk.h"

bool KDxfAddNodes(KDxfNodeList& records, KQovNode* parent, const KDxfNodeFactory& factory,
                  const KDxfMeshOf& meshOf) {
    for (auto& record : records) {
        KQovNode* node = factory(record->name);
        if (!node) return false;
        if (KQovMesh* mesh = meshOf ? meshOf(*record) : record->mesh.release())
            node->SetNodeAttribute(mesh);
        if (!record->visible) node->SetVisibility(false);
        if (record->wireFrame) node->SetShadingMode(1);
        const KVector4& s = record->scaling;
        const KVector4& r = record->rotation;
        const KVector4& t = record->translation;
        if (record->hasScaling) node->SetLocalScaling(s[0], s[1], s[2]);
        if (record->hasRotation) node->SetLocalRotation(r[0], r[1], r[2]);
        if (record->hasTranslation) node->SetLocalTranslation(t[0], t[1], t[2]);
        parent->AddChild(node);
        if (!KDxfAddNodes(record->children, node, factory, meshOf)) return false;
    }
    return true;
}

KAffineMatrix KDxfLocalMatrix(const KVector4& t, const KVector4& r, const KVector4& s) {
    KAffineMatrix m;
    m.SetT(t);
    m.SetR(r);
    m.SetS(s);
    return m;
}

KAffineMatrix KDxfLocalMatrix(const KQovNode& node) {
    KVector4 t, r, s;
    node.GetLocalTranslation(t);
    node.GetLocalRotation(r);
    node.GetLocalScaling(s);
    return KDxfLocalMatrix(t, r, s);
}

KAffineMatrix KDxfGlobalMatrix(const KQovNode& node) {
    KAffineMatrix m = KDxfLocalMatrix(node);
    for (const KQovNode* p = node.GetParent(); p; p = p->GetParent()) m = m * KDxfLocalMatrix(*p);
    return m;
}

void KDxfCollectMeshes(KQovNode* root, std::vector<KDxfMeshEntry>& out,
                       const KDxfMeshSource& meshOf, const KDxfPlacement& placeOf) {
    for (KQovNode* node : KQovListNodes(root)) {
        KQovNodeAttribute* attribute = node->GetNodeAttribute();
        KQovMesh* mesh = meshOf ? meshOf(node)
                         : attribute && attribute->GetAttributeType() == KQovNodeAttribute::eMesh
                             ? static_cast<KQovMesh*>(attribute)
                             : nullptr;
        if (mesh)
            out.push_back({node->GetNameWithoutPrefix().Buffer(),
                           mesh,
                           node->GetVisibility(),
                           placeOf ? placeOf(node) : KDxfGlobalMatrix(*node),
                           {},
                           node});
    }
}
