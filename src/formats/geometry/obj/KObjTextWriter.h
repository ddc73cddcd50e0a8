#pragma once
// Writes OBJ text and the MTL file beside it: groups of vertices, texture vertices, normals
// and faces numbered across the whole file, and one newmtl block per written material.
// Lines end in LF; every failed write is remembered and reported by Close.

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "formats/geometry/KTextureCopies.h"
#include "formats/geometry/obj/KObjRecords.h"
#include "foundation/KFileStream.h"
#include "formats/geometry/obj/KObjNames.h"
#include "io/KQovWrittenNames.h"
#include "scene/KQovRenamer.h"

// One group as written: corner indices are 0-based into this group's own lists, -1 none.
struct KObjWriteGroup {
    std::string name;
    std::vector<KVector4> points;
    std::vector<KVector2> uvs;
    std::vector<KVector4> normals;
    std::vector<int> polygonSizes;
    std::vector<KObjCorner> corners;
    std::vector<int> polygonMaterials;  // into the written material names, -1 keeps the last
};

class KObjTextWriter {
public:
    // Creates the OBJ file (its folder must exist) and writes its banner.
    bool Create(const char* path);
    // The MTL path of an OBJ path: the folder as given, the file name in lower case with its
    // ".obj" extension (any case) replaced by ".mtl"; empty when the name has no such extension.
    static std::string MaterialPath(const std::string& objPath);
    // Opens the MTL file beside the OBJ file and writes the mtllib line; false with a status
    // line when it cannot be created (usemtl lines are written all the same).
    bool CreateMaterialFile();
    // A name unique among the written materials, blanks replaced by "_"; a
    // repeated name gets "1", then "2" ... appended. Writes its newmtl block when the MTL file
    // is open. A material of no name of its own (`told` false) is renamed without a warning.
    int AddMaterial(const std::string& name, const KObjMaterial& material, bool told = true);
    // Counts `name` as used, so a material of that name (in its letter case) gets a number.
    void ReserveMaterialName(const std::string& name) { mWrittenNames.Reserve(name, true); }
    // A material name added later (KQovWrittenNames::SetAside).
    void SetAsideMaterialName(const std::string& name) { mWrittenNames.SetAside(name); }
    // A line per material name changed (KQovWrittenNames).
    std::string GetNameWarnings() const { return mWrittenNames.GetWarnings(); }
    const std::string& GetMaterialName(int index) const { return mMaterialNames[index]; }
    // Writes the group under a name no earlier group of the file has (a repeated one gets
    // "1", then "2" ... appended): the reader joins groups of one name.
    void WriteGroup(const KObjWriteGroup& group);
    // Closes both files; false when any write failed. The images of the materials, copied
    // beside them as the materials were added (a failed copy is a status line), stay when both
    // files take their places and go when they do not.
    bool Close();
    // Close in two steps: Finish writes out what is buffered (false, both files and their
    // images dropped, when anything failed); Commit then puts them in place.
    bool Finish();
    bool Commit();
    // Closes both files without putting them in place: files of their names stay as they were,
    // and the images copied for them go.
    void Discard();

    const std::string& GetStatus() const { return mStatus; }
    // The status so far, which is then forgotten.
    std::string TakeStatus() {
        std::string status;
        status.swap(mStatus);
        return status;
    }
    // Why the last Close failed when an image could not be copied for a cause of the system
    // (see KTextureNames::GetFailure); empty otherwise.
    const std::string& GetImageFailure() const { return mImageFailure; }
    // True when a number no reader takes back (KIsFileNumber) failed the files: nothing of
    // them is written.
    bool IsNumberRefused() const { return mNumberRefused; }

private:
    // Formats up to three numbers (the format may use fewer).
    void AppendF(std::string& out, const char* format, double a, double b, double c);
    // `key`, the numbers each after a blank, then `tail`, into the material text: each number
    // read back as the value it is, at the precision that holds it.
    void AppendExact(const char* key, std::initializer_list<double> values, const char* tail);
    void Flush(KFileStream& file, std::string& buffer, bool force);
    // The -s, -o and -clamp options of a map that lies otherwise than by default.
    void AppendMapOptions(const KObjMapPlacement& placement);

    KFileStream mObj;
    KFileStream mMtl;
    std::string mPath;
    std::string mObjText;
    std::string mMtlText;
    std::string mStatus;
    std::string mImageFailure;
    KTextureNamesObj mTextures;
    std::vector<std::string> mMaterialNames;
    KQovNumberingRenamer mGroupNames;
    // Material names: the reader takes a usemtl line's rest, blanks included, and names alike
    // without regard to case as one material.
    KQovWrittenNames mWrittenNames{KObjNames::MaterialTerms()};
    int mVertexBase = 1, mUVBase = 1, mNormalBase = 1;
    bool mFailed = false;
    bool mNumberRefused = false;
};
