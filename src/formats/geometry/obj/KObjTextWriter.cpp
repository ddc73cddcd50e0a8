#include "formats/geometry/obj/KObjTextWriter.h"

#include <cmath>
#include <new>

#include "foundation/KLocale.h"
#include "foundation/KPath.h"
#include "foundation/KQuotedText.h"
#include "platform/KPlatformFile.h"
#include "platform/KPlatformSignals.h"

namespace {

const char* const kBanner = "# \n# Wavefront %s file\n# Created with Varnoke QOV\n# \n";

// The exponent (0 to 1000) of a shininess kept in single precision, to its 7 digits: 0.4 is
// written 400, not 400.000006.
double Exponent(double shininess) {
    double value = shininess * 1000.0;
    if (KIsFileNumber(value)) KParseDecimal(KFormatC("%.7g", value), value);
    return value;
}

// A material number (a file number) as "%f" writes it where that reads back to the value,
// else its shortest text: six decimals lose a map offset of a millionth. A value a float holds
// exactly (the scene keeps material and map values in floats) reads back as that float: 0.8f
// stays "0.800000", not 0.800000011920929.
std::string ExactText(double value) {
    const bool single = double(float(value)) == value;
    char text[64];
    const int n = KSnprintfC(text, sizeof text, "%f", value);
    double back = 0.0;
    if (n > 0 && n < int(sizeof text) && KParseDecimal(text, back) &&
        (single ? float(back) == float(value) : back == value))
        return std::string(text, size_t(n));
    return single ? KShortestText(float(value)) : KShortestText(value);
}

std::string Underscored(std::string name) {
    for (char& c : name)
        if (KIsSpace(c)) c = '_';
    return name;
}

}  // namespace

// Every number of the two files goes through here: one no reader takes back fails the files.
void KObjTextWriter::AppendF(std::string& out, const char* format, double a, double b, double c) {
    if (!KIsFileNumber(a) || !KIsFileNumber(b) || !KIsFileNumber(c)) {
        mNumberRefused = mFailed = true;
        return;
    }
    char line[128];
    const int n = KSnprintfC(line, sizeof line, format, a, b, c);
    if (n > 0 && n < int(sizeof line))
        out.append(line, n);
    else
        out += KFormatC(format, a, b, c);
}

void KObjTextWriter::AppendExact(const char* key, std::initializer_list<double> values,
                                 const char* tail) {
    for (double v : values)
        if (!KIsFileNumber(v)) {
            mNumberRefused = mFailed = true;
            return;
        }
    mMtlText += key;
    for (double v : values) mMtlText.append(" ").append(ExactText(v));
    mMtlText += tail;
}

bool KObjTextWriter::Create(const char* path) {
    mImageFailure.clear();
    if (!path || !mObj.Open(path, "wb")) return false;
    mPath = path;
    // The writer's own two files are no image's name.
    mTextures.Reset(mPath, {mPath, MaterialPath(mPath)});
    mObjText = KFormatC(kBanner, "OBJ");
    return true;
}

std::string KObjTextWriter::MaterialPath(const std::string& objPath) {
    // A name the caller gave: '/' alone separates folders.
    const size_t slash = objPath.rfind('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    std::string name = objPath.substr(start);
    for (char& c : name) c = KToLower(c);
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".obj") != 0) return std::string();
    name.replace(name.size() - 4, 4, ".mtl");
    return objPath.substr(0, start) + name;
}

bool KObjTextWriter::CreateMaterialFile() {
    const std::string path = MaterialPath(mPath);
    const std::string name =
        path.empty() ? KExtractFileName(mPath.c_str(), false).Buffer() + std::string(".mtl")
                     : path.substr(path.rfind('/') + 1);
    // The reader takes the name to its line's end, the blanks before it dropped.
    const bool named = name.find_first_of("\r\n") == std::string::npos && !KIsSpace(name[0]);
    // A device or a pipe put there after the look is refused by the open, never waited on.
    const KPlatformRegularFileOnly regularOnly(path.c_str());
    const bool open =
        !path.empty() && named && KCanWriteCompanion(path.c_str()) && mMtl.Open(path.c_str(), "wb");
    mObjText += "mtllib " + name + "\n\n";
    if (!open) {
        mStatus += path.empty() ? "Unable to create material file for \"" + KQovMessageText(mPath) +
                                      "\": the name does not end in .obj\n"
                   : !named ? "Unable to create material file \"" + KQovMessageText(path) +
                                  "\": an OBJ file cannot name a material file whose name begins "
                                  "with a blank or holds a line break\n"
                            : "Unable to create material file \"" + KQovMessageText(path) +
                                  "\": " + KCreateFileProblem(path.c_str()) + "\n";
        return false;
    }
    mMtlText = KFormatC(kBanner, "material");
    return true;
}

int KObjTextWriter::AddMaterial(const std::string& name, const KObjMaterial& material, bool told) {
    const std::string unique = mWrittenNames.Add(name, std::string(), told);
    mMaterialNames.push_back(unique);
    if (mMtl.IsOpen()) {
        mMtlText += "\nnewmtl " + unique + "\n";
        if (!material.diffuseMap.empty()) {
            mMtlText += "map_Kd ";
            AppendMapOptions(material.diffusePlacement);
            mMtlText += mTextures.Place(material.diffuseMap, mStatus) + "\n";
        }
        if (!material.bumpMap.empty()) {
            mMtlText += "map_bump ";
            AppendMapOptions(material.bumpPlacement);
            mMtlText += mTextures.Place(material.bumpMap, mStatus) + "\n";
        }
        for (const auto& [key, c] :
             {std::pair("Ka", material.ambient), std::pair("Kd", material.diffuse),
              std::pair("Ks", material.specular)})
            AppendExact(key, {c[0], c[1], c[2]}, "\n");
        const double* e = material.emissive;
        if (e[0] != 0.0 || e[1] != 0.0 || e[2] != 0.0)
            AppendExact("Ke", {e[0], e[1], e[2]}, "\n");
        mMtlText += "illum 2\n";
        AppendExact("Ns", {Exponent(material.shininess)}, "\n");
        AppendExact("d", {material.opacity}, "\n");
        Flush(mMtl, mMtlText, false);
    }
    return int(mMaterialNames.size()) - 1;
}

