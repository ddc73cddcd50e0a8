#include "formats/geometry/dxf/KDxfDrawingReader.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <unordered_map>

#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "formats/geometry/dxf/KDxfPalette.h"
#include "foundation/KMatrix.h"
#include "foundation/KQuotedText.h"

namespace {

constexpr double kDegToRad = 3.14159265358979323846 / 180.0;

// Kinds of entities made of faces that are not read, each named in a warning.
bool IsFacesNotRead(std::string_view type) {
    static const char* const kKinds[] = {"3DSOLID",         "BODY",           "REGION",
                                         "SURFACE",         "PLANESURFACE",   "EXTRUDEDSURFACE",
                                         "LOFTEDSURFACE",   "REVOLVEDSURFACE", "SWEPTSURFACE",
                                         "NURBSURFACE"};
    for (const char* kind : kKinds)
        if (type == kind) return true;
    return false;
}

// Kinds whose entities of paper space are left out.
bool IsModelKind(std::string_view type) {
    return type == "LINE" || type == "3DFACE" || type == "POLYLINE" || type == "INSERT" ||
           type == "MESH" || type == "SOLID" || type == "TRACE" || IsFacesNotRead(type);
}

// File point (X, Y, Z) as a scene point, as KDxfEntities places points.
KVector4 SceneVector(const double p[3]) { return KVector4(p[0], p[2], -p[1]); }

}  // namespace

KDxfNodeRecord::KDxfNodeRecord() = default;
KDxfNodeRecord::~KDxfNodeRecord() = default;

KDxfDrawingReader::KDxfDrawingReader(int mode, bool weld)
    : mMode(mode), mWeld(weld), mEntities(mGroups, mLayers, mLayerTrueColours) {}

KDxfDrawingReader::~KDxfDrawingReader() {
    mNodes.clear();  // the meshes go before the materials they use
}

KQovMaterial* KDxfDrawingReader::CreateMaterial(const std::string& name) {
    mOwnedMaterials.push_back(std::make_unique<KQovMaterial>(nullptr, ("Material::" + name).c_str()));
    return mOwnedMaterials.back().get();
}

KQovMaterial* KDxfDrawingReader::GetMaterial(int colour) {
    if (!KDxfIsMaterialColour(colour)) return nullptr;
    if (colour > 255) {
        KQovMaterial*& made = mTrueColourMaterials[colour];
        if (!made) {
            made = CreateMaterial("Material" + std::to_string(mMaterialCounter++));
            if (!made) return nullptr;
            const int rgb = colour - kDxfTrueColour;
            made->SetDefaultDiffuse(KColor(((rgb >> 16) & 255) / 255.0, ((rgb >> 8) & 255) / 255.0,
                                           (rgb & 255) / 255.0));
        }
        return made;
    }
    if (!mMaterials[colour]) {
        KQovMaterial* m = CreateMaterial("Material" + std::to_string(mMaterialCounter++));
        if (!m) return nullptr;
        double rgb[3] = {1, 1, 1};
        KDxfAciToRgb(colour, rgb);
        m->SetDefaultDiffuse(KColor(rgb[0], rgb[1], rgb[2]));
        mMaterials[colour] = m;
    }
    return mMaterials[colour];
}

