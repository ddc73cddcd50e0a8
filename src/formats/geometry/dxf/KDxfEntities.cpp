#include "formats/geometry/dxf/KDxfEntities.h"

#include <cmath>
#include <cstdlib>
#include <array>
#include <map>
#include <utility>

#include "attributes/KQovLayer.h"
#include "attributes/KQovMesh.h"
#include "formats/geometry/dxf/KDxfGroupReader.h"

namespace {

constexpr double kWeldTolerance = 1e-6;
constexpr double kCellSize = 1e-3;

long long CellOf(double v) {
    double c = std::floor(v / kCellSize);
    if (!(c > -1e15)) c = -1e15;  // also NaN
    if (c > 1e15) c = 1e15;
    return static_cast<long long>(c);
}

unsigned long long CellKey(long long x, long long y, long long z) {
    return static_cast<unsigned long long>(x) * 73856093ULL ^
           static_cast<unsigned long long>(y) * 19349663ULL ^
           static_cast<unsigned long long>(z) * 83492791ULL;
}

// File point (X, Y, Z) as a scene point (X, Z, -Y).
KVector4 ScenePoint(const double p[3]) { return KVector4(p[0], p[2], -p[1], 1.0); }

// Group 420 as a true colour, -1 when it holds none.
int TrueColourOf(std::string_view value) {
    long long rgb = -1;
    KScanInteger(value, rgb);
    return rgb >= 0 ? int(rgb & 0xFFFFFF) : -1;
}

void Cross(const double a[3], const double b[3], double out[3]) {
    const double c[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                         a[0] * b[1] - a[1] * b[0]};
    for (int i = 0; i < 3; ++i) out[i] = c[i];
}

bool Normalise(double v[3]) {
    const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (!(length > 1e-12) || !std::isfinite(length)) return false;
    for (int i = 0; i < 3; ++i) v[i] /= length;
    return true;
}

}  // namespace

KDxfObjectAxes::KDxfObjectAxes(const double extrusion[3]) {
    double n[3] = {extrusion[0], extrusion[1], extrusion[2]};
    // No direction (or none that can be used) is the default one.
    if (!Normalise(n) || (n[0] == 0 && n[1] == 0 && n[2] == 1)) return;
    mIdentity = false;
    const double worldY[3] = {0, 1, 0}, worldZ[3] = {0, 0, 1};
    if (std::fabs(n[0]) < 1.0 / 64 && std::fabs(n[1]) < 1.0 / 64) Cross(worldY, n, x);
    else Cross(worldZ, n, x);
    Normalise(x);
    Cross(n, x, y);
    Normalise(y);
    for (int i = 0; i < 3; ++i) z[i] = n[i];
}

void KDxfObjectAxes::ToFile(const double in[3], double out[3]) const {
    if (mIdentity) {
        for (int i = 0; i < 3; ++i) out[i] = in[i];
        return;
    }
    double r[3];
    for (int i = 0; i < 3; ++i) r[i] = in[0] * x[i] + in[1] * y[i] + in[2] * z[i];
    for (int i = 0; i < 3; ++i) out[i] = r[i];
}

int KDxfCollection::AddPoint(const KVector4& point, bool weld) {
    if (weld) {
        for (; mCellsHold < mPoints.GetCount(); ++mCellsHold) {
            const KVector4& p = mPoints.GetArray()[mCellsHold];
            mCells[CellKey(CellOf(p[0]), CellOf(p[1]), CellOf(p[2]))].push_back(mCellsHold);
        }
        long long range[3][2];
        for (int a = 0; a < 3; ++a) {
            range[a][0] = CellOf(point[a] - kWeldTolerance);
            range[a][1] = CellOf(point[a] + kWeldTolerance);
        }
        int found = -1;
        for (long long x = range[0][0]; x <= range[0][1]; ++x)
            for (long long y = range[1][0]; y <= range[1][1]; ++y)
                for (long long z = range[2][0]; z <= range[2][1]; ++z) {
                    auto it = mCells.find(CellKey(x, y, z));
                    if (it == mCells.end()) continue;
                    for (int i : it->second)
                        if ((found < 0 || i < found) && mPoints.GetArray()[i] == point) found = i;
                }
        if (found >= 0) return found;
    }
    return mPoints.Add(point);
}

void KDxfCollection::AddRecord(int colour, const int* indices, int count) {
    mRecords.push_back(count);
    mRecords.push_back(colour);
    mRecords.insert(mRecords.end(), indices, indices + count);
    if (KDxfIsMaterialColour(colour)) mHasMaterial = true;
}

