#pragma once
// The writer of version-6 QOV files (ASCII, binary, binary and encrypted). The node sections
// are the version-5 writer's, written in the version-6 layout (property blocks instead of
// limits and user properties); what the layout adds is here: the "Definitions" list, the
// "Objects" section, the "Version5" block of scene settings and the "Connections" that put
// the objects together again. The caller's scene is unchanged by a write.

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "io/qov/KQovWriterQov5.h"

class KQovGenericNode;
class KQovMaterial;
class KQovTexture;

class KQovWriterQov6 : public KQovWriterQov5 {
public:
    static constexpr int kFileVersion = 6000;

    KQovWriterQov6(KQovObjectManager* manager, KQovIO* owner);

protected:
    int FileVersion() const override { return kFileVersion; }
    bool IsVersion5() const override { return false; }
    bool WriteSections(KQovScene* scene) override;
    void WriteGeometrySection(KQovNode* node) override;

private:
    // One object of the "Objects" section: its type, full name, sub-type and content.
    struct Object {
        const char* type;
        std::string name;
        std::string subType;
        std::function<void()> write;
        KQovNode* node = nullptr;           // a model in the scene's tree
        const KQovObject* named = nullptr;  // written under its written name
    };
    // One "Connect" record: kind "OO" or "OP", source, destination and property.
    struct Connection {
        const char* kind;
        std::string source;
        std::string destination;
        std::string property;
        // Written under their written names, once every object of their kind is named.
        const KQovObject* sourceObject = nullptr;
        const KQovObject* destinationObject = nullptr;
    };

    void CollectObjects(KQovScene* scene);
    // The shading connections of NURBS and patch models, after the model's first connection.
    void PlaceSurfaceShading();
    void PlaceShadingBlocks(std::vector<std::vector<std::vector<Connection>>>& after,
                            size_t models);
    void OrderTakesAsNodes();
    // The models of the scene's tree, parents first, each with its connections.
    void CollectModels(const std::vector<KQovNode*>& models);
    // Connections find models by name: a model whose name the root or an earlier model
    // has is written under a name made unique, with a warning.
    void MakeModelNamesUnique(KQovScene* scene, const std::vector<KQovNode*>& models);
    // Names `objects` apart as the reader finds them, by their whole names: those that need no
    // change are set aside, the rest numbered in mWrittenNames with a warning each ("Node"
    // names `kind` in it); `own` are names the file gives objects of its own, `except` an
    // object written under its own name whatever. False when no name clashed; `given` holds
    // the names taken.
    bool NameApart(const std::vector<const KQovObject*>& objects,
                   const std::vector<std::string>& own, const KQovObject* except, const char* kind,
                   std::unordered_set<std::string_view>& given, int& renamed);
    void NameObjectsApart(const std::vector<const KQovObject*>& objects, const char* kind);
    // Materials, textures, characters, control-set plugs, poses and generic nodes named apart,
    // each kind among its own, and the objects and connections listed so far given the names.
    void NameOtherObjectsApart();
    // The written name without its class prefix, as deformers are named after it.
    std::string WrittenBareName(const KQovNode* node) const;
    void WriteDefinitions();
    void WriteObjects();
    void WriteModelObject(KQovNode* node, bool producer);
    void WriteGenericNode(KQovGenericNode* node);
    void WriteVersion5Block(KQovScene* scene);
    void WriteConnections();

    // Shading objects, a node's material and texture connections and its shading elements.
    struct NodeShading {
        std::vector<KQovMaterial*> materials;
        std::vector<KQovTexture*> textures;
        // The positions in those lists.
        std::unordered_map<const KQovMaterial*, int> materialAt;
        std::unordered_map<const KQovTexture*, int> textureAt;
    };
    void CollectShading(KQovScene* scene);
    void CollectNodeShading(KQovNode* node);
    // `direct`: a material layer of the node refers to its materials directly.
    void AddConnectedShading(KQovNode* node, NodeShading& shading, bool direct);
    void ListShadingObject(KQovObject* object);
    // One "Video" object per distinct texture file, connected to the textures showing it.
    void CollectVideos(KQovScene* scene);
    void WriteVideoObject(const MediaEntry& clip);
    void WriteObjectProperties(KQovObject* object);
    void WriteMaterialObject(KQovMaterial* material);
    void WriteTextureObject(KQovTexture* texture);
    void WriteShadingElements(KQovNode* node, KQovGeometry* geometry);
    bool HasTextureIds(const KQovLayer* layer) const;

    // Characters with their link connections, control-set plugs and character poses.
    void CollectCharacters(KQovScene* scene);
    void WritePoseScene(KQovScene* poseScene);

    // The skin and clusters a geometry's links travel as, with their connections.
    void CollectDeformers(KQovNode* node);

    // Mesh geometry in the version-6 form.
    void WriteMeshGeometry(KQovNode* node, KQovMesh* mesh);
    // A NURBS or patch surface: its own fields, then its layers as a mesh writes them.
    void WriteSurfaceGeometry(KQovNode* node, KQovGeometry* geometry);
    // The layer elements and the "Layer" records of any geometry.
    void WriteLayerElements(KQovGeometry* geometry);
    void WriteLayers(KQovGeometry* geometry);

    std::vector<Object> mObjects;
    std::vector<Connection> mConnections;
    std::map<const KQovNode*, NodeShading> mShading;
    std::vector<KQovObject*> mLayerOnly;             // shading objects the layers use
    std::vector<KQovObject*> mShadingObjects;        // the ones listed in mObjects
    std::unordered_set<KQovObject*> mShadingListed;  // the same, to look up
    std::vector<MediaEntry> mClips;
};
