#include "formats/geometry/obj/KObjParser.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <unordered_map>

#include "formats/geometry/obj/KObjNames.h"
#include "foundation/KFileStream.h"
#include "foundation/KLocale.h"
#include "foundation/KPath.h"
#include "foundation/KQuotedText.h"
#include "foundation/KTextLineReader.h"
#include "platform/KPlatformFile.h"
#include "platform/KPlatformSameFile.h"

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && KIsSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && KIsSpace(text.back())) text.remove_suffix(1);
    return text;
}

// The next blank-separated word of `text`, which is advanced past it.
std::string_view NextWord(std::string_view& text) {
    size_t i = 0;
    while (i < text.size() && KIsSpace(text[i])) ++i;
    size_t j = i;
    while (j < text.size() && !KIsSpace(text[j])) ++j;
    std::string_view word = text.substr(i, j - i);
    text.remove_prefix(j);
    return word;
}

// Up to `max` numbers from the start of `text`, as a scanf "%lf" run reads them.
int ScanNumbers(std::string_view text, double* values, int max) {
    int count = 0;
    while (count < max) {
        size_t i = 0;
        while (i < text.size() && KIsSpace(text[i])) ++i;
        text.remove_prefix(i);
        const size_t used = KScanFileNumber(text, values[count]);
        if (used == 0) break;
        text.remove_prefix(used);
        ++count;
    }
    return count;
}

// Material libraries are small text; a name that leads to an endless device (or a huge file)
// is refused once this much was read, rather than filling memory.
constexpr size_t kMaxLibraryBytes = size_t(64) << 20;

// Why a stream just failed to open `path` for reading.
int OpenFailure(const char* path) {
    // A folder opens, and the stream refuses it without a word of the system.
    if (KIsFolder(path)) return EISDIR;
    return errno ? errno : ENOENT;
}

// 0 when `path` opens for reading, else why not.
int OpenError(const char* path) {
    KFileStream file;
    errno = 0;
    return file.Open(path, "rb") ? 0 : OpenFailure(path);
}

// 0, or why the file was not read: the system's error number, EFBIG past the bound. `found`:
// the file as it was open.
int ReadWholeFile(const char* path, std::string& text, KPlatformFileFound& found) {
    KFileStream file;
    errno = 0;
    if (!file.Open(path, "rb")) return OpenFailure(path);
    found = KPlatformFoundOpen(file.GetReadOnlyFile(), path);
    char buffer[65536];
    text.clear();
    while (uint32_t n = file.Read(buffer, sizeof buffer)) {
        if (text.size() + n > kMaxLibraryBytes) {
            std::string().swap(text);
            return EFBIG;
        }
        text.append(buffer, n);
    }
    // A read that failed is no end of the library: what came before it is not the library.
    if (const int error = file.GetReadError()) {
        std::string().swap(text);
        return error;
    }
    return 0;
}

// Nothing of that name there (as opposed to there but unreadable).
bool Missing(int error) {
    return error == ENOENT || error == ENOTDIR;
}

// A file that cannot be read for a cause of the system (too many open files, no memory, a
// failing disk) rather than of the files (missing, not allowed, not a file, too large).
bool SystemCause(int error) {
    return error != 0 && !Missing(error) && error != EACCES && error != EPERM && error != EISDIR &&
           error != EFBIG && error != ELOOP && error != ENAMETOOLONG && error != EINVAL;
}

// Why a material library was not loaded, as the end of a sentence.
std::string LibraryProblem(int error) {
    if (error == ENOENT || error == ENOTDIR) return "not found";
    if (error == EISDIR) return "it is a folder";
    if (error == EFBIG) return "larger than 64 MB";
    std::string text = KPlatformErrorText(error);
    if (!text.empty()) text[0] = KToLower(text[0]);
    return text;
}

// A 0-based index from a 1-based or negative (relative) file index; -1 when out of range.
int ResolveIndex(int number, size_t count) {
    long long index = number > 0 ? (long long)number - 1 : (long long)count + number;
    return index >= 0 && index < (long long)count ? int(index) : -1;
}

KVector4 Unit(KVector4 n) {
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (length > 0.0)
        for (int i = 0; i < 3; ++i) n[i] /= length;
    return n;
}

