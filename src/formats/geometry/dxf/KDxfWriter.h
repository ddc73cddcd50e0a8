#pragma once
// Writes meshes as an ASCII drawing: one layer per mesh, each mesh a polyface POLYLINE with
// one VERTEX per control point, one face VERTEX per polygon (polygons of more than four
// corners as fans of triangles) and SEQEND. Points go out in world space with the scene's
// Y-up axes turned back to the file's Z-up.

#include <string>
#include <vector>

#include "foundation/KAffineMatrix.h"

class KFileStream;
class KQovMesh;
class KQovNode;

struct KDxfMeshEntry {
    std::string name;  // node name without its class prefix
    KQovMesh* mesh = nullptr;
    bool visible = true;
    KAffineMatrix global;  // local to world
    // Points with the deformations baked in, in place of the mesh's own; empty: its own.
    std::vector<KVector4> points = {};
    KQovNode* node = nullptr;  // the node written, when it comes from a scene
};

class KDxfWriter {
public:
    // The text of a drawing holding the meshes. Without `tables`, the TABLES section is
    // left empty (a scene without nodes).
    std::string Compose(const std::vector<KDxfMeshEntry>& meshes, bool tables);
    // Compose, written to the stream; false when the stream reports an error or the text
    // would hold a number no reader takes back (then nothing is written).
    bool Write(KFileStream& stream, const std::vector<KDxfMeshEntry>& meshes, bool tables);

    // Colour number of a mesh: that of its last material's diffuse colour, 0 without one.
    static int MeshColour(const KQovMesh& mesh);
    // Lines about what the text could not keep exactly (polygons cut plainly), one a line.
    const std::string& GetStatus() const { return mStatus; }
    // True when the last text composed met a number that is no file number (KIsFileNumber).
    bool IsNumberRefused() const { return mNumberRefused; }

private:
    void Group(const char* code, const char* value);
    void Group(const char* code, int value, const char* format = "   %d");
    void Point(const char* code, double value);
    // The colour an entry's mesh is written in: that of its last material, else that of the
    // first material tied to its node alone (0 without either); `material` whether it has one.
    // Such materials with no place are told of.
    int EntryColour(const KDxfMeshEntry& entry, bool& material);
    void Entities(const KDxfMeshEntry& entry, const std::string& layer, int colour, bool material);
    // One face record; `colour` 0 writes no colour group. The extra triangles of a fan
    // print their colour narrower.
    void Face(const std::string& layer, const int* corners, int size, int colour, bool extra);

    std::string mOut;
    std::string mStatus;
    bool mNumberRefused = false;
};