void KDxfBuildMesh(const KDxfCollection& collection, KQovMesh& mesh,
                   KDxfMaterialSource* materials) {
    mesh.GetControlPoints() = collection.GetPoints();
    const bool byPolygon = collection.HasMaterial() && materials;
    if (byPolygon) mesh.InitMaterialIndices(KQovLayer::eByPolygon);
    int indexOf[256];
    for (int& i : indexOf) i = -1;
    std::map<int, int> indexOfTrue;
    const std::vector<int>& r = collection.GetRecords();
    for (size_t at = 0; at + 2 <= r.size();) {
        const int count = r[at], colour = r[at + 1];
        int material = byPolygon ? 0 : -1;
        if (byPolygon && KDxfIsMaterialColour(colour)) {
            int& index = colour <= 255 ? indexOf[colour] : indexOfTrue.emplace(colour, -1).first->second;
            if (index < 0) {
                KQovMaterial* m = materials->GetMaterial(colour);
                if (m) {
                    mesh.AddMaterial(m, 0);  // -1 when the mesh holds it already
                    for (int i = 0; i < mesh.GetMaterialCount(0); ++i)
                        if (mesh.GetMaterial(i, 0) == m) index = i;
                }
            }
            if (index >= 0) material = index;
        }
        mesh.BeginPolygon(material);
        for (int k = 0; k < count; ++k) mesh.AddPolygonVertex(r[at + 2 + k]);
        if (count == 2) mesh.AddPolygonVertex(r[at + 2]);
        at += 2 + count;
    }
}

template <class Take>
bool KDxfEntityReader::ReadGroups(Take take) {
    int code;
    std::string_view value;
    while (mGroups.ReadGroup(code, value)) {
        if (code == 0) {
            mGroups.Seek(mGroups.GetGroupStart());
            return true;
        }
        take(code, value);
    }
    return false;
}

int KDxfEntityReader::LayerColour(const std::string& layer) const {
    auto trueColour = mTrueColours.find(layer);
    if (trueColour != mTrueColours.end()) return kDxfTrueColour + trueColour->second;
    auto it = mLayers.find(layer);
    return it == mLayers.end() ? 0 : std::abs(it->second);
}

int KDxfEntityReader::ResolveColour(int colour, int trueColour, const std::string& layer) const {
    if (trueColour >= 0) return kDxfTrueColour + trueColour;
    const bool inBlock = mBlock && mBlock->inBlock;
    if (colour == 256 && inBlock) colour = kDxfColourUnset;  // BYLAYER given outright
    if (colour == 0 && inBlock) return mBlock->colour;
    if (colour != 0 && colour != kDxfColourUnset) return colour;
    // By layer; an entity on layer 0 in a block takes the instance's layer.
    return LayerColour(inBlock && colour == kDxfColourUnset && layer == "0" ? mBlock->layer
                                                                           : layer);
}

bool KDxfEntityReader::ReadCorners(KDxfFace& face, int corners, bool solid) {
    double p[4][3] = {};
    double extrusion[3] = {0, 0, 1};
    int trueColour = -1;
    bool fourthGiven = false;
    face = KDxfFace();
    face.colour = kDxfColourUnset;
    const bool ok = ReadGroups([&](int code, std::string_view value) {
        if (code == 8) face.layer = mGroups.GetWholeValue();
        else if (code == 62) KDxfGroupReader::ToInt(value, face.colour);
        else if (code == 420) trueColour = TrueColourOf(value);
        else if (code >= 10 && code <= 39 && code % 10 < corners) {
            if (code % 10 == 3) fourthGiven = true;
            mGroups.ToDouble(value, p[code % 10][code / 10 - 1]);
        }
        else if (solid && code >= 210 && code <= 230 && code % 10 == 0)
            mGroups.ToDouble(value, extrusion[code / 10 - 21]);
    });
    face.count = corners;
    // A face given three corners is a triangle, as one whose fourth repeats the third, not a
    // quadrilateral through the origin.
    if (corners == 4 && !solid && !fourthGiven)
        for (int i = 0; i < 3; ++i) p[3][i] = p[2][i];
    // A face whose fourth corner repeats the third is a triangle.
    if (corners == 4 && p[3][0] == p[2][0] && p[3][1] == p[2][1] && p[3][2] == p[2][2]) face.count = 3;
    if (solid) {
        // The corners of a quadrilateral come 1, 2, then 4, 3 around it.
        if (face.count == 4)
            for (int i = 0; i < 3; ++i) std::swap(p[2][i], p[3][i]);
        const KDxfObjectAxes axes(extrusion);
        for (int k = 0; k < face.count; ++k) axes.ToFile(p[k], p[k]);
    }
    for (int i = 0; i < corners; ++i) face.corners[i] = ScenePoint(p[i]);
    face.colour = ResolveColour(face.colour, trueColour, face.layer);
    return ok;
}