// The normal of a face: that of its first three corners where they turn as the whole outline
// does (every convex face), else the outline's own (Newell's sum): a concave corner or three
// corners on a line would give the face's back or nothing.
KVector4 FaceNormal(const std::vector<KVector4>& vertices, const KObjCorner* c, int count) {
    const KVector4 &p0 = vertices[size_t(c[0].v)], &p1 = vertices[size_t(c[1].v)],
                   &p2 = vertices[size_t(c[2].v)];
    const double a[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
    const double b[3] = {p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
    const KVector4 first(a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                         a[0] * b[1] - a[1] * b[0], 1.0);
    if (count <= 3) return Unit(first);
    KVector4 whole(0.0, 0.0, 0.0, 1.0);
    for (int i = 0; i < count; ++i) {
        const KVector4& p = vertices[size_t(c[i].v)];
        const KVector4& q = vertices[size_t(c[(i + 1) % count].v)];
        whole[0] += (p[1] - q[1]) * (p[2] + q[2]);
        whole[1] += (p[2] - q[2]) * (p[0] + q[0]);
        whole[2] += (p[0] - q[0]) * (p[1] + q[1]);
    }
    const double agree = first[0] * whole[0] + first[1] * whole[1] + first[2] * whole[2];
    return Unit(agree > 0.0 ? first : whole);
}

// A word that is one number as a whole; `value` is left as it was otherwise.
bool WholeNumber(std::string_view word, double& value) {
    double read = 0.0;
    if (word.empty() || KScanFileNumber(word, read) != word.size()) return false;
    value = read;
    return true;
}

// The options of a map statement, each with its count of values: numbers, or one word.
struct MapOption {
    const char* name;
    int least, most;
    bool numbers;
};
constexpr MapOption kMapOptions[] = {
    {"-blendu", 1, 1, false},  {"-blendv", 1, 1, false}, {"-bm", 1, 1, true},
    {"-boost", 1, 1, true},    {"-cc", 1, 1, false},     {"-clamp", 1, 1, false},
    {"-imfchan", 1, 1, false}, {"-mm", 1, 2, true},      {"-o", 1, 3, true},
    {"-s", 1, 3, true},        {"-t", 1, 3, true},       {"-texres", 1, 1, true},
    {"-type", 1, 1, false},
};

// Reads the options before the file of a map statement: -o, -s and -clamp into `placement`,
// the others read past, and named in `unread` unless they hold the format's defaults (a bump
// map's -imfchan l among them). The rest names the file, blanks inside kept.
std::string_view ReadMapOptions(std::string_view rest, bool bump, KObjMapPlacement& placement,
                                std::vector<std::string>& unread) {
    while (true) {
        rest = Trim(rest);
        std::string_view after = rest;
        const std::string_view word = NextWord(after);
        const MapOption* option = nullptr;
        for (const MapOption& known : kMapOptions)
            if (word == known.name) option = &known;
        if (!option) return rest;
        double n[3] = {0, 0, 0};
        int count = 0;
        std::string_view value;
        if (option->numbers) {
            for (std::string_view probe = after; count < option->most; ++count) {
                if (!WholeNumber(NextWord(probe), n[count])) break;
                after = probe;
            }
        } else {
            // A word that is none of the option's own is not taken from the file name.
            std::string_view probe = after;
            value = NextWord(probe);
            const std::string_view own = option->name;
            bool fits = !value.empty();
            if (own == "-imfchan")
                fits = value.size() == 1 &&
                       std::string_view("rgbmlz").find(value[0]) != std::string_view::npos;
            else if (own != "-type")
                fits = value == "on" || value == "off";
            if (fits) {
                count = 1;
                after = probe;
            }
        }
        rest = after;
        const std::string_view name = option->name;
        bool standard = false;
        if (count < option->least) {
        } else if (name == "-o" || name == "-s") {
            double* to = name == "-o" ? placement.offset : placement.scale;
            for (int i = 0; i < count && i < 2; ++i) to[i] = n[i];
            standard = true;
        } else if (name == "-clamp") {
            placement.clamp = value == "on";
            standard = value == "on" || value == "off";
        } else if (name == "-blendu" || name == "-blendv") {
            standard = value == "on";
        } else if (name == "-cc") {
            standard = value == "off";
        } else if (name == "-bm") {
            standard = n[0] == 1.0;
        } else if (name == "-boost" || name == "-t") {
            standard = n[0] == 0.0 && n[1] == 0.0 && n[2] == 0.0;
        } else if (name == "-mm") {
            standard = n[0] == 0.0 && (count < 2 || n[1] == 1.0);
        } else if (name == "-imfchan") {
            standard = bump && value == "l";
        } else if (name == "-type") {
            standard = true;  // of reflection maps, which are named themselves
        }
        if (!standard) unread.emplace_back(name);
    }
}

// The common corner forms "v", "v/vt", "v/vt/vn" and "v//vn" with plain positive numbers of up
// to nine digits; false for anything else, which the general scan reads.
bool ScanPlainTriple(std::string_view word, int parts[3]) {
    int part = 0;
    size_t i = 0;
    const size_t n = word.size();
    while (true) {
        int value = 0, digits = 0;
        for (; i < n && word[i] >= '0' && word[i] <= '9'; ++i) {
            if (++digits > 9) return false;
            value = value * 10 + (word[i] - '0');
        }
        if (digits == 0 && part != 1) return false;
        parts[part] = value;
        if (i == n) return true;
        if (word[i] != '/' || ++part > 2) return false;
        ++i;
        if (i == n) return part < 2 || digits > 0;  // "v/" and "v/vt/" end early
    }
}

}  // namespace

bool KObjParser::CaseLess::operator()(const std::string& a, const std::string& b) const {
    const int folded = KStrCaseCmp(a.c_str(), b.c_str());
    return folded != 0 ? folded < 0 : a < b;
}

bool KObjParser::FoldedLess::operator()(const std::string& a, const std::string& b) const {
    return KStrCaseCmp(a.c_str(), b.c_str()) < 0;
}

KObjParser::EResult KObjParser::ReadFile(const char* path) {
    KFileStream file;
    if (!path || !file.Open(path, "rb")) return eNotOpened;
    mPath = path;
    int headError = 0;
    if (KTextLineReader::IsWideTextFile(path, &headError)) {
        mFailure = KTextLineReader::kWideTextMessage;
        return eWideText;
    }
    KTextLineReader lines;
    lines.SetStream(&file);
    std::string_view keyword, rest;
    if (!headError)
        while (NextLine(lines, keyword, rest))
            if (!Dispatch(lines, keyword, rest) && !lines.GetReadError())
                return mLibraryFailed ? eLibraryNotRead : eCorrupted;
    // A read that failed is no end of the file: nothing of it is kept.
    if (const int error = headError ? headError : lines.GetReadError()) {
        mFailure = KReadFileError(path, error);
        return eReadFailed;
    }
    if (lines.IsLineTooLong()) {
        mStatus += KFormatC("Line %d is too long\n", lines.GetLineNumber() + 1);
        return eCorrupted;
    }
    AssignDefaultMaterial();
    if (mLibraryFailed) return eLibraryNotRead;
    NoteSkipped();
    return eRead;
}

KObjParser::EResult KObjParser::ReadText(std::string_view text, const char* path) {
    mPath = path ? path : "";
    if (KTextLineReader::IsWideText(text.substr(0, 64))) {
        mFailure = KTextLineReader::kWideTextMessage;
        return eWideText;
    }
    KTextLineReader lines;
    lines.SetText(text);
    std::string_view keyword, rest;
    while (NextLine(lines, keyword, rest))
        if (!Dispatch(lines, keyword, rest)) return mLibraryFailed ? eLibraryNotRead : eCorrupted;
    AssignDefaultMaterial();
    if (mLibraryFailed) return eLibraryNotRead;
    NoteSkipped();
    return eRead;
}

void KObjParser::NoteSkipped() {
    const std::pair<int, const char*> kinds[] = {{mLineElements, "line"},
                                                 {mPointElements, "point"},
                                                 {mCurveElements, "curve"},
                                                 {mSurfacesDropped, "surface"}};
    std::vector<std::string> parts;
    int total = 0;
    for (const auto& kind : kinds)
        if (kind.first > 0) {
            parts.push_back(KFormatC("%d %s", kind.first, kind.second));
            total += kind.first;
        }
    if (!parts.empty()) {
        for (size_t i = 0; i < parts.size(); ++i)
            mStatus += (i == 0 ? "" : i + 1 < parts.size() ? ", " : " and ") + parts[i];
        mStatus += total == 1 ? " element is not read\n" : " elements are not read\n";
    }
    if (!mUnread.empty()) {
        mStatus += "Material statements not read:";
        for (size_t i = 0; i < mUnread.size(); ++i)
            mStatus += (i ? ", " : " ") + KQovMessageText(mUnread[i].first) +
                       KFormatC(" (%d)", mUnread[i].second);
        mStatus += '\n';
    }
    // A file of statements that kept nothing says so: its conversion would be empty.
    if (mStatements == 0 || !mSurfaces.empty()) return;
    for (const auto& group : mGroups)
        if (!group.second.faces.empty()) return;
    const size_t vertices = mVertices.size();
    mStatus += "No geometry read: the file holds ";
    if (vertices > 0)
        mStatus += KFormatC("%zu vert%s and ", vertices, vertices == 1 ? "ex" : "ices");
    mStatus += "no face or surface\n";
}

bool KObjParser::NextLine(KTextLineReader& lines, std::string_view& keyword,
                          std::string_view& rest) {
    std::string_view line;
    do {
        if (!lines.ReadLine(line)) return false;
        line = Trim(line);
    } while (line.empty());
    if (line.back() == '\\') {
        mJoined.assign(line.data(), line.size());
        while (!mJoined.empty() && mJoined.back() == '\\') {
            mJoined.back() = ' ';
            std::string_view next;
            if (!lines.ReadLine(next)) break;
            mJoined.append(next.data(), next.size());
            while (!mJoined.empty() && KIsSpace(mJoined.back())) mJoined.pop_back();
        }
        line = mJoined;
    }
    keyword = NextWord(line);
    rest = Trim(line);
    return true;
}

void KObjParser::Corrupt(int line, std::string_view keyword, std::string_view rest) {
    std::string quoted(keyword);
    quoted += ' ';
    quoted += rest.substr(0, 80);
    mFailure = KFormatC("line %d: ", line) + KQovMessageText(quoted);
    mStatus += KFormatC("Line %d is corrupted: ", line) + mFailure.substr(mFailure.find(": ") + 2);
    mStatus += '\n';
}

bool KObjParser::Dispatch(KTextLineReader& lines, std::string_view keyword, std::string_view rest) {
    double n[4];
    ++mStatements;
    if (keyword == "v") {
        n[3] = 1.0;
        if (ScanNumbers(rest, n, 4) < 3)
            return Corrupt(lines.GetLineNumber(), keyword, rest), false;
        mVertices.emplace_back(n[0], n[1], n[2], n[3]);
    } else if (keyword == "vt") {
        n[1] = 0.0;
        if (ScanNumbers(rest, n, 3) < 1)
            return Corrupt(lines.GetLineNumber(), keyword, rest), false;
        mTextureVertices.emplace_back(n[0], n[1]);
    } else if (keyword == "vn") {
        if (ScanNumbers(rest, n, 3) < 3)
            return Corrupt(lines.GetLineNumber(), keyword, rest), false;
        mNormals.emplace_back(n[0], n[1], n[2], 0.0);
    } else if (keyword == "vp") {
        if (ScanNumbers(rest, n, 3) < 1)
            return Corrupt(lines.GetLineNumber(), keyword, rest), false;
    } else if (keyword == "f") {
        ParseFace(rest);
    } else if (keyword[0] == '#' || keyword == "mg" || keyword == "o" || keyword == "step" ||
               keyword == "bmat") {
    } else if (keyword == "g") {
        std::string name = KObjNames::GroupName(rest);
        if (name != mGroupName) {
            mGroupName = name;
            mGroup = nullptr;
        }
    } else if (keyword == "s") {
        int value = 0;
        if (KScanInteger(rest, value) > 0)
            mSmoothing = value;
        else if (rest.substr(0, 3) == "off")
            mSmoothing = 0;
    } else if (keyword == "usemtl") {
        // The whole rest is the name: names may hold blanks. An empty one is a name where a
        // library defines a material of none.
        if (!rest.empty() || mMaterialLines.count(std::string())) mMaterial = UseMaterial(rest);
        if (mLibraryFailed) return false;
    } else if (keyword == "mtllib") {
        if (!LoadMaterialLibraries(rest)) return false;
    } else if (keyword == "cstype") {
        std::string_view words = rest;
        std::string_view type = NextWord(words);
        if (type == "rat") {
            mRational = true;
            type = NextWord(words);
        }
        static const char* const kTypes[] = {"bmatrix", "bezier", "bspline", "cardinal", "taylor"};
        for (int i = 0; i < 5; ++i)
            if (type == kTypes[i]) mSurfaceType = i + 1;
    } else if (keyword == "deg") {
        int used = (int)KScanInteger(rest, mDegreeU);
        if (used > 0) KScanInteger(Trim(rest.substr(used)), mDegreeV);
    } else if (keyword == "l") {
        ++mLineElements;
    } else if (keyword == "p") {
        ++mPointElements;
    } else if (keyword == "curv" || keyword == "curv2") {
        ++mCurveElements;
        SkipBlock(lines);
    } else if (keyword == "surf") {
        if (mSurfaceType == 0) return Corrupt(lines.GetLineNumber(), keyword, rest), false;
        ParseSurface(lines, rest);
    } else if (std::any_of(keyword.begin(), keyword.end(), [](char c) {
                   return (c > 0 && c < '\t') || (c > '\r' && c < ' ') || c == 0x7F;
               })) {
        // No statement starts with control bytes: this is no text file, and reading on
        // through it would only pile up messages. (Zero bytes pass: wide text reads empty.)
        mStatus += KFormatC("Line %d is corrupted: not text\n", lines.GetLineNumber());
        return false;
    } else {
        mStatus += "Object not supported : " + KQovMessageText(keyword) + '\n';
    }
    return true;
}

KObjGroup& KObjParser::CurrentGroup() {
    if (!mGroup) {
        auto it = mGroups.find(mGroupName);
        if (it == mGroups.end()) {
            it = mGroups.emplace(mGroupName, KObjGroup()).first;
            it->second.name = mGroupName;
        }
        mGroup = &it->second;
    }
    return *mGroup;
}

bool KObjParser::ParseIndexTriple(std::string_view word, KObjCorner& corner) const {
    int parts[3] = {0, 0, 0};
    if (ScanPlainTriple(word, parts)) {
        if (parts[0] == 0) return false;
        corner.v = ResolveIndex(parts[0], mVertices.size());
        corner.vt = parts[1] ? ResolveIndex(parts[1], mTextureVertices.size()) : -1;
        corner.vn = parts[2] ? ResolveIndex(parts[2], mNormals.size()) : -1;
        return true;
    }
    parts[0] = parts[1] = parts[2] = 0;
    const bool noTexture = word.find("//") != std::string_view::npos;
    int part = 0;
    while (!word.empty() && part < 3) {
        while (!word.empty() && word.front() == '/') word.remove_prefix(1);
        size_t used = KScanInteger(word, parts[part]);
        ++part;
        if (noTexture && part == 1) ++part;  // v//vn
        const size_t next = word.find('/', used);
        word.remove_prefix(next == std::string_view::npos ? word.size() : next);
    }
    if (parts[0] == 0) return false;
    corner.v = ResolveIndex(parts[0], mVertices.size());
    corner.vt = parts[1] ? ResolveIndex(parts[1], mTextureVertices.size()) : -1;
    corner.vn = parts[2] ? ResolveIndex(parts[2], mNormals.size()) : -1;
    return true;
}

void KObjParser::ParseFace(std::string_view rest) {
    KObjGroup& group = CurrentGroup();
    KObjFace face;
    face.firstCorner = int(group.corners.size());
    face.material = mMaterial;
    face.smoothing = mSmoothing;
    face.textured = mMaterial >= 0 && !mMaterials[mMaterial].diffuseMap.empty();
    int words = 0;
    rest = rest.substr(0, rest.find('#'));  // a comment behind the corners, blank or not
    for (std::string_view word = NextWord(rest); !word.empty(); word = NextWord(rest), ++words) {
        KObjCorner corner;
        if (!ParseIndexTriple(word, corner)) {
            group.corners.resize(face.firstCorner);
            return;
        }
        if (corner.v < 0) continue;
        if (corner.vn < 0) face.normalsPresent = false;
        group.corners.push_back(corner);
    }
    face.cornerCount = int(group.corners.size()) - face.firstCorner;
    if (words < 3 || face.cornerCount < 3) {
        group.corners.resize(face.firstCorner);
        return;
    }
    if (!face.normalsPresent) group.allNormals = false;
    if (face.textured) {
        group.someTextured = true;
        mTexturedMaterial = true;
    } else {
        group.allTextured = false;
    }
    group.faces.push_back(face);
}

void KObjParser::SkipBlock(KTextLineReader& lines) {
    std::string_view keyword, rest;
    while (NextLine(lines, keyword, rest))
        if (keyword == "end") return;
}

void KObjParser::ParseSurface(KTextLineReader& lines, std::string_view rest) {
    const int line = lines.GetLineNumber();
    KObjSurface surface;
    surface.group = mGroupName;
    surface.material = mMaterial;
    surface.degreeU = mDegreeU;
    surface.degreeV = mDegreeV;
    std::string_view words = rest;
    int count = 0;
    for (std::string_view w = rest; !NextWord(w).empty();) ++count;
    if (count >= 4) {
        for (int i = 0; i < 4; ++i) KParseDecimal(NextWord(words), surface.range[i]);
        for (std::string_view word = NextWord(words); !word.empty(); word = NextWord(words)) {
            KObjCorner corner;
            if (!ParseIndexTriple(word, corner)) break;
            if (corner.v >= 0) surface.points.push_back(corner.v);
        }
    }
    std::string_view keyword, parm;
    while (NextLine(lines, keyword, parm)) {
        if (keyword == "end") break;
        if (keyword != "parm") continue;
        std::string_view direction = NextWord(parm);
        std::vector<double>* knots = direction == "u"   ? &surface.uKnots
                                     : direction == "v" ? &surface.vKnots
                                                        : nullptr;
        double value = 0.0;
        for (std::string_view word = NextWord(parm); knots && !word.empty(); word = NextWord(parm))
            if (KParseDecimal(word, value)) knots->push_back(value);
    }
    if (mSurfaceType != 3 || !mRational) {  // only rational B-splines are kept
        ++mSurfacesDropped;
        return;
    }
    const int nU = surface.CountU(), nV = surface.CountV();
    if (nU < 1 || nV < 1 || (long long)nU * nV != (long long)surface.points.size()) {
        mStatus +=
            KFormatC("Surface of line %d dropped: its control points do not fit its knots\n", line);
        return;
    }
    mSurfaces.push_back(std::move(surface));
}

bool KObjParser::LoadMaterialLibraries(std::string_view rest) {
    mHasLibrary = true;
    const std::string whole(Trim(rest));
    std::string_view afterFirst = whole;
    NextWord(afterFirst);
    // A name holding blanks (the library written beside "my file.obj") is read whole when its
    // words do not all name libraries: a file "my" beside it is no library of this line.
    const int wholeError = afterFirst.empty() ? ENOENT : LibraryError(whole);
    if (SystemCause(wholeError)) return TellLibraryProblem(whole, wholeError);
    if (!Missing(wholeError)) {
        std::string_view words = whole;
        for (std::string_view word = NextWord(words); !word.empty(); word = NextWord(words)) {
            const int error = LibraryError(std::string(word));
            if (SystemCause(error)) return TellLibraryProblem(std::string(word), error);
            if (Missing(error)) return LoadLibrary(whole);
        }
    }
    for (std::string_view word = NextWord(rest); !word.empty(); word = NextWord(rest))
        if (!LoadLibrary(std::string(word))) return false;
    if (whole.empty()) mStatus += "Unable to load material library: the line names none\n";
    return true;
}

std::string KObjParser::BesideModel(const std::string& name) const {
    return KResolvePath(KExtractNameFolder(mPath.c_str()).Buffer(), name.c_str()).Buffer();
}

int KObjParser::LibraryError(const std::string& name) const {
    const std::string beside = BesideModel(name);
    const int besideError = OpenError(beside.c_str());
    if (!Missing(besideError) || beside == name) return besideError;
    const int error = OpenError(name.c_str());
    return Missing(error) ? besideError : error;
}

bool KObjParser::TellLibraryProblem(const std::string& name, int cause) {
    const std::string why = "Unable to load material library \"" + KQovMessageText(name) +
                            "\": " + LibraryProblem(cause);
    // A library that is not there to read is a word; one that the system fails to read would
    // drop every material with a word.
    if (SystemCause(cause)) {
        mFailure = why;
        mLibraryFailed = true;
        return false;
    }
    mStatus += why + "\n";
    return true;
}

bool KObjParser::LoadLibrary(const std::string& name) {
    const std::string beside = BesideModel(name);
    // Beside the model first: a library of that name where the program runs belongs to
    // another model. There only when none lies beside it.
    std::string text;
    KPlatformFileFound found;
    const int besideError = ReadWholeFile(beside.c_str(), text, found);
    const int error = Missing(besideError) && beside != name
                          ? ReadWholeFile(name.c_str(), text, found)
                          : besideError;
    if (!error || !besideError) {
        // In step when memory runs out: the last push cannot throw.
        mLibrariesFound.reserve(mLibraryPaths.size() + 1);
        mLibraryPaths.push_back(besideError ? name : beside);
        mLibrariesFound.push_back(std::move(found));
    }
    if (!besideError) {
        AddLibrary(std::move(text), KExtractFileFolder(beside.c_str()).Buffer());
    } else if (!error) {
        AddLibrary(std::move(text), KExtractFileFolder(name.c_str()).Buffer());
    } else {
        // Missing here and there says little: the other cause says why.
        return TellLibraryProblem(name, Missing(error) ? besideError : error);
    }
    return true;
}

void KObjParser::AddLibrary(std::string text, std::string folder) {
    mLibraries.push_back(std::move(text));
    mLibraryFolders.push_back(std::move(folder));
    const std::string_view library = mLibraries.back();
    KTextLineReader lines;
    lines.SetText(library);
    std::string_view line;
    while (lines.ReadLine(line)) {
        const size_t offset = size_t(line.data() - library.data());
        if (NextWord(line) != "newmtl") continue;
        // The first definition of a name in the first library that has one.
        const std::string name(Trim(line));
        mMaterialLines.emplace(name, std::make_pair(mLibraries.size() - 1, offset));
        mDefinedFolded.insert(name);
    }
}

bool KObjParser::NoteUnfoundImage(const std::string& path) const {
    errno = 0;
    FILE* file = KPlatformOpenFile(path.c_str(), "rb");
    const int error = file ? 0 : errno;
    if (file) fclose(file);
    if (!SystemCause(error) || mLibraryFailed) return file != nullptr;
    // An image the system fails to find would be left out with a word.
    mFailure =
        "Unable to read texture file \"" + KQovMessageText(path) + "\": " + LibraryProblem(error);
    mLibraryFailed = true;
    return false;
}

int KObjParser::UseMaterial(std::string_view name, bool named) {
    const std::string key(name);
    auto it = mMaterialIndex.find(key);
    if (it != mMaterialIndex.end()) return it->second;
    // Files of systems that fold case name a material in another case than its definition;
    // a name the libraries define as written is a material of its own.
    KObjMaterial material;
    material.name = key;
    if (!mMaterialLines.count(key)) {
        auto folded = mMaterialFolded.find(key);
        if (folded != mMaterialFolded.end()) return folded->second;
        auto defined = mDefinedFolded.find(key);
        if (named && defined != mDefinedFolded.end()) material.name = *defined;
    }
    if (!ReadMaterial(material) && named)
        mStatus += "Unable to read material \"" + KQovMessageText(key) + "\" in .mtl file\n";
    const std::string defined = material.name;
    mMaterials.push_back(std::move(material));
    const int index = int(mMaterials.size()) - 1;
    mMaterialIndex.emplace(defined, index);
    mMaterialFolded.emplace(key, index);
    return mMaterialIndex[key] = index;
}

bool KObjParser::ReadMaterial(KObjMaterial& material) const {
    // Straight to the definition, found when its library was loaded: a file of many
    // materials is not scanned once per material.
    const auto at = mMaterialLines.find(material.name);
    if (at == mMaterialLines.end()) return false;
    KTextLineReader lines;
    lines.SetText(std::string_view(mLibraries[at->second.first]).substr(at->second.second));
    std::string_view line;
    bool inside = false;
    bool hasDissolve = false, hasTr = false;
    double dissolve = 1.0, tr = 0.0;
    std::vector<std::string> unread;
    while (lines.ReadLine(line)) {
        const std::string_view keyword = NextWord(line);
        if (keyword == "newmtl") {
            if (inside) break;
            inside = Trim(line) == material.name;
            continue;
        }
        if (!inside || keyword.empty() || keyword[0] == '#') continue;
        double n[3];
        if (keyword == "Ka" || keyword == "Kd" || keyword == "Ks" || keyword == "Ke") {
            // One value is a grey; "spectral" and "xyz" colours are not read.
            const int count = ScanNumbers(line, n, 3);
            if (count != 1 && count != 3) {
                unread.emplace_back(keyword);
                continue;
            }
            if (count == 1) n[1] = n[2] = n[0];
            const int k = keyword == "Ka" ? 0 : keyword == "Kd" ? 1 : keyword == "Ks" ? 2 : 3;
            double* colours[4] = {material.ambient, material.diffuse, material.specular,
                                  material.emissive};
            bool* has[4] = {&material.hasAmbient, &material.hasDiffuse, &material.hasSpecular,
                            &material.hasEmissive};
            *has[k] = true;
            for (int i = 0; i < 3; ++i) colours[k][i] = std::min(1.0, std::max(0.0, n[i]));
        } else if (keyword == "illum") {
            KScanInteger(Trim(line), material.illum);
        } else if (keyword == "Ns") {
            // The exponent runs 0 to 1000.
            if (ScanNumbers(line, n, 1) == 1) {
                material.hasShininess = true;
                material.shininess = n[0] * 0.001;
            } else {
                unread.emplace_back(keyword);
            }
        } else if (keyword == "d" || keyword == "Tr") {
            // Tr is the transparency, 1 - d; d holds where both are given.
            if (ScanNumbers(line, n, 1) == 1) {
                (keyword == "d" ? hasDissolve : hasTr) = true;
                (keyword == "d" ? dissolve : tr) = n[0];
            } else {
                unread.emplace_back(keyword);
            }
        } else if (keyword == "map_Kd" || keyword == "map_bump" || keyword == "map_Bump" ||
                   keyword == "bump") {
            const bool bump = keyword != "map_Kd";
            KObjMapPlacement placement;
            std::vector<std::string> options;
            const std::string map(ReadMapOptions(line, bump, placement, options));
            for (const std::string& option : options)
                unread.push_back(std::string(keyword) + " " + option);
            if (map.empty()) {
                unread.emplace_back(keyword);
                continue;
            }
            // A relative name is the library's: kept by its full path beside it, so
            // writers look for the image there wherever the program runs.
            const char* folder = mLibraryFolders[at->second.first].c_str();
            std::string& file = bump ? material.bumpMap : material.diffuseMap;
            file = KFindFileBeside(folder, map.c_str()).Buffer();
            (bump ? material.bumpPlacement : material.diffusePlacement) = placement;
            // Not found for a cause of the system: the read fails.
            if (KIsRelativePath(map.c_str()) && !KFileExists(file.c_str())) NoteUnfoundImage(file);
        } else if (keyword == "Ni" || keyword == "Tf" || keyword == "sharpness") {
            // Refraction, the transmission filter and reflection sharpness are not kept;
            // named only where they differ from what no statement gives.
            const double neutral = keyword == "Ni" ? 1.0 : keyword == "Tf" ? 1.0 : 60.0;
            const int count = ScanNumbers(line, n, 3);
            bool plain = count > 0;
            for (int i = 0; i < count; ++i) plain = plain && n[i] == neutral;
            if (!plain) unread.emplace_back(keyword);
        } else {
            unread.emplace_back(keyword);
        }
    }
    if (!inside) return false;
    material.defined = true;
    if (hasDissolve || hasTr) {
        material.hasOpacity = true;
        material.opacity = hasDissolve ? dissolve : 1.0 - tr;
    }
    // Illumination models 0 and 1 have no highlight.
    if (material.illum < 2) {
        material.hasSpecular = true;
        material.specular[0] = material.specular[1] = material.specular[2] = 0.0;
        if (!material.hasShininess) material.hasShininess = true, material.shininess = 0.0;
    }
    for (std::string& name : unread) {
        const auto at = mUnreadAt.try_emplace(name, mUnread.size());
        if (at.second)
            mUnread.emplace_back(std::move(name), 1);
        else
            ++mUnread[at.first->second].second;
    }
    return true;
}

void KObjParser::AssignDefaultMaterial() {
    if (!mHasLibrary) return;
    int fallback = -1;
    for (auto& entry : mGroups)
        for (KObjFace& face : entry.second.faces)
            if (face.material < 0) {
                if (fallback < 0) fallback = UseMaterial("default", false);
                face.material = fallback;
            }
}

void KObjParser::CompleteNormals(KObjGroup& group) {
    struct Sum {
        double n[3] = {0, 0, 0};
        bool lacking = false;
        int normal = -1;
    };
    // The faces of each smoothing group, in file order: one pass over the faces, not one per
    // smoothing group.
    std::map<int, std::vector<int>> bySmoothing;
    for (size_t f = 0; f < group.faces.size(); ++f)
        bySmoothing[group.faces[f].smoothing].push_back(int(f));
    for (const auto& [smoothing, members] : bySmoothing) {
        std::map<int, Sum> sums;
        for (int f : members) {
            KObjFace& face = group.faces[size_t(f)];
            if (smoothing == 0 && face.normalsPresent) continue;
            KObjCorner* c = &group.corners[face.firstCorner];
            const KVector4 normal = FaceNormal(mVertices, c, face.cornerCount);
            if (smoothing == 0) {
                mNormals.push_back(normal);
                for (int i = 0; i < face.cornerCount; ++i) c[i].vn = int(mNormals.size()) - 1;
                face.normalsPresent = true;
                continue;
            }
            for (int i = 0; i < face.cornerCount; ++i) {
                Sum& sum = sums[c[i].v];
                const KVector4& add = c[i].vn >= 0 ? mNormals[c[i].vn] : normal;
                if (c[i].vn < 0) sum.lacking = true;
                for (int k = 0; k < 3; ++k) sum.n[k] += add[k];
            }
        }
        for (auto& entry : sums) {
            Sum& sum = entry.second;
            if (!sum.lacking) continue;
            const double length =
                std::sqrt(sum.n[0] * sum.n[0] + sum.n[1] * sum.n[1] + sum.n[2] * sum.n[2]);
            const double scale = length > 0.0 ? 1.0 / length : 0.0;
            mNormals.emplace_back(sum.n[0] * scale, sum.n[1] * scale, sum.n[2] * scale, 1.0);
            sum.normal = int(mNormals.size()) - 1;
        }
        if (smoothing == 0) continue;
        for (int f : members) {
            KObjFace& face = group.faces[size_t(f)];
            KObjCorner* c = &group.corners[face.firstCorner];
            for (int i = 0; i < face.cornerCount; ++i)
                if (c[i].vn < 0) c[i].vn = sums[c[i].v].normal;
            face.normalsPresent = true;
        }
    }
    group.allNormals = true;
}

void KObjParser::BuildMesh(const std::string& name, KObjMeshData& out) {
    BuildPolygons(name, out);
    const size_t count = out.pointCorners.size();
    out.points.reserve(count);
    out.normals.reserve(count);
    if (out.hasUVs) out.uvs.reserve(count);
    for (const KObjCorner& c : out.pointCorners) {
        out.points.push_back(mVertices[c.v]);
        out.normals.push_back(c.vn >= 0 ? mNormals[c.vn] : KVector4());
        if (out.hasUVs) out.uvs.push_back(c.vt >= 0 ? mTextureVertices[c.vt] : KVector2());
    }
}

void KObjParser::BuildPolygons(const std::string& name, KObjMeshData& out) {
    out = KObjMeshData();
    auto found = mGroups.find(name);
    if (found == mGroups.end()) return;
    KObjGroup& group = found->second;
    if (!group.allNormals) CompleteNormals(group);
    // Faces by smoothing group, file order within each; most files are in that order already.
    const auto smoothingLess = [&](int a, int b) {
        return uint32_t(group.faces[size_t(a)].smoothing) <
               uint32_t(group.faces[size_t(b)].smoothing);
    };
    std::vector<int> order;
    for (size_t f = 1; f < group.faces.size() && order.empty(); ++f)
        if (smoothingLess(int(f), int(f - 1))) {
            order.resize(group.faces.size());
            for (size_t i = 0; i < order.size(); ++i) order[i] = int(i);
            std::stable_sort(order.begin(), order.end(), smoothingLess);
        }
    size_t vertices = 0;  // past the largest vertex index of the group
    for (const KObjCorner& c : group.corners) {
        out.hasUVs = out.hasUVs || c.vt >= 0;
        vertices = std::max(vertices, size_t(c.v) + 1);
    }
    // Control points by their (vertex, normal, texture vertex) triple, numbered in order of
    // first use. The points of a vertex are chained from it: files list neighbouring vertices
    // together, so the look-up stays among a few cache lines. Past kChain points of one vertex
    // the rest go into an open-addressed table (no allocation per point), so a vertex that
    // many faces share with as many normals costs no long walk.
    constexpr int kChain = 8;
    std::vector<KObjCorner>& points = out.pointCorners;
    std::vector<int> previous;  // per point, the vertex's point made before it (-1 none)
    if (mPointOfVertex.size() < vertices) mPointOfVertex.resize(vertices, -1);
    auto hash = [](const KObjCorner& c) {
        uint64_t h = uint32_t(c.v);
        h = h * 0x9E3779B97F4A7C15ull ^ uint32_t(c.vn);
        h = h * 0x9E3779B97F4A7C15ull ^ uint32_t(c.vt);
        h *= 0x9E3779B97F4A7C15ull;
        return size_t(h ^ (h >> 32));
    };
    // The table's slots hold point numbers (-1 empty); it grows with what it holds.
    std::vector<int> slots, spilled;
    size_t mask = 0;
    auto slotOf = [&](const KObjCorner& c) {
        size_t at = hash(c) & mask;
        for (; slots[at] >= 0; at = (at + 1) & mask) {
            const KObjCorner& k = points[size_t(slots[at])];
            if (k.v == c.v && k.vn == c.vn && k.vt == c.vt) break;
        }
        return at;
    };
    auto spill = [&](int point) {
        spilled.push_back(point);
        if (spilled.size() * 2 >= slots.size()) {
            slots.assign(std::max<size_t>(1024, slots.size() * 2), -1);
            mask = slots.size() - 1;
            for (int p : spilled) slots[slotOf(points[size_t(p)])] = p;
        } else {
            slots[slotOf(points[size_t(point)])] = point;
        }
    };
    out.polygonSizes.reserve(group.faces.size());
    out.polygonMaterials.reserve(group.faces.size());
    out.polygonVertices.reserve(group.corners.size());
    for (size_t n = 0; n < group.faces.size(); ++n) {
        const KObjFace& face = group.faces[order.empty() ? n : size_t(order[n])];
        out.polygonSizes.push_back(face.cornerCount);
        out.polygonMaterials.push_back(face.material);
        for (int i = 0; i < face.cornerCount; ++i) {
            const KObjCorner& c = group.corners[size_t(face.firstCorner + i)];
            int& head = mPointOfVertex[size_t(c.v)];
            int point = head, walked = 0;
            for (; point >= 0; point = previous[size_t(point)], ++walked) {
                const KObjCorner& k = points[size_t(point)];
                if (k.vn == c.vn && k.vt == c.vt) break;
            }
            if (point < 0 && walked == kChain && !slots.empty()) point = slots[slotOf(c)];
            if (point < 0) {
                point = int(points.size());
                points.push_back(c);
                if (walked < kChain) {
                    previous.push_back(head);
                    head = point;
                } else {
                    previous.push_back(-1);
                    spill(point);
                }
            }
            out.polygonVertices.push_back(point);
        }
    }
    for (const KObjCorner& c : points) mPointOfVertex[size_t(c.v)] = -1;
}

void KObjParser::ReleaseGroup(const std::string& name) {
    auto found = mGroups.find(name);
    if (found == mGroups.end()) return;
    std::vector<KObjFace>().swap(found->second.faces);
    std::vector<KObjCorner>().swap(found->second.corners);
}

void KObjParser::ReleaseLists() {
    std::vector<KVector4>().swap(mVertices);
    std::vector<KVector2>().swap(mTextureVertices);
    std::vector<KVector4>().swap(mNormals);
    std::vector<int>().swap(mPointOfVertex);
}
