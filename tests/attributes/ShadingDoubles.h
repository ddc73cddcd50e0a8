#pragma once
// Stand-ins for materials, textures and the scene's use counts, installed through the shading
// hooks for the length of one test.

#include <map>
#include <string>
#include <vector>

#include "attributes/KQovShadingLinks.h"

namespace attributes_test {

// A material or texture is only ever handled by address here.
struct FakeShading {
    std::string name;
};
inline KQovMaterial* AsMaterial(FakeShading& f) { return reinterpret_cast<KQovMaterial*>(&f); }
inline KQovTexture* AsTexture(FakeShading& f) { return reinterpret_cast<KQovTexture*>(&f); }

class UseCounter : public KQovShadingUses {
public:
    void AddMaterialUse(KQovMaterial* m) override { ++uses[m]; }
    void ReleaseMaterialUse(KQovMaterial* m) override { --uses[m]; }
    void AddTextureUse(KQovTexture* t) override { ++uses[t]; }
    void ReleaseTextureUse(KQovTexture* t) override { --uses[t]; }
    int Of(FakeShading& f) { return uses[&f]; }

    std::map<const void*, int> uses;
};

// Installs hooks answering from this object; the previous table comes back on destruction.
class ShadingHooks {
public:
    ShadingHooks() {
        Current() = this;
        KQovShadingLinks links;
        links.sceneOf = [](const KQovNode*) -> KQovShadingUses* { return Current()->scene; };
        links.materialName = [](const KQovMaterial* m) {
            return reinterpret_cast<const FakeShading*>(m)->name.c_str();
        };
        links.textureName = [](const KQovTexture* t) {
            return reinterpret_cast<const FakeShading*>(t)->name.c_str();
        };
        links.connectedMaterialCount = [](const KQovNode*) { return int(Current()->connected.size()); };
        links.connectedMaterial = [](const KQovNode*, int i) {
            return AsMaterial(*Current()->connected[size_t(i)]);
        };
        mPrevious = KQovShadingLinks::Install(links);
    }
    ~ShadingHooks() {
        KQovShadingLinks::Install(mPrevious);
        Current() = nullptr;
    }

    KQovShadingUses* scene = nullptr;
    std::vector<FakeShading*> connected;

private:
    static ShadingHooks*& Current() {
        static ShadingHooks* current = nullptr;
        return current;
    }
    KQovShadingLinks mPrevious;
};

}  // namespace attributes_test