bool KDxfEntityReader::ReadMesh(KDxfSubdMesh& mesh) {
    mesh = KDxfSubdMesh();
    int colour = kDxfColourUnset, trueColour = -1;
    // The groups come in parts: 92 and the points (10/20/30), 93 and the faces (each a 90
    // count, then that many 90 point numbers), then edges and creases, which are not read.
    enum { eHead, ePoints, eFaces, eRest } part = eHead;
    long long left = 0;  // point numbers still to come of the current face
    std::vector<int> face;
    double* point = nullptr;
    std::vector<std::array<double, 3>> points;
    const auto closeFace = [&] {
        if (face.empty() && left == 0) return;
        bool valid = left == 0 && face.size() >= 3;
        for (int v : face) valid = valid && v >= 0 && size_t(v) < points.size();
        if (valid) mesh.faces.push_back(face);
        else ++mesh.facesDropped;
        face.clear();
        left = 0;
    };
    const bool ok = ReadGroups([&](int code, std::string_view value) {
        if (code == 8) mesh.layer = mGroups.GetWholeValue();
        else if (code == 62) KDxfGroupReader::ToInt(value, colour);
        else if (code == 420) trueColour = TrueColourOf(value);
        else if (code == 91 && part == eHead) {
            int levels = 0;
            KDxfGroupReader::ToInt(value, levels);
            mesh.subdivided = levels > 0;
        } else if (code == 92 && part == eHead) {
            part = ePoints;
        } else if (part == ePoints && (code == 10 || code == 20 || code == 30)) {
            if (code == 10) {
                points.push_back({0, 0, 0});
                point = points.back().data();
            }
            if (point) mGroups.ToDouble(value, point[code / 10 - 1]);
        } else if (code == 93 && (part == eHead || part == ePoints)) {
            part = eFaces;
        } else if (part == eFaces && code == 90) {
            long long number = -1;
            KScanInteger(value, number);
            if (left > 0) {
                face.push_back(number >= 0 && number <= 0x7fffffff ? int(number) : -1);
                --left;
            } else {
                closeFace();
                left = number;
                if (left <= 0) ++mesh.facesDropped, left = 0;
            }
        } else if (part == eFaces && code != 90 && code != 93) {
            closeFace();
            part = eRest;
        }
    });
    if (part == eFaces) closeFace();
    for (const auto& p : points) mesh.points.push_back(ScenePoint(p.data()));
    mesh.colour = ResolveColour(colour, trueColour, mesh.layer);
    return ok;
}

bool KDxfEntityReader::ReadPolyline(KDxfPolyline& polyline) {
    polyline = KDxfPolyline();
    // Group 71 (a vertex count) is not trusted as a size.
    polyline.colour = kDxfColourUnset;
    int trueColour = -1;
    bool ok = ReadGroups([&](int code, std::string_view value) {
        if (code == 8) polyline.layer = mGroups.GetWholeValue();
        else if (code == 62) KDxfGroupReader::ToInt(value, polyline.colour);
        else if (code == 420) trueColour = TrueColourOf(value);
        else if (code == 70) KDxfGroupReader::ToInt(value, polyline.flags);
        else if (code == 71) KDxfGroupReader::ToInt(value, polyline.meshM);
        else if (code == 72) KDxfGroupReader::ToInt(value, polyline.meshN);
    });
    polyline.colour = ResolveColour(polyline.colour, trueColour, polyline.layer);
    return ok;
}

bool KDxfEntityReader::ReadVertices(const KDxfPolyline& polyline, KDxfCollection& collection) {
    if ((polyline.flags & 16) && !(polyline.flags & 64))
        return ReadMeshVertices(polyline, collection);
    int code;
    std::string_view value;
    if (!mGroups.ReadGroup(code, value)) return false;
    const size_t start = mGroups.GetGroupStart();
    const int base = collection.GetPoints().GetCount();
    const bool vertices = code == 0 && value == "VERTEX";
    while (code == 0 && value == "VERTEX")
        if (!ReadVertex(collection, base, polyline.colour, value)) return false;
    // None of its vertices is of a kind read (a 2D polyline's): told.
    if (vertices && collection.GetPoints().GetCount() == base) mPolylinesSkipped.insert(start);
    // The group after the last VERTEX is consumed only when it closes the sequence, so that
    // an entity following without SEQEND is not lost.
    if (value != "SEQEND") mGroups.Seek(mGroups.GetGroupStart());
    const int last = collection.GetPoints().GetCount() - 1;
    if (polyline.flags == 9 && last >= base) {
        const int closing[3] = {base, last, base};
        collection.AddRecord(polyline.colour, closing, 3);
    }
    return true;
}

