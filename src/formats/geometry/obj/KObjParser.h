#pragma once
// Reads an OBJ file and the MTL libraries it names into records (KObjRecords.h): vertex
// lists, groups of faces, materials and rational B-spline surfaces. The scene side turns
// them into nodes, meshes, NURBS and materials.

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "formats/geometry/obj/KObjRecords.h"
#include "platform/KPlatformSameFile.h"

class KTextLineReader;

class KObjParser {
public:
    // eWideText: UTF-16 text, not read.
    // eLibraryNotRead: a material library could not be read for a cause of the system (too
    // many open files, a failing disk); GetFailure names it.
    enum EResult { eRead, eNotOpened, eCorrupted, eWideText, eLibraryNotRead, eReadFailed };

    // `path` is the OBJ file; its folder resolves library names that do not open as given.
    EResult ReadFile(const char* path);
    // The same over text in memory.
    EResult ReadText(std::string_view text, const char* path);

    // Non-fatal findings and the line of a corrupt statement, one message a line.
    const std::string& GetStatus() const { return mStatus; }
    // Where and why a read returned eCorrupted ("line N: " and the line) or eWideText, else
    // empty.
    const std::string& GetFailure() const { return mFailure; }

    // Groups ordered by name without regard to case; names alike but for case are groups of
    // their own, in byte order.
    struct CaseLess {
        bool operator()(const std::string& a, const std::string& b) const;
    };
    // Names alike but for case are one.
    struct FoldedLess {
        bool operator()(const std::string& a, const std::string& b) const;
    };
    using GroupMap = std::map<std::string, KObjGroup, CaseLess>;
    const GroupMap& GetGroups() const { return mGroups; }
    const std::vector<KObjMaterial>& GetMaterials() const { return mMaterials; }
    // The material libraries read, by the paths they were read from.
    const std::vector<std::string>& GetLibraryPaths() const { return mLibraryPaths; }
    // Each as it was open for the read.
    const std::vector<KPlatformFileFound>& GetLibrariesFound() const { return mLibrariesFound; }
    const std::vector<KObjSurface>& GetSurfaces() const { return mSurfaces; }
    const std::vector<KVector4>& GetVertices() const { return mVertices; }
    const std::vector<KVector2>& GetTextureVertices() const { return mTextureVertices; }
    const std::vector<KVector4>& GetNormals() const { return mNormals; }
    // True once an mtllib line was met, whether or not its libraries opened.
    bool HasMaterialLibrary() const { return mHasLibrary; }
    // True once a face used a material with a diffuse map.
    bool HasTexturedMaterial() const { return mTexturedMaterial; }

    // The mesh of a group: normals completed first (new normals join the normal list).
    void BuildMesh(const std::string& group, KObjMeshData& out);
    // The same without the points, normals and UVs: only the triple of each control point,
    // whose values the lists above hold until ReleaseLists.
    void BuildPolygons(const std::string& group, KObjMeshData& out);
    // Frees the faces of a group whose mesh was built (its name stays listed).
    void ReleaseGroup(const std::string& group);
    // Frees the vertex, texture-vertex and normal lists once nothing more is built.
    void ReleaseLists();

private:
    // Next logical line (backslash continuations joined): keyword and trimmed rest.
    bool NextLine(KTextLineReader& lines, std::string_view& keyword, std::string_view& rest);
    bool Dispatch(KTextLineReader& lines, std::string_view keyword, std::string_view rest);
    void ParseFace(std::string_view rest);
    bool ParseIndexTriple(std::string_view word, KObjCorner& corner) const;
    void ParseSurface(KTextLineReader& lines, std::string_view rest);
    void SkipBlock(KTextLineReader& lines);
    // False when a library could not be read for a cause of the system (mFailure says which).
    bool LoadMaterialLibraries(std::string_view rest);
    // One library, beside the model or as named; false as above.
    bool LoadLibrary(const std::string& name);
    std::string BesideModel(const std::string& name) const;
    // Why `name` cannot be read as LoadLibrary looks for it; 0 when it can be opened.
    int LibraryError(const std::string& name) const;
    // Tells why a library was not loaded; false when the cause is the system's (mFailure).
    bool TellLibraryProblem(const std::string& name, int cause);
    // Keeps a library's text and where each of its materials is defined.
    void AddLibrary(std::string text, std::string folder);
    // The material of a usemtl name (`named`; else the one of faces that name none): the one
    // of that name, else one the libraries define by that name, else one used under another
    // case, else (`named`) one the libraries define under another case, else a new one
    // (`named`: with a word).
    int UseMaterial(std::string_view name, bool named = true);
    // An image named by a library and not found: a failure of the read when the system is why;
    // true when it is found now.
    bool NoteUnfoundImage(const std::string& path) const;
    bool ReadMaterial(KObjMaterial& material) const;
    void AssignDefaultMaterial();
    // What was met and not read, told once at the end; and a read that kept no geometry.
    void NoteSkipped();
    void CompleteNormals(KObjGroup& group);
    KObjGroup& CurrentGroup();
    void Corrupt(int line, std::string_view keyword, std::string_view rest);

    std::string mPath;
    std::string mStatus;
    mutable std::string mFailure;
    mutable bool mLibraryFailed = false;
    std::string mJoined;  // a line joined from continuations
    GroupMap mGroups;
    std::string mGroupName = "default";
    KObjGroup* mGroup = nullptr;
    std::vector<KObjMaterial> mMaterials;
    std::unordered_map<std::string, int> mMaterialIndex;
    // The first material used under each name without regard to case.
    std::map<std::string, int, FoldedLess> mMaterialFolded;
    std::vector<std::string> mLibraries;  // texts of the open libraries, in opening order
    std::vector<std::string> mLibraryFolders;  // the folder each was read from
    std::vector<std::string> mLibraryPaths;
    std::vector<KPlatformFileFound> mLibrariesFound;
    // Each material name's first definition: library, offset of its "newmtl" line.
    std::unordered_map<std::string, std::pair<size_t, size_t>> mMaterialLines;
    // The first name defined under each name without regard to case.
    std::set<std::string, FoldedLess> mDefinedFolded;
    // MTL statements and map options met and not kept (those of their kind in materials
    // read), in order of meeting.
    mutable std::vector<std::pair<std::string, int>> mUnread;
    mutable std::unordered_map<std::string, size_t> mUnreadAt;  // positions in mUnread
    std::vector<KObjSurface> mSurfaces;
    std::vector<KVector4> mVertices;
    std::vector<KVector2> mTextureVertices;
    std::vector<KVector4> mNormals;
    // Per vertex, the last control point made from it in the group being built (-1 none);
    // kept between groups, each group clearing what it set.
    std::vector<int> mPointOfVertex;
    int mMaterial = -1;
    int mSmoothing = 0;
    int mSurfaceType = 0;  // 1 bmatrix, 2 bezier, 3 bspline, 4 cardinal, 5 taylor
    bool mRational = false;
    int mDegreeU = 0, mDegreeV = 0;
    // Statements read, and those of kinds that are not read (l, p, curv and curv2, surfaces
    // other than rational B-splines).
    int mStatements = 0;
    int mLineElements = 0, mPointElements = 0, mCurveElements = 0, mSurfacesDropped = 0;
    bool mHasLibrary = false;
    bool mTexturedMaterial = false;
};