void KDxfDrawingReader::NameNodes() {
    // Parents before children, in file order; instances nest no deeper than kMaxInsertDepth.
    std::vector<KDxfNodeRecord*> order;
    std::vector<KDxfNodeList*> lists{&mNodes};
    std::vector<size_t> at{0};
    while (!lists.empty()) {
        if (at.back() == lists.back()->size()) {
            lists.pop_back();
            at.pop_back();
            continue;
        }
        KDxfNodeRecord* record = (*lists.back())[at.back()++].get();
        order.push_back(record);
        lists.push_back(&record->children);
        at.push_back(0);
    }
    for (const KDxfNodeRecord* record : order)
        if (record->naming != KDxfNodeRecord::eKept) mNames.SetAside(record->name);
    // Instances of a block numbered past each other go untold; one numbered past a mesh of
    // another kind (a layer) is told, one by one, and past a few counted.
    constexpr int kInstancesToldOne = 20;
    int instances = 0;
    std::unordered_map<std::string, bool> heldByInstance;  // per name kept, whose it is
    for (KDxfNodeRecord* record : order) {
        if (record->naming == KDxfNodeRecord::eKept) continue;
        const std::string given = mNames.Unique(record->name);
        if (given == record->name)
            heldByInstance.emplace(given, record->naming == KDxfNodeRecord::eInstance);
        if (given != record->name && record->naming == KDxfNodeRecord::eLayer)
            mStatus += "Layer \"" + KQovMessageText(record->told) + "\" read as \"" +
                       KQovMessageText(given) + "\": " +
                       (record->name == record->told ? "" : "blanks around a name are dropped; ") +
                       "another mesh has the name\n";
        if (given != record->name && record->naming == KDxfNodeRecord::eInstance &&
            !heldByInstance[record->name] && ++instances <= kInstancesToldOne)
            mStatus += "Instance of block \"" + KQovMessageText(record->told) + "\" read as \"" +
                       KQovMessageText(given) + "\": another mesh has the name\n";
        record->name = given;
    }
    if (instances > kInstancesToldOne)
        mStatus += std::to_string(instances - kInstancesToldOne) + " more block instance" +
                   (instances - kInstancesToldOne == 1 ? "" : "s") + " read renamed\n";
}

bool KDxfDrawingReader::Next(int& code, std::string_view& value) {
    if (mGroups.ReadGroup(code, value)) return true;
    if (mGroups.IsCorrupt()) mCorrupt = true;
    return false;
}

bool KDxfDrawingReader::Read(std::string_view text) {
    const bool read = ReadSections(text);
    NameNodes();
    // Entities left out, counted: "1 <one>" or "N <many>".
    const auto tell = [this](int count, const char* one, const char* many) {
        if (count > 0)
            mStatus += (count == 1 ? std::string("1 ") + one : std::to_string(count) + ' ' + many) +
                       '\n';
    };
    tell(mEntities.GetMeshesSkipped(),
         "polygon mesh is not read: its vertices do not fill its grid (groups 71 and 72)",
         "polygon meshes are not read: their vertices do not fill their grids (groups 71 and 72)");
    tell(mEntities.GetPolylinesSkipped(),
         "polyline is not read: a 2D polyline, or one whose vertex flags (group 70) do not fit it",
         "polylines are not read: 2D polylines, or ones whose vertex flags (group 70) do not fit "
         "them");
    for (const auto& [kind, where] : mNotRead) {
        const std::string one = kind + " entity is not read: this reader does not take its surfaces";
        const std::string many =
            kind + " entities are not read: this reader does not take their surfaces";
        tell(int(where.size()), one.c_str(), many.c_str());
    }
    tell(int(mSubdivided.size()),
         "MESH entity is read as its base cage: its subdivision (group 91) is not applied",
         "MESH entities are read as their base cages: their subdivision (group 91) is not applied");
    tell(int(mMeshFacesDropped.size()),
         "MESH entity has faces that are not read: of fewer than 3 corners, or of a vertex it "
         "does not hold",
         "MESH entities have faces that are not read: of fewer than 3 corners, or of a vertex "
         "they do not hold");
    tell(mPaperSpace, "entity of paper space (group 67) is left out: only model space is read",
         "entities of paper space (group 67) are left out: only model space is read");
    return read;
}

bool KDxfDrawingReader::ReadSections(std::string_view text) {
    if (KDxfGroupReader::IsBinary(text)) {
        mCorrupt = true;
        return false;
    }
    mGroups.SetText(text);
    mInstanceLimit =
        int(std::min<size_t>(kMaxInstances, kFreeInstances + text.size() / kBytesPerInstance));
    int code;
    std::string_view value;
    while (Next(code, value)) {
        if (code != 0) continue;
        if (value == "EOF") return true;
        if (value != "SECTION") continue;
        if (!Next(code, value)) return false;
        if (code != 2) continue;
        if (value == "TABLES") {
            if (!ReadTables()) return false;
        } else if (value == "BLOCKS") {
            mBlocksPosition = mGroups.Tell();
        } else if (value == "ENTITIES") {
            switch (mMode) {
            case eByEntity: return ReadEntitiesByEntity(mNodes);
            case eByLayer: return ReadEntitiesByLayer(mNodes);
            case eByBlock: {
                const double origin[3] = {0, 0, 0};
                return ReadBlock(mNodes, "ENTITIES", Insert(), origin, true, 0);
            }
            default: return false;
            }
        }
    }
    return false;
}

