// Splitting shared control points so that every polygon vertex owns one, merging them back,
// and the duplicate finder both use. Indices come from files: every one is checked.
#include <climits>

#include "attributes/KQovMesh.h"

namespace {

bool SamePoint(const KVector4& a, const KVector4& b) {
    for (int c = 0; c < 3; ++c) {
        const double d = a[c] - b[c];
        if (d > 1e-6 || d < -1e-6) return false;
    }
    return true;
}

// Copies of a shape's points and normals, resized to count, with point i copied to the new
// index of every further use in lists[i].
void SpreadArray(KArrayVector4& values, int original, int count, const KQovSplitLists& lists) {
    const KArrayVector4 saved = values;
    values.SetCount(count);
    for (int i = 0; i < original && i < int(lists.size()); ++i) {
        for (size_t e = 1; e < lists[size_t(i)].size(); ++e)
            values.SetAt(lists[size_t(i)][e].index, saved.GetAt(i));
    }
}

}  // namespace

bool KQovMesh::FindDuplicateControlPoints(std::vector<int>& map, int reserved, bool all) const {
    if (reserved != 0) return false;
    const int n = GetControlPointsCount();
    const KVector4* points = GetControlPoints().GetArray();
    map.resize(size_t(n));
    for (int i = 0; i < n; ++i) map[size_t(i)] = i;
    int lowest = INT_MAX;
    bool found = false;
    for (int i = 0; i < n; ++i) {
        if (!all && lowest <= i) break;
        for (int j = i + 1; j < n; ++j) {
            if (!SamePoint(points[i], points[j])) continue;
            map[size_t(j)] = i;
            lowest = j < lowest ? j : lowest;
            found = true;
        }
    }
    return found;
}

void KQovMesh::SplitPolygonVertices(KQovSplitLists& lists, int reserved) const {
    if (reserved != 0) return;
    const int n = GetControlPointsCount();
    lists.assign(size_t(n), {});
    const KArrayVector4* normals = GetNormals();
    int next = n;
    for (int t = 0; t < mVertices.GetCount(); ++t) {
        const int c = mVertices.GetAt(t);
        if (c < 0 || c >= n) continue;  // a point outside the mesh has nothing to split
        auto& list = lists[size_t(c)];
        if (list.capacity() == list.size()) list.reserve(list.size() + 16);
        // Positions without a normal get a zero one.
        const KVector4 normal = normals ? normals->GetAt(t) : KVector4();
        list.push_back({t, list.empty() ? c : next++, normal});
    }
}

void KQovMesh::ApplySplitPolygonVertices(const KQovSplitLists& lists) {
    const int n = GetControlPointsCount();
    if (int(lists.size()) != n) return;
    int count = n;
    for (const auto& list : lists) count += list.empty() ? 0 : int(list.size()) - 1;
    // Lists not made by the split for this mesh could place points anywhere: refuse them.
    for (const auto& list : lists) {
        for (size_t u = 1; u < list.size(); ++u) {
            if (list[u].index < n || list[u].index >= count || list[u].position < 0 ||
                list[u].position >= mVertices.GetCount())
                return;
        }
    }

    for (int l = 0; l < GetLinkCount(); ++l) {
        KQovLink* link = GetLink(l);
        const int entries = link->GetControlPointIndicesCount();
        for (int e = 0; e < entries; ++e) {
            const int c = link->GetControlPointIndex(e);
            if (c < 0 || c >= n) continue;
            for (size_t u = 1; u < lists[size_t(c)].size(); ++u)
                link->AddControlPointIndex(lists[size_t(c)][u].index, link->GetControlPointWeight(e));
        }
    }

    KQovLayerElement& normals = GetLayer0().MakeNormals();
    KArrayVector4& normalArray = normals.GetDirectArray();
    if (normalArray.GetCount() < n) normalArray.SetCount(n);
    for (int i = 0; i < n; ++i) {
        const auto& list = lists[size_t(i)];
        if (list.empty()) continue;
        normalArray.SetAt(i, list.front().normal);
        const KVector4 point = GetControlPoints().GetAt(i);
        for (size_t u = 1; u < list.size(); ++u) {
            SetControlPointAt(point, list[u].normal, list[u].index);
            mVertices.SetAt(list[u].position, list[u].index);
        }
    }
    normalArray.SetCount(count);  // one normal per control point from here on

    for (int s = 0; s < GetShapeCount(); ++s) {
        KQovShape* shape = GetShape(s);
        if (shape->GetControlPointsCount() != n) continue;  // does not match this mesh
        SpreadArray(shape->GetControlPoints(), n, count, lists);
        if (KArrayVector4* shapeNormals = shape->GetNormals()) {
            if (shapeNormals->GetCount() < n) shapeNormals->SetCount(n);
            SpreadArray(*shapeNormals, n, count, lists);
        }
    }
    normals.SetMappingMode(KQovLayer::eByControlPoint);
}

bool KQovMesh::MergeDuplicateControlPoints(const std::vector<int>& map) {
    const int n = GetControlPointsCount();
    if (int(map.size()) != n) return false;
    int lowest = INT_MAX;
    for (int i = 0; i < n && lowest == INT_MAX; ++i) lowest = map[size_t(i)] != i ? i : lowest;
    if (lowest == INT_MAX) return true;
    // Every point from lowest on must be a duplicate of a kept one, and none before it.
    for (int i = 0; i < n; ++i) {
        const int target = map[size_t(i)];
        if (i < lowest ? target != i : (target < 0 || target >= lowest)) return false;
    }
    for (int t = 0; t < mVertices.GetCount(); ++t) {
        const int c = mVertices.GetAt(t);
        if (c < 0 || c >= n) return false;
    }

    // Normals follow the polygon vertices they were split for.
    KArrayVector4* normals = GetNormals();
    if (normals) {
        KArrayVector4 byVertex(normals->GetGrowStep());
        byVertex.SetCount(mVertices.GetCount());
        for (int t = 0; t < mVertices.GetCount(); ++t)
            byVertex.SetAt(t, normals->GetAt(mVertices.GetAt(t)));
        *normals = byVertex;
        GetLayer(0)->GetNormals()->SetMappingMode(KQovLayer::eByPolygonVertex);
    }
    for (int t = 0; t < mVertices.GetCount(); ++t) mVertices.SetAt(t, map[size_t(mVertices.GetAt(t))]);
    for (int l = 0; l < GetLinkCount(); ++l) GetLink(l)->KeepControlPointsBelow(lowest);
    GetControlPoints().SetCount(lowest);
    for (int s = 0; s < GetShapeCount(); ++s) {
        KQovShape* shape = GetShape(s);
        if (shape->GetControlPointsCount() > lowest) shape->GetControlPoints().SetCount(lowest);
        KArrayVector4* shapeNormals = shape->GetNormals();
        if (shapeNormals && shapeNormals->GetCount() > lowest) shapeNormals->SetCount(lowest);
    }
    return true;
}
