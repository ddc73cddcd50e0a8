#include "formats/geometry/KQovDeformationBaker.h"

#include <algorithm>

#include "attributes/KQovLink.h"
#include "attributes/KQovMesh.h"

void KQovDeformationBaker::ApplyShapes(KQovMesh* mesh, KQovGeometry* source,
                                       std::vector<KVector4>& points) {
    const std::vector<KVector4> base = points;
    for (int s = 0; s < mesh->GetShapeCount(); ++s) {
        KQovShape* shape = mesh->GetShape(s);
        if (!shape) continue;
        const double weight = source->GetDefaultShapeChannelValue(s) / 100.0;
        const KArrayVector4& target = shape->GetControlPoints();
        const int count = std::min<int>(int(points.size()), target.GetCount());
        for (int i = 0; i < count; ++i)
            for (int k = 0; k < 4; ++k) points[i][k] += (target.GetAt(i)[k] - base[i][k]) * weight;
    }
}

void KQovDeformationBaker::ApplyLinks(const KAffineMatrix& m, KQovMesh* mesh,
                                      std::vector<KVector4>& points) const {
    const int count = int(points.size());
    const int mode = mesh->GetLink(0) ? mesh->GetLink(0)->GetLinkMode() : 0;
    std::vector<KAffineMatrix> sums(count);
    std::vector<double> weights(count, 0.0);
    if (mode != 1)
        for (KAffineMatrix& a : sums)
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 4; ++c) a[r][c] = 0.0;
    for (int l = 0; l < mesh->GetLinkCount(); ++l) {
        KQovLink* link = mesh->GetLink(l);
        if (!link || !link->GetLink()) continue;
        const bool associate = mode == 1 && link->GetAssociateModel();
        const KAffineMatrix t =
            associate ? link->GetTransformAssociateModelMatrix() : link->GetTransformMatrix();
        const KAffineMatrix p = associate ? mGlobal(link->GetAssociateModel()) : m;
        const KAffineMatrix g = mGlobal(link->GetLink());
        const KAffineMatrix x =
            (g.Inverse() * p).Inverse() * (link->GetTransformLinkMatrix().Inverse() * t);
        for (int i = 0; i < link->GetControlPointIndicesCount(); ++i) {
            const int j = link->GetControlPointIndex(i);
            const double w = link->GetControlPointWeight(i);
            if (w == 0.0 || j < 0 || j >= count) continue;
            KAffineMatrix scaled = x;
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 4; ++c) scaled[r][c] *= w;
            if (mode == 1) {
                for (int d = 0; d < 4; ++d) scaled[d][d] += 1.0 - w;
                sums[j] = scaled * sums[j];
                weights[j] = 1.0;
            } else {
                for (int r = 0; r < 4; ++r)
                    for (int c = 0; c < 4; ++c) sums[j][r][c] += scaled[r][c];
                weights[j] += w;
            }
        }
    }
    for (int i = 0; i < count; ++i) {
        if (weights[i] == 0.0) continue;
        const KVector4 p = points[i];
        KVector4 q = sums[i].MultT(p);
        for (int k = 0; k < 4; ++k) {
            if (mode == 0) q[k] /= weights[i];
            if (mode == 2) q[k] += p[k] * (1.0 - weights[i]);
        }
        points[i] = q;
    }
}