bool KDxfDrawingReader::SkipTo(std::string_view until, std::string_view& found) {
    int code;
    while (Next(code, found))
        if (code == 0 && (found == until || found == "ENDSEC")) {
            if (found == "ENDSEC") mGroups.Seek(mGroups.GetGroupStart());
            return true;
        }
    return false;
}

bool KDxfDrawingReader::ReadTables() {
    int code;
    std::string_view value;
    for (;;) {
        // The next table, but never past the end of the section.
        if (!Next(code, value)) return false;
        if (code != 0) continue;
        if (value == "ENDSEC") return true;
        if (value != "TABLE") continue;
        if (!Next(code, value)) return false;
        if (code != 2 || value != "LAYER") {
            if (!SkipTo("ENDTAB", value)) return false;
            continue;
        }
        if (!SkipTo("LAYER", value)) return false;
        code = 0;
        while (code == 0 && value == "LAYER") {
            std::string name;
            int colour = 0;
            long long trueColour = -1;
            do {
                if (!Next(code, value)) return false;
                if (code == 2) name = mGroups.GetWholeValue();
                else if (code == 62) KDxfGroupReader::ToInt(value, colour);
                else if (code == 420) KScanInteger(value, trueColour);
            } while (code != 0);
            if (!KDxfGroupReader::Trimmed(name).empty() && mLayers.emplace(name, colour).second &&
                trueColour >= 0)
                mLayerTrueColours.emplace(name, int(trueColour & 0xFFFFFF));
        }
        if (value == "ENDSEC") return true;
        if (value != "ENDTAB" && !SkipTo("ENDTAB", value)) return false;
    }
}

template <class Entity>
bool KDxfDrawingReader::ReadSection(Entity entity) {
    int code;
    std::string_view value;
    while (Next(code, value)) {
        if (code != 0) continue;
        if (value == "ENDSEC" || value == "ENDBLK") return true;
        if (value == "EOF") return false;
        if (!entity(value)) return false;
    }
    return false;
}

template <class Pick>
bool KDxfDrawingReader::Collect(std::string_view type, bool weld, bool dropFlat, Pick pick,
                                bool& known) {
    known = true;
    if (type == "LINE") {
        KDxfFace line;
        if (!mEntities.ReadLine(line)) return false;
        KDxfEntityReader::AddLine(line, pick(line.layer), weld);
    } else if (type == "3DFACE") {
        KDxfFace face;
        if (!mEntities.Read3DFace(face)) return false;
        KDxfEntityReader::AddFace(face, pick(face.layer), weld, dropFlat);
    } else if (type == "SOLID" || type == "TRACE") {
        KDxfFace face;
        if (!mEntities.ReadSolid(face)) return false;
        KDxfEntityReader::AddFace(face, pick(face.layer), weld, dropFlat);
    } else if (type == "MESH") {
        const size_t at = mGroups.GetGroupStart();
        KDxfSubdMesh mesh;
        if (!mEntities.ReadMesh(mesh)) return false;
        if (mesh.subdivided) mSubdivided.insert(at);
        if (mesh.facesDropped > 0) mMeshFacesDropped.insert(at);
        KDxfCollection& collection = pick(mesh.layer);
        const int base = collection.GetPoints().GetCount();
        for (const KVector4& point : mesh.points) collection.AddPoint(point, false);
        for (std::vector<int>& face : mesh.faces) {
            for (int& v : face) v += base;
            collection.AddRecord(mesh.colour, face.data(), int(face.size()));
        }
    } else if (type == "POLYLINE") {
        KDxfPolyline polyline;
        if (!mEntities.ReadPolyline(polyline)) return false;
        return mEntities.ReadVertices(polyline, pick(polyline.layer));
    } else {
        if (IsFacesNotRead(type)) mNotRead[std::string(type)].insert(mGroups.GetGroupStart());
        known = false;
    }
    return true;
}

