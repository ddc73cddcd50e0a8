#pragma once
// Helpers of the OBJ tests: a file's bytes, and what an independent reader finds in a file.

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifdef QOV_HAVE_TINYOBJ
#include <tiny_obj_loader.h>
#endif

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct IndependentRead {
    bool ok = false;
    std::string error;
    std::vector<float> vertices, normals;  // x, y, z after x, y, z
    size_t faces = 0;
    std::vector<float> dissolves;  // one per material
#ifdef QOV_HAVE_TINYOBJ
    std::vector<tinyobj::material_t> materials;
#endif
};

// The file read by an independent reader, its MTL files looked up in `folder` (with a
// trailing separator); not ok when that reader is not installed.
inline IndependentRead ReadIndependently(const std::string& path, const std::string& folder) {
    IndependentRead out;
#ifdef QOV_HAVE_TINYOBJ
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warn;
    out.ok = tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &out.error, path.c_str(),
                              folder.c_str(), false);
    out.vertices = attrib.vertices;
    out.normals = attrib.normals;
    for (const auto& shape : shapes) out.faces += shape.mesh.num_face_vertices.size();
    for (const auto& material : materials) out.dissolves.push_back(material.dissolve);
    out.materials = materials;
#else
    out.error = "tinyobjloader is not installed (scripts/install-deps.sh): no independent check";
#endif
    return out;
}
