#pragma once
// The sections of an ASCII drawing read into a tree of node records: the layer table from
// TABLES, block definitions from BLOCKS as INSERT entities ask for them, and the ENTITIES
// section as one mesh per layer, per entity or per block. Names are made unique within one
// read: the second use of LINE is LINE1.

#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "formats/geometry/dxf/KDxfEntities.h"
#include "formats/geometry/dxf/KDxfGroupReader.h"
#include "scene/KQovRenamer.h"

class KQovMesh;

struct KDxfNodeRecord {
    KDxfNodeRecord();
    ~KDxfNodeRecord();

    std::string name;
    // How the name is made apart from the others: numbered where it repeats (a word names
    // a layer or a block instance so numbered, by `told`, its name in the file), or kept.
    enum ENaming { eNumbered, eLayer, eInstance, eKept };
    ENaming naming = eNumbered;
    std::string told;
    std::unique_ptr<KQovMesh> mesh;  // null for a block of nested instances only
    bool visible = true;
    bool wireFrame = false;
    // Local transform of a block instance, scene axes; each only when it differs from rest.
    bool hasScaling = false, hasRotation = false, hasTranslation = false;
    KVector4 scaling, rotation, translation;  // rotation in degrees
    std::vector<std::unique_ptr<KDxfNodeRecord>> children;
};
using KDxfNodeList = std::vector<std::unique_ptr<KDxfNodeRecord>>;

class KDxfDrawingReader : public KDxfMaterialSource {
public:
    enum EMode { eByLayer = 0, eByEntity = 1, eByBlock = 2 };
    // Nested block instances deeper than this are not read.
    static constexpr int kMaxInsertDepth = 32;
    // Block instances read in one file, so that blocks inserting blocks many times over
    // cannot multiply without end.
    static constexpr int kMaxInstances = 100000;
    // Below that, a file places this many instances plus one per kBytesPerInstance bytes of
    // its text: a few nested blocks cannot make a small file a scene of 100000 nodes.
    static constexpr int kFreeInstances = 1000;
    static constexpr size_t kBytesPerInstance = 8;

    KDxfDrawingReader(int mode, bool weld);
    ~KDxfDrawingReader() override;

    // Reads the text (which must outlive the reader's records). False when the file ends
    // before the ENTITIES section is read through, or is not an ASCII drawing
    // (IsCorrupt); records made so far stay.
    bool Read(std::string_view text);
    bool IsCorrupt() const { return mCorrupt; }
    // True when the read stopped at a number no reader takes (see KDxfGroupReader).
    bool HasBadNumber() const { return mGroups.HasBadNumber(); }
    // Offset in the text just past the line read last, for messages.
    size_t GetOffset() const { return mGroups.Tell(); }

    KDxfNodeList& GetNodes() { return mNodes; }
    const KDxfLayerTable& GetLayers() const { return mLayers; }
    // Findings that did not stop the read, one per line.
    const std::string& GetStatus() const { return mStatus; }

    // The material of a colour (a number or a true colour), made on first use and shared by
    // every mesh.
    KQovMaterial* GetMaterial(int colour) override;

protected:
    // Makes a material named `name` (without class prefix); the default owns it.
    virtual KQovMaterial* CreateMaterial(const std::string& name);

private:
    struct Insert {
        std::string block;
        double point[3] = {0, 0, 0};  // in the object coordinate system
        double scale[3] = {1, 1, 1};
        double rotation = 0;
        double extrusion[3] = {0, 0, 1};
        int columns = 1, rows = 1;  // groups 70 and 71 of a multiple insert
        double columnSpacing = 0, rowSpacing = 0;
    };

    bool Next(int& code, std::string_view& value);
    bool ReadSections(std::string_view text);
    bool ReadTables();
    // To (0, until), or back to the start of (0, ENDSEC) when the section ends first;
    // `found` tells which.
    bool SkipTo(std::string_view until, std::string_view& found);
    // Reads one section up to (0, ENDSEC) or (0, ENDBLK), handing each (0, type) group to
    // `entity`, which reads that entity; false when the file ends first.
    template <class Entity>
    bool ReadSection(Entity entity);
    bool ReadEntitiesByEntity(KDxfNodeList& parent);
    bool ReadEntitiesByLayer(KDxfNodeList& parent);
    bool ReadBlock(KDxfNodeList& parent, const std::string& name, const Insert& insert,
                   const double base[3], bool topLevel, int depth);
    bool ReadInsert(KDxfNodeList& parent, int depth);
    bool FindBlock(const std::string& name);
    bool ReadBlockBase(double base[3]);
    // Adds one LINE, 3DFACE, SOLID, TRACE, MESH or POLYLINE; `collection` picks where it goes
    // by layer. Kinds of faces not read are counted.
    template <class Pick>
    bool Collect(std::string_view type, bool weld, bool dropFlat, Pick collection, bool& known);
    // True when the entity whose (0, type) group was read last belongs to paper space
    // (group 67 = 1): counted, and its groups are to be passed over. Top level only.
    bool LeftOut(std::string_view type);
    std::unique_ptr<KDxfNodeRecord> MakeNode(const std::string& name,
                                             const KDxfCollection& collection);
    // Every node apart from the others once the file is read: names that repeat no earlier
    // one are set aside first, so a number never takes a name the file gives further on.
    void NameNodes();

    const int mMode;
    const bool mWeld;
    KDxfGroupReader mGroups;
    KDxfEntityReader mEntities;
    KDxfLayerTable mLayers;
    KDxfLayerTrueColours mLayerTrueColours;
    std::map<int, KQovMaterial*> mTrueColourMaterials;
    std::map<std::string, std::set<size_t>> mNotRead;  // kinds of faces not read, where they stand
    std::set<size_t> mSubdivided, mMeshFacesDropped;    // MESH entities, where they stand
    int mPaperSpace = 0;
    std::vector<std::unique_ptr<KQovMaterial>> mOwnedMaterials;  // outlives the meshes
    KQovMaterial* mMaterials[256] = {};
    int mMaterialCounter = 0;
    KDxfNodeList mNodes;
    size_t mBlocksPosition = 0;
    std::unordered_map<std::string, size_t> mBlockPositions;  // after the name group
    size_t mBlocksScanned = 0;     // where the scan for definitions stopped
    bool mBlocksComplete = false;  // every definition is in mBlockPositions
    int mInstances = 0;
    int mInstanceLimit = kMaxInstances;    // for the text being read
    std::vector<std::string> mOpenBlocks;  // block definitions being read, outermost first
    KQovNumberingRenamer mNames;
    std::string mStatus;
    bool mCorrupt = false;
};