bool KDxfDrawingReader::LeftOut(std::string_view type) {
    if (!IsModelKind(type)) return false;
    const size_t at = mGroups.Tell();
    bool paper = false;
    int code;
    std::string_view value;
    while (mGroups.ReadGroup(code, value) && code != 0) {
        int space = 0;
        if (code == 67) KDxfGroupReader::ToInt(value, space);
        paper = paper || space == 1;
    }
    mGroups.Seek(at);
    if (paper) ++mPaperSpace;
    return paper;
}

std::unique_ptr<KDxfNodeRecord> KDxfDrawingReader::MakeNode(const std::string& name,
                                                            const KDxfCollection& collection) {
    auto node = std::make_unique<KDxfNodeRecord>();
    node->name = name;
    node->mesh = std::make_unique<KQovMesh>(nullptr);
    KDxfBuildMesh(collection, *node->mesh, this);
    return node;
}

bool KDxfDrawingReader::ReadEntitiesByEntity(KDxfNodeList& parent) {
    return ReadSection([&](std::string_view type) {
        if (LeftOut(type)) return true;
        if (type == "INSERT") return ReadInsert(parent, 0);
        KDxfCollection collection;
        bool known;
        if (!Collect(type, false, false, [&](const std::string&) -> KDxfCollection& { return collection; },
                     known))
            return false;
        if (!known || collection.GetPoints().GetCount() == 0) return true;
        auto node = MakeNode(std::string(type), collection);
        node->wireFrame = type == "LINE";
        parent.push_back(std::move(node));
        return true;
    });
}

bool KDxfDrawingReader::ReadEntitiesByLayer(KDxfNodeList& parent) {
    std::map<std::string, KDxfCollection, KDxfCaseLess> layers;
    auto pick = [&](const std::string& layer) -> KDxfCollection& { return layers[layer]; };
    const bool ended = ReadSection([&](std::string_view type) {
        if (LeftOut(type)) return true;
        if (type == "INSERT") return ReadInsert(parent, 0);
        bool known;
        return Collect(type, mWeld, true, pick, known);
    });
    // A layer keeps its own name; one that reads as another's (blanks around it aside) is
    // numbered past every name of the file, and told (NameNodes).
    for (const auto& [layer, collection] : layers) {
        if (collection.GetPoints().GetCount() == 0) continue;
        auto node = MakeNode(std::string(KDxfGroupReader::Trimmed(layer)), collection);
        node->naming = KDxfNodeRecord::eLayer;
        node->told = layer;
        auto it = mLayers.find(layer);
        node->visible = it == mLayers.end() || it->second >= 0;
        parent.push_back(std::move(node));
    }
    return ended;
}

