// Blend shapes, cluster links and skin and cluster deformers of the QOV reader. Every control
// point index comes from the file and is checked against what it indexes before use.

#include <strings.h>

#include <algorithm>

#include "attributes/KQovGeometry.h"
#include "attributes/KQovLink.h"
#include "attributes/KQovMesh.h"
#include "io/qov/KQovReaderQov.h"
#include "scene/KQovDeformer.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"

namespace {

// What a link and a cluster deformer share, as the file gives it.
struct ClusterFields {
    int32_t mode = 0;
    bool hasUserData = false;
    KString userDataId, userData;
    std::vector<int32_t> indices;
    std::vector<double> weights;
    KAffineMatrix transform, link, associate, parent;
    KString associateName;
    bool hasParent = false;
};

// 16 doubles, row by row; false (m untouched) when the field is absent.
bool ReadMatrix(KQovFieldFile& file, const char* name, KMatrix& m) {
    if (!file.FieldReadBegin(name)) return false;
    file.FieldReadDn(static_cast<double*>(m), 16);
    file.FieldReadEnd();
    return true;
}

// The matrix rebuilt from its translation, XYZ rotation and scaling.
KAffineMatrix Reduced(const KMatrix& m) {
    const KAffineMatrix a(m);
    return KAffineMatrix(a.GetT(), a.GetR(), a.GetS());
}

// The fields of the current block. A stored transform is T x L^-1 (and the associate model's
// A x L^-1); multiplying by L again gives back T and A.
void ReadClusterFields(KQovFieldFile& file, ClusterFields& out) {
    static const char* const kModes[] = {"Normalize", "Additive", "Total1"};
    const char* mode = file.FieldReadC("Mode", "");
    for (int i = 1; i < 3; ++i)
        if (strcasecmp(mode, kModes[i]) == 0) out.mode = i;
    if (file.FieldReadBegin("UserData")) {
        out.hasUserData = true;
        out.userDataId = file.FieldReadC();
        out.userData = file.FieldReadC();
        file.FieldReadEnd();
    }
    if (file.FieldReadBegin("Indexes")) {
        out.indices.resize(size_t(file.FieldReadGetCount()));
        // A whole list a call; values the field lacks read as 0.
        const size_t got = file.FieldReadIn(out.indices.data(), out.indices.size());
        std::fill(out.indices.begin() + std::ptrdiff_t(got), out.indices.end(), 0);
        file.FieldReadEnd();
    }
    out.weights.assign(out.indices.size(), 0.0);
    if (file.FieldReadBegin("Weights")) {
        const size_t n = std::min(out.weights.size(), size_t(file.FieldReadGetCount()));
        file.FieldReadDoubles(out.weights.data(), n);  // the rest stay 0
        file.FieldReadEnd();
    }
    KMatrix transform, link;
    ReadMatrix(file, "Transform", transform);
    ReadMatrix(file, "TransformLink", link);
    out.link = Reduced(link);
    out.transform = Reduced(transform) * out.link;
    if (file.FieldReadBegin("AssociateModel")) {
        out.associateName = file.FieldReadC();
        KMatrix associate;
        if (file.FieldReadBlockBegin()) {
            if (ReadMatrix(file, "Transform", associate))
                out.associate = Reduced(associate) * out.link;
            file.FieldReadBlockEnd();
        }
        file.FieldReadEnd();
    }
    KMatrix parent;
    out.hasParent = ReadMatrix(file, "TransformParent", parent);
    if (out.hasParent) out.parent = parent;
}

}  // namespace

bool KQovReaderQov::ReadShapes(KQovGeometry* geometry) {
    if (!Switch(KStreamOptionsQov::eShapes)) return true;
    mModelShapes.clear();
    // The shapes' names set aside first: a renamed one never takes a later one's name.
    const int shapes = mFile->FieldReadGetOccurrenceCount("Shape");
    for (int k = 0; k < shapes; ++k)
        if (mFile->FieldReadBegin("Shape", k)) {
            geometry->SetShapeNameAside(mFile->FieldReadC());
            mFile->FieldReadEnd();
        }
    for (bool more = shapes > 0 && mFile->FieldReadBegin("Shape", 0); more;
         more = mFile->FieldReadBegin("Shape")) {
        if (KQovShape* shape = mManager->CreateShape()) {
            const KString name = mFile->FieldReadC();
            ReadShapeContent(shape, geometry);
            // A name another shape's channel or an empty one would lose it: renamed, kept.
            const int index = geometry->AddShapeRenaming(shape, name.Buffer());
            if (index < 0)
                mManager->DestroyShape(shape);
            else
                mModelShapes.push_back(ReadShape{name.Buffer(), shape, index});
        }
        mFile->FieldReadEnd();
    }
    geometry->ForgetShapeNamesAside();
    return true;
}

namespace {

// Adds the field's triples to the entries `indexes` names; entries past the indexes or the
// array are skipped. False when one was.
bool AddTriples(KQovFieldFile& file, const std::vector<int32_t>& indexes, KArrayVector4& to) {
    bool sound = true;
    const size_t triples = size_t(file.FieldReadGetCount() / 3);
    for (size_t k = 0; k < triples; ++k) {
        double d[3];
        file.FieldReadDn(d, 3);
        const int32_t at = k < indexes.size() ? indexes[k] : -1;
        if (at < 0 || at >= to.GetCount()) {
            sound = false;
            continue;
        }
        KVector4& p = to.GetArray()[at];
        p = KVector4(p[0] + d[0], p[1] + d[1], p[2] + d[2], p[3]);
    }
    return sound;
}

}  // namespace

