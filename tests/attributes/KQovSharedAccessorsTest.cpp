#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "attributes/KQovLayer.h"
#include "foundation/KEntityLink.h"
#include "foundation/KOwnedValue.h"
#include "foundation/KStringMap.h"

namespace {

// Logs what it is handed back.
struct Lender {
    std::string log;
    void ReleaseValue(int value, int flag) {
        log += std::to_string(value) + "/" + std::to_string(flag) + " ";
    }
};

std::string Replaced(Lender* owner, std::initializer_list<int> values) {
    auto it = values.begin();
    KOwnedValue<Lender, int> value(owner, *it);
    for (++it; it != values.end(); ++it) value.Replace(*it);
    return (owner ? owner->log : std::string()) + "kept " + std::to_string(value.Get());
}

// A layer holding normals and UVs, and a UV element of its own that the layer does not hold.
struct Layered {
    KQovLayer layer;
    KQovLayerElementUV own;
    Layered() {
        layer.MakeNormals();
        layer.MakeUVs();
    }
    std::string Which(const void* p) const {
        if (!p) return "null";
        if (p == &own) return "own";
        if (p == layer.GetNormals()) return "layer normals";
        if (p == layer.GetUVs()) return "layer uvs";
        return "other";
    }
    std::string Lookup(int type, bool withLayer = true) {
        return Which(
            KLayerElementLookup(withLayer ? &layer : nullptr, &own, KQovLayer::eUV).GetData(type));
    }
    std::string Element(int type, int defaultType) const {
        return Which(layer.GetLayerElement(type, defaultType));
    }
};

std::string Resolved(bool container, const char* key) {
    KStringMap map(20, true);
    int entity = 0;
    map.Add("Texture::Wood", &entity);
    void* found = KEntityLink<const char*>(key).Resolve(container ? &map : nullptr);
    return found == &entity ? "entity" : found ? "other" : "null";
}

TEST(KQovSharedAccessors, EdgeCases) {
    Layered l;
    struct Row {
        const char* name;
        std::function<std::string()> got;
        const char* want;
    };
    const Row rows[] = {
        {"replace hands the old value back with 1",
         [] {
             Lender o;
             return Replaced(&o, {3, 4});
         },
         "3/1 kept 4"},
        {"replace twice hands back each",
         [] {
             Lender o;
             return Replaced(&o, {3, 4, 5});
         },
         "3/1 4/1 kept 5"},
        // Handing back the value kept would release it while it is still held.
        {"replace with the value kept hands nothing back",
         [] {
             Lender o;
             return Replaced(&o, {3, 3});
         },
         "kept 3"},
        {"replace without an owner",
         [] {
             return Replaced(nullptr, {3, 5});
         },
         "kept 5"},
        {"resolve without a container", [] { return Resolved(false, "Texture::Wood"); }, "null"},
        {"resolve a key held", [] { return Resolved(true, "Texture::Wood"); }, "entity"},
        {"resolve a key not held", [] { return Resolved(true, "Texture::Oak"); }, "null"},
        {"lookup -1 gives the element itself", [&] { return l.Lookup(-1); }, "own"},
        // Even though the layer holds another element of that type.
        {"lookup of the default type gives the element itself",
         [&] { return l.Lookup(KQovLayer::eUV); }, "own"},
        {"lookup of another type gives the layer's element",
         [&] { return l.Lookup(KQovLayer::eNormal); }, "layer normals"},
        {"lookup of a type the layer lacks", [&] { return l.Lookup(KQovLayer::eMaterial); },
         "null"},
        {"lookup of type 0", [&] { return l.Lookup(0); }, "null"},
        {"lookup of type 7", [&] { return l.Lookup(7); }, "null"},
        {"lookup without a layer, default type", [&] { return l.Lookup(KQovLayer::eUV, false); },
         "own"},
        {"lookup without a layer, another type",
         [&] { return l.Lookup(KQovLayer::eNormal, false); }, "null"},
        {"layer element -1 without a default type", [&] { return l.Element(-1, -1); }, "null"},
        {"layer element -1 gives the default type", [&] { return l.Element(-1, KQovLayer::eUV); },
         "layer uvs"},
        {"layer element of the default type",
         [&] { return l.Element(KQovLayer::eUV, KQovLayer::eUV); }, "layer uvs"},
        {"layer element of another type",
         [&] { return l.Element(KQovLayer::eNormal, KQovLayer::eUV); }, "layer normals"},
        {"layer element -1 with a default type outside 1..6", [&] { return l.Element(-1, 7); },
         "null"},
    };
    for (const Row& row : rows) EXPECT_EQ(row.got(), row.want) << row.name;
}

}  // namespace