bool KDxfDrawingReader::ReadBlock(KDxfNodeList& parent, const std::string& name,
                                  const Insert& insert, const double base[3], bool topLevel,
                                  int depth) {
    auto node = std::make_unique<KDxfNodeRecord>();
    node->name = name;
    node->naming = topLevel ? KDxfNodeRecord::eKept : KDxfNodeRecord::eInstance;
    node->told = insert.block;
    KDxfCollection collection;
    bool geometry = false;
    const bool ended = ReadSection([&](std::string_view type) {
        if (topLevel && LeftOut(type)) return true;
        if (type == "INSERT") return ReadInsert(topLevel ? parent : node->children, depth + 1);
        bool known;
        const bool ok = Collect(type, mWeld, true,
                                [&](const std::string&) -> KDxfCollection& { return collection; },
                                known);
        geometry = geometry || known;
        return ok;
    });
    if (!ended) return false;
    if (geometry) {
        node->mesh = std::make_unique<KQovMesh>(nullptr);
        KDxfBuildMesh(collection, *node->mesh, this);
    } else if (node->children.empty()) {
        return true;
    }
    const double* s = insert.scale;
    if (s[0] != 1.0 || s[1] != 1.0 || s[2] != 1.0) {
        node->hasScaling = true;
        node->scaling = KVector4(s[0], s[2], s[1]);
    }
    const double c = std::cos(insert.rotation * kDegToRad), n = std::sin(insert.rotation * kDegToRad);
    const KDxfObjectAxes axes(insert.extrusion);
    if (axes.IsIdentity()) {
        if (insert.rotation != 0) {
            node->hasRotation = true;
            node->rotation = KVector4(0, insert.rotation, 0);
        }
        // The block's base point lands on the insertion point, scaled and rotated with it.
        const double bx = s[0] * base[0], by = s[1] * base[1];
        const double t[3] = {insert.point[0] - (bx * c - by * n),
                             insert.point[1] - (bx * n + by * c), insert.point[2] - s[2] * base[2]};
        if (t[0] != 0 || t[1] != 0 || t[2] != 0) {
            node->hasTranslation = true;
            node->translation = KVector4(t[0], t[2], -t[1]);
        }
    } else {
        // The block's axes: rotated about the insert's own Z, then its object axes.
        double r[3][3];  // columns: the images of the block's X, Y and Z in file axes
        for (int i = 0; i < 3; ++i) {
            r[0][i] = c * axes.x[i] + n * axes.y[i];
            r[1][i] = -n * axes.x[i] + c * axes.y[i];
            r[2][i] = axes.z[i];
        }
        // The same rotation in scene axes (file X, Y, Z are scene X, -Z, Y).
        KMatrix m;
        const KVector4 sx = SceneVector(r[0]), sy = SceneVector(r[2]), sz = SceneVector(r[1]);
        for (int i = 0; i < 3; ++i) {
            m[0][i] = sx[i];
            m[1][i] = sy[i];
            m[2][i] = -sz[i];
        }
        KVector4 euler;
        KMatrixGetEulerXYZ(euler, m);
        node->hasRotation = true;
        node->rotation = KVector4(euler[0], euler[1], euler[2]);
        double t[3];
        axes.ToFile(insert.point, t);
        const double sb[3] = {s[0] * base[0], s[1] * base[1], s[2] * base[2]};
        for (int i = 0; i < 3; ++i) t[i] -= r[0][i] * sb[0] + r[1][i] * sb[1] + r[2][i] * sb[2];
        if (t[0] != 0 || t[1] != 0 || t[2] != 0) {
            node->hasTranslation = true;
            node->translation = SceneVector(t);
        }
    }
    parent.push_back(std::move(node));
    return true;
}