bool KQovReaderQov::ReadShapeContent(KQovShape* shape, KQovGeometry* base) {
    if (!mFile->FieldReadBlockBegin()) return true;
    std::vector<int32_t> indexes;
    if (mFile->FieldReadBegin("Indexes")) {
        indexes.resize(size_t(mFile->FieldReadGetCount()));
        const size_t got = mFile->FieldReadIn(indexes.data(), indexes.size());
        std::fill(indexes.begin() + std::ptrdiff_t(got), indexes.end(), 0);
        mFile->FieldReadEnd();
    }
    bool sound = true;
    if (mFile->FieldReadBegin("Vertices")) {
        shape->GetControlPoints() = base->GetControlPoints();
        sound = AddTriples(*mFile.get(), indexes, shape->GetControlPoints());
        mFile->FieldReadEnd();
    }
    if (base->GetAttributeType() == KQovNodeAttribute::eMesh) {
        if (shape->GetLayerCount() == 0) shape->CreateLayer();
        KQovLayer& layer = *shape->GetLayer(0);
        KQovLayerElement& normals = layer.MakeNormals();
        normals.SetMappingMode(KQovLayer::eByControlPoint);
        normals.SetReferenceMode(KQovLayer::eDirect);
        const KArrayVector4* baseNormals = base->GetNormals();
        if (baseNormals) normals.GetDirectArray() = *baseNormals;
        if (normals.GetDirectArray().GetCount() > 0 && mFile->FieldReadBegin("Normals")) {
            sound = AddTriples(*mFile.get(), indexes, normals.GetDirectArray()) && sound;
            mFile->FieldReadEnd();
        }
    }
    if (!sound) InvalidData("Shape index out of range (invalid data).");
    mFile->FieldReadBlockEnd();
    return true;
}

bool KQovReaderQov::ReadLinks(KQovGeometry* geometry) {
    if (!Switch(KStreamOptionsQov::eDeformers)) return true;
    while (mFile->FieldReadBegin("Link")) {
        if (KQovLink* link = mManager->CreateLink()) {
            if (ReadLinkContent(link, geometry))
                geometry->AddLink(link);
            else
                mManager->DestroyLink(link);
        }
        mFile->FieldReadEnd();
    }
    return true;
}

bool KQovReaderQov::ReadLinkContent(KQovLink* link, KQovGeometryBase* geometry) {
    link->SetLinkMode(0);
    const KString model = mFile->FieldReadC();
    if (!mFile->FieldReadBlockBegin()) return true;
    ClusterFields fields;
    ReadClusterFields(*mFile.get(), fields);
    mFile->FieldReadBlockEnd();
    link->SetLinkMode(fields.mode);
    if (fields.hasUserData) link->SetUserData(fields.userDataId.Buffer(), fields.userData.Buffer());
    const int points = geometry ? geometry->GetControlPointsCount() : 0;
    bool dropped = false;
    for (size_t i = 0; i < fields.indices.size(); ++i) {
        if (fields.indices[i] < 0 || fields.indices[i] >= points)
            dropped = true;
        else
            link->AddControlPointIndex(fields.indices[i], fields.weights[i]);
    }
    if (dropped) InvalidData("Link control point index out of range (invalid data).");
    // Kept as given, should the models not be found.
    const auto full = [](const KString& name) {
        return name.IsEmpty()
                   ? name
                   : KMakePrefixedName("Model::", KQovStripPrefix(name.Buffer()).Buffer());
    };
    link->SetNames(full(model).Buffer(), full(fields.associateName).Buffer());
    link->SetTransformMatrix(fields.transform);
    link->SetTransformLinkMatrix(fields.link);
    link->SetTransformAssociateModelMatrix(fields.associate);
    if (fields.hasParent) link->SetTransformParentMatrix(fields.parent);
    // The models may come later in the file: resolved once all are read.
    mPendingLinks.push_back({link, model, fields.associateName});
    return true;
}

void KQovReaderQov::ResolveLinkModels() {
    for (const PendingLink& pending : mPendingLinks) {
        pending.link->SetLink(FindModel(pending.model.Buffer()));
        KQovNode* associate =
            pending.associate.IsEmpty() ? nullptr : FindModel(pending.associate.Buffer());
        if (associate) pending.link->SetAssociateModel(associate);
    }
    mPendingLinks.clear();
}

bool KQovReaderQov::ReadDeformerContent(KQovDeformer* deformer) {
    ReadInt("Version", 100);
    deformer->SetMultiLayer(ReadInt("MultiLayer", 0) != 0);
    ReadPropertyBlock(deformer);
    const KString type = deformer->GetTypeName();
    if (type.CompareNoCase("Skin") == 0) {
        if (mFile->FieldReadBegin("Link_DeformAcuracy")) {
            static_cast<KQovSkin*>(deformer->GetProperties())->accuracy = mFile->FieldReadD();
            mFile->FieldReadEnd();
        }
        return true;
    }
    if (type.CompareNoCase("Cluster") != 0) return true;
    ClusterFields fields;
    ReadClusterFields(*mFile.get(), fields);
    KQovClusterLinkData data;
    data.linkMode = fields.mode;
    data.userDataId = fields.userDataId;
    data.userData = fields.userData;
    data.associateModelName = fields.associateName;
    // The geometry is known only through connections: a negative index is never valid.
    for (size_t i = 0; i < fields.indices.size(); ++i) {
        if (fields.indices[i] < 0) continue;
        data.indices.push_back(fields.indices[i]);
        data.weights.push_back(fields.weights[i]);
    }
    if (data.indices.size() != fields.indices.size())
        InvalidData("Cluster control point index out of range (invalid data).");
    data.transform = fields.transform;
    data.transformLink = fields.link;
    data.transformAssociateModel = fields.associate;
    data.transformParent = fields.parent;
    data.hasTransformParent = fields.hasParent;
    deformer->SetFromLink(data);
    return true;
}