bool KDxfEntityReader::ReadMeshVertices(const KDxfPolyline& polyline,
                                        KDxfCollection& collection) {
    std::vector<KVector4> grid;
    int code;
    std::string_view value;
    if (!mGroups.ReadGroup(code, value)) return false;
    const size_t start = mGroups.GetGroupStart();
    while (code == 0 && value == "VERTEX") {
        double p[3] = {0, 0, 0};
        int flags = 0;
        for (;;) {
            if (!mGroups.ReadGroup(code, value)) return false;
            if (code == 0) break;
            if (code == 10 || code == 20 || code == 30) mGroups.ToDouble(value, p[code / 10 - 1]);
            else if (code == 70) KDxfGroupReader::ToInt(value, flags);
        }
        // Mesh vertices; points made by smoothing (flag 8) are not of the grid.
        if ((flags & 64) && !(flags & (128 | 8))) grid.push_back(ScenePoint(p));
    }
    if (value != "SEQEND") mGroups.Seek(mGroups.GetGroupStart());
    const long long m = polyline.meshM, n = polyline.meshN;
    if (m < 2 || n < 2 || m * n != (long long)grid.size()) {
        mMeshesSkipped.insert(start);
        return true;
    }
    const int base = collection.GetPoints().GetCount();
    for (const KVector4& point : grid) collection.AddPoint(point, false);
    // Vertex (i, j) is the j-th of row i; flag 1 closes the rows' ends (M), 32 the columns (N).
    const long long rows = polyline.flags & 1 ? m : m - 1;
    const long long columns = polyline.flags & 32 ? n : n - 1;
    const auto at = [&](long long i, long long j) { return int(base + (i % m) * n + j % n); };
    for (long long i = 0; i < rows; ++i)
        for (long long j = 0; j < columns; ++j) {
            const int quad[4] = {at(i, j), at(i, j + 1), at(i + 1, j + 1), at(i + 1, j)};
            collection.AddRecord(polyline.colour, quad, 4);
        }
    return true;
}

bool KDxfEntityReader::ReadVertex(KDxfCollection& collection, int base, int colour,
                                  std::string_view& next) {
    double p[3] = {0, 0, 0};
    int flags = 0;
    long long number[4] = {0, 0, 0, 0};
    int code;
    std::string_view value;
    for (;;) {
        if (!mGroups.ReadGroup(code, value)) return false;
        if (code == 0) break;
        if (code == 10 || code == 20 || code == 30) mGroups.ToDouble(value, p[code / 10 - 1]);
        else if (code == 62) KDxfGroupReader::ToInt(value, colour);
        else if (code == 70) KDxfGroupReader::ToInt(value, flags);
        else if (code >= 71 && code <= 74) KScanInteger(value, number[code - 71]);
    }
    next = value;
    if (flags == 192) {
        collection.AddPoint(ScenePoint(p), false);
    } else if (flags == 32) {
        const int i = collection.AddPoint(ScenePoint(p), false);
        if (i > base) {
            const int segment[3] = {i, i - 1, i};
            collection.AddRecord(colour, segment, 3);
        }
    } else if (flags == 128 && number[0] != 0 && number[1] != 0) {
        const int count = number[2] == 0 ? 2 : number[3] == 0 ? 3 : 4;
        const long long limit = collection.GetPoints().GetCount() - base;
        int indices[4];
        // Corners stay in file order, so a face keeps the facing every other reader gives it.
        for (int k = 0; k < count; ++k) {
            const long long v = std::llabs(number[k]);
            // A vertex number beyond the points read so far drops the record.
            if (v < 1 || v > limit) return true;
            indices[k] = static_cast<int>(v - 1 + base);
        }
        collection.AddRecord(colour, indices, count);
    }
    return true;
}

void KDxfEntityReader::AddLine(const KDxfFace& line, KDxfCollection& collection, bool weld) {
    const int a = collection.AddPoint(line.corners[0], weld);
    const int b = collection.AddPoint(line.corners[1], weld);
    const int segment[3] = {a, b, a};
    collection.AddRecord(line.colour, segment, 3);
}

void KDxfEntityReader::AddFace(const KDxfFace& face, KDxfCollection& collection, bool weld,
                               bool dropFlat) {
    if (dropFlat && face.corners[0] == face.corners[1] && face.corners[0] == face.corners[2])
        return;
    int indices[4];
    for (int k = 0; k < face.count; ++k) indices[k] = collection.AddPoint(face.corners[k], weld);
    collection.AddRecord(face.colour, indices, face.count);
}
