#pragma once
// What a scene does when a material or texture gets connected to one of its
// objects: the material (texture) is registered with the scene once, by name.
// The scene's entity container answers these calls; until a finder is set,
// connections register nothing.

class KObject;
class KPlug;
class KQovMaterial;
class KQovObject;
class KQovTexture;

class KQovShadingScene {
public:
    // Null when the scene holds none of that prefixed name.
    virtual KQovMaterial* FindMaterial(const char* name) = 0;
    virtual KQovTexture* FindTexture(const char* name) = 0;
    // Counts one use (adds the record when absent).
    virtual bool AddMaterialUse(KQovMaterial* material) = 0;
    virtual bool AddTextureUse(KQovTexture* texture) = 0;

    // The scene holding an object, null when none.
    using Finder = KQovShadingScene* (*)(KQovObject* object);
    static void SetFinder(Finder finder);
    static KQovShadingScene* Of(KQovObject* object);

    // For a property set told of connection event `code` by `sender`: the scene
    // of the owner of `other` when `set` itself just gained `other` (a property
    // set) as a destination; null otherwise.
    static KQovShadingScene* OfNewDestination(const KObject* set, int code, const KPlug* sender,
                                              KPlug* other);

protected:
    ~KQovShadingScene() = default;
};
