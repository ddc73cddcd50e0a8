#pragma once
// Reader of OBJ files with their MTL libraries: one mesh node per group (under a reference
// node named after the file, or the scene's root), one NURBS node per rational B-spline
// surface, and the materials the faces use with their diffuse textures (layer 0) and bump
// textures (a layer of their own).

#include <vector>

#include "formats/geometry/KQovPathReader.h"
#include "formats/geometry/obj/KObjParser.h"
#include "scene/KQovRenamer.h"

class KQovMaterial;
class KQovMesh;
class KQovNurb;
class KQovTexture;

class KQovReaderObj : public KQovPathReader {
public:
    explicit KQovReaderObj(KQovObjectManager* manager);
    KStreamOptions* GetReadOptions(bool allowScan) override;
    bool Read(KQovScene* scene, KStreamOptions* options) override;

private:
    void CreateMaterials();
    // The texture of a map statement, null without a file.
    KQovTexture* MapTexture(const std::string& name, const std::string& file,
                            const KObjMapPlacement& placement, bool bump);
    // A layer of the bump textures of the polygons' materials, where any has one.
    void AddBumpLayer(KQovMesh& mesh, const std::vector<int>& polygonMaterials);
    KQovNurb* CreateNurbFromSurface(const KObjSurface& surface);
    // `last`: no mesh follows, so the parser's lists can go.
    KQovMesh* BuildMesh(const std::string& group, bool last);
    bool BuildNodes(KQovScene* scene, bool referenceNode);

    KObjParser mParser;
    KQovNumberingRenamer mRenamer;
    std::vector<KQovMaterial*> mMaterials;  // by the parser's material index
    std::vector<KQovTexture*> mTextures;    // null for a material without a diffuse map
    std::vector<KQovTexture*> mBumps;       // null for a material without a bump map
};