void KObjTextWriter::AppendMapOptions(const KObjMapPlacement& placement) {
    // Three values each: readers that take a fixed count read them so.
    if (placement.scale[0] != 1.0 || placement.scale[1] != 1.0)
        AppendExact("-s", {placement.scale[0], placement.scale[1]}, " 1 ");
    if (placement.offset[0] != 0.0 || placement.offset[1] != 0.0)
        AppendExact("-o", {placement.offset[0], placement.offset[1]}, " 0 ");
    if (placement.clamp) mMtlText += "-clamp on ";
}

void KObjTextWriter::WriteGroup(const KObjWriteGroup& group) {
    // Groups of one name would read back as one: each is numbered apart ("Box", "Box1").
    const std::string unique = mGroupNames.Unique(Underscored(group.name));
    mObjText.append("g ").append(unique) += '\n';
    for (const KVector4& p : group.points) AppendF(mObjText, "v %f %f %f\n", p[0], p[1], p[2]);
    for (const KVector2& t : group.uvs) AppendF(mObjText, "vt %f %f\n", t.mData[0], t.mData[1], 0.0);
    for (const KVector4& n : group.normals) AppendF(mObjText, "vn %f %f %f\n", n[0], n[1], n[2]);
    Flush(mObj, mObjText, false);
    int corner = 0, material = -1;
    for (size_t p = 0; p < group.polygonSizes.size(); ++p) {
        const int wanted = p < group.polygonMaterials.size() ? group.polygonMaterials[p] : -1;
        if (wanted >= 0 && wanted != material && wanted < int(mMaterialNames.size())) {
            material = wanted;
            mObjText += "usemtl " + mMaterialNames[material] + "\n";
        }
        mObjText += 'f';
        for (int i = 0; i < group.polygonSizes[p]; ++i, ++corner) {
            const KObjCorner& c = group.corners[corner];
            // One corner at a time into a buffer of the stack: no text made per number.
            char text[48];
            const int v = c.v + mVertexBase, vt = c.vt + mUVBase, vn = c.vn + mNormalBase;
            const int n = c.vt >= 0 && c.vn >= 0
                              ? KSnprintfC(text, sizeof text, " %d/%d/%d", v, vt, vn)
                          : c.vt >= 0 ? KSnprintfC(text, sizeof text, " %d/%d", v, vt)
                          : c.vn >= 0 ? KSnprintfC(text, sizeof text, " %d//%d", v, vn)
                                      : KSnprintfC(text, sizeof text, " %d", v);
            if (n > 0) mObjText.append(text, size_t(n));
        }
        mObjText += '\n';
        Flush(mObj, mObjText, false);
    }
    mVertexBase += int(group.points.size());
    mUVBase += int(group.uvs.size());
    mNormalBase += int(group.normals.size());
}

void KObjTextWriter::Flush(KFileStream& file, std::string& buffer, bool force) {
    if (buffer.size() < (force ? 1u : 65536u)) return;
    if (!file.IsOpen() || file.Write(buffer.data(), uint32_t(buffer.size())) != buffer.size())
        mFailed = true;
    buffer.clear();
}

bool KObjTextWriter::Close() {
    return Finish() && Commit();
}

bool KObjTextWriter::Finish() {
    Flush(mObj, mObjText, true);
    Flush(mMtl, mMtlText, true);
    for (KFileStream* file : {&mObj, &mMtl}) {
        // The runtime's buffer goes out here, so a full disk shows here.
        if (file->IsOpen() && !file->Flush()) mFailed = true;
    }
    // Both files take their places, or neither does.
    if (mFailed) {
        Discard();
        return false;
    }
    // The images are beside the files already, copied as they were placed.
    mTextures.Report(mStatus);
    mImageFailure = mTextures.GetFailure();
    if (!mImageFailure.empty()) {
        Discard();
        return false;
    }
    return true;
}

bool KObjTextWriter::Commit() {
    {
        // The images stay with the files once they are in place; a signal held meanwhile ends
        // the process with all of them there.
        KPlatformSignalsHeld held;
        if (mMtl.IsOpen() && mObj.IsOpen()) {
            if (!KFileStream::CommitTogether(mMtl, mObj)) {
                mFailed = true;
            } else {
                try {
                    mStatus += KLastReplaceLeftBehind();
                } catch (const std::bad_alloc&) {
                    // Both files are in place; only the word about a hidden name is lost.
                }
            }
        } else {
            for (KFileStream* file : {&mMtl, &mObj})
                if (file->IsOpen() && !file->Commit()) mFailed = true;
        }
        if (!mFailed) mTextures.Keep(mStatus);
    }
    const bool ok = !mFailed;
    if (!ok) mTextures.Drop();
    mFailed = mNumberRefused = false;
    return ok;
}

void KObjTextWriter::Discard() {
    mObj.Discard();
    mMtl.Discard();
    mTextures.Drop();
    mObjText.clear();
    mMtlText.clear();
    mFailed = mNumberRefused = false;
}