bool KDxfDrawingReader::ReadInsert(KDxfNodeList& parent, int depth) {
    Insert insert;
    std::string layer;
    int colour = kDxfColourUnset;
    long long trueColour = -1;
    int code;
    std::string_view value;
    for (;;) {
        if (!Next(code, value)) return false;
        if (code == 0) break;
        if (code == 2) insert.block = mGroups.GetWholeValue();
        else if (code == 8) layer = mGroups.GetWholeValue();
        else if (code == 62) KDxfGroupReader::ToInt(value, colour);
        else if (code == 420) KScanInteger(value, trueColour);
        else if (code == 10 || code == 20 || code == 30)
            mGroups.ToDouble(value, insert.point[code / 10 - 1]);
        else if (code >= 41 && code <= 43) mGroups.ToDouble(value, insert.scale[code - 41]);
        else if (code == 50) mGroups.ToDouble(value, insert.rotation);
        else if (code == 70) KDxfGroupReader::ToInt(value, insert.columns);
        else if (code == 71) KDxfGroupReader::ToInt(value, insert.rows);
        else if (code == 44) mGroups.ToDouble(value, insert.columnSpacing);
        else if (code == 45) mGroups.ToDouble(value, insert.rowSpacing);
        else if (code == 210 || code == 220 || code == 230)
            mGroups.ToDouble(value, insert.extrusion[code / 10 - 21]);
    }
    const size_t end = mGroups.GetGroupStart();
    if (layer.empty()) layer = "0";  // the layer of an entity that names none
    // Entities of the block on layer 0 take the instance's layer, BYBLOCK ones its colour.
    const KDxfBlockColours* outer = mEntities.GetBlock();
    KDxfBlockColours inner;
    inner.inBlock = true;
    inner.layer = outer && outer->inBlock && layer == "0" ? outer->layer : layer;
    // An instance of colour 256 (BYLAYER) passes on its layer's colour, as one without 62.
    inner.colour = mEntities.ResolveColour(colour == 256 ? kDxfColourUnset : colour,
                                           trueColour >= 0 ? int(trueColour & 0xFFFFFF) : -1,
                                           layer);
    // A multiple insert places one instance per cell of its grid, in the insert's own axes
    // (spacing not scaled); a spacing of 0 puts all cells of a row or column in one place.
    const int columns = insert.columns > 1 && insert.columnSpacing != 0 ? insert.columns : 1;
    const int rows = insert.rows > 1 && insert.rowSpacing != 0 ? insert.rows : 1;
    const double c = std::cos(insert.rotation * kDegToRad), n = std::sin(insert.rotation * kDegToRad);
    if (!KDxfGroupReader::Trimmed(insert.block).empty()) {
        bool open = false;
        for (const std::string& b : mOpenBlocks) open = open || b == insert.block;
        double base[3];
        if (open || depth >= kMaxInsertDepth) {
            mStatus += "Block " + KQovMessageText(insert.block) +
                       (open ? " inserts itself; the instance is skipped\n"
                             : " is nested too deeply; the instance is skipped\n");
        } else {
            mEntities.SetBlock(&inner);
            for (int row = 0; row < rows; ++row)
                for (int column = 0; column < columns; ++column) {
                    if (mInstances >= mInstanceLimit) {
                        if (mInstances++ == mInstanceLimit)
                            mStatus += "Too many block instances; the rest are skipped\n";
                        row = rows;
                        break;
                    }
                    if (!FindBlock(insert.block) || !ReadBlockBase(base)) {
                        row = rows;
                        break;
                    }
                    Insert cell = insert;
                    if (row > 0 || column > 0) {
                        const double x = column * insert.columnSpacing, y = row * insert.rowSpacing;
                        cell.point[0] += x * c - y * n;
                        cell.point[1] += x * n + y * c;
                    }
                    ++mInstances;
                    mOpenBlocks.push_back(insert.block);
                    ReadBlock(parent, std::string(KDxfGroupReader::Trimmed(insert.block)), cell, base,
                              false, depth);
                    mOpenBlocks.pop_back();
                }
            mEntities.SetBlock(outer);
        }
    }
    mCorrupt = false;  // a broken block definition does not spoil the entities after it
    mGroups.Seek(end);
    return true;
}

bool KDxfDrawingReader::FindBlock(const std::string& name) {
    auto known = mBlockPositions.find(name);
    if (known != mBlockPositions.end()) {
        mGroups.Seek(known->second);
        return true;
    }
    if (mBlocksComplete) return false;
    int code;
    std::string_view value;
    if (mBlocksPosition == 0) {
        bool section = false;
        while (mBlocksPosition == 0) {
            if (!Next(code, value)) return false;
            if (section && code == 2 && value == "BLOCKS") mBlocksPosition = mGroups.Tell();
            section = code == 0 && value == "SECTION";
        }
    }
    // Each definition is scanned once: the scan goes on where the last one stopped.
    mGroups.Seek(mBlocksScanned > mBlocksPosition ? mBlocksScanned : mBlocksPosition);
    bool header = false;
    while (Next(code, value)) {
        if (code == 0) {
            if (value == "ENDSEC" || value == "EOF") break;
            header = value == "BLOCK";
        } else if (header && code == 2) {
            header = false;
            const std::string found(mGroups.GetWholeValue());
            mBlocksScanned = mGroups.Tell();
            mBlockPositions.emplace(found, mBlocksScanned);
            if (found == name) return true;
        }
    }
    mBlocksComplete = true;
    return false;
}

bool KDxfDrawingReader::ReadBlockBase(double base[3]) {
    base[0] = base[1] = base[2] = 0;
    int code;
    std::string_view value;
    while (Next(code, value)) {
        if (code == 0) {
            mGroups.Seek(mGroups.GetGroupStart());
            return true;
        }
        if (code == 10 || code == 20 || code == 30) mGroups.ToDouble(value, base[code / 10 - 1]);
    }
    return false;
}
