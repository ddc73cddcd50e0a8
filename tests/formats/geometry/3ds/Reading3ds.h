#pragma once
// Reading and writing whole scenes through the 3DS reader and writer in tests,
// and what lib3ds finds in a file.

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Test3ds.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "formats/geometry/3ds/KQovReader3ds.h"
#include "formats/geometry/3ds/KQovWriter3ds.h"
#include "io/KStreamOptionsBase.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

struct Reading3ds {
    // Options by index, on top of the defaults.
    bool Read(const std::string& path, std::map<int, int> values = {}) {
        scene = manager.CreateScene();
        KQovReader3ds reader(&manager);
        if (!reader.FileOpen(path.c_str())) return false;
        std::unique_ptr<KStreamOptions> options(reader.GetReadOptions(false));
        for (const auto& v : values)
            static_cast<KStreamOptionsBase*>(options.get())->SetOptionValue(v.first, v.second);
        const bool ok = reader.Read(scene, options.get());
        reader.GetStatusText(status);
        if (!ok) error = reader.GetLastErrorString();
        return ok;
    }
    KQovNode* Find(KQovNode* node, const std::string& name) {
        if (name == node->GetNameWithoutPrefix().Buffer()) return node;
        for (int i = 0; i < node->GetChildCount(); ++i)
            if (KQovNode* found = Find(node->GetChild(i), name)) return found;
        return nullptr;
    }
    // Nodes as lib3ds counts them: cameras and lights by themselves, their targets not, the
    // others as object nodes.
    void Count(KQovNode* node, std::map<std::string, int>& counts) {
        const KQovNodeAttribute* a = node->GetNodeAttribute();
        const int type = a ? a->GetAttributeType() : -1;
        if (type == KQovNodeAttribute::eCamera)
            ++counts["camera"];
        else if (type == KQovNodeAttribute::eLight)
            ++counts["light"];
        else if (node != scene->GetRootNode() && type != KQovNodeAttribute::eMarker)
            ++counts["node object"];
        if (auto* mesh = dynamic_cast<KQovMesh*>(node->GetNodeAttribute())) {
            ++counts["mesh"];
            counts["faces"] += mesh->GetPolygonCount();
        }
        for (int i = 0; i < node->GetChildCount(); ++i) Count(node->GetChild(i), counts);
    }
    // Options by index, on top of the defaults.
    bool Write(const std::string& path, KQovScene* source = nullptr,
               std::map<int, int> values = {}) {
        KQovWriter3ds writer(&manager);
        if (!writer.FileCreate(path.c_str())) return false;
        std::unique_ptr<KStreamOptions> options(writer.GetWriteOptions());
        for (const auto& v : values)
            static_cast<KStreamOptionsBase*>(options.get())->SetOptionValue(v.first, v.second);
        // Only FileClose puts the file in place.
        const bool ok = writer.Write(source ? source : scene, options.get()) && writer.FileClose();
        writer.GetStatusText(status);
        return ok;
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (int i = 0; i < manager.GetNodeCount(); ++i)
            names.push_back(manager.GetNode(i)->GetName());
        for (int i = 0; i < manager.GetMaterialCount(); ++i)
            names.push_back(manager.GetMaterial(i)->GetName());
        return names;
    }
    KQovObjectManager manager;
    KQovScene* scene = nullptr;
    KString status;
    std::string error;  // of a failed read
};

// What lib3ds reads: items by kind, faces summed; a file without key-frame nodes gets one
// node per mesh.
inline std::map<std::string, int> Lib3dsCounts(const std::string& path) {
    std::map<std::string, int> counts;
    for (const std::string& line : Lib3dsLines(path)) {
        std::istringstream in(line);
        std::string kind, name;
        in >> kind;
        if (kind == "node") {
            in >> name;
            kind += " " + name;
        }
        ++counts[kind];
        if (kind == "mesh") {
            int points = 0, faces = 0;
            in >> name >> points >> faces;
            counts["faces"] += faces;
        }
    }
    if (!counts.count("node object")) counts["node object"] = counts["mesh"];
    return counts;
}
