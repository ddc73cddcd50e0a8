#include "formats/motion/htr/KMotionFileHtr.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "formats/motion/KMotionSceneTools.h"
#include "foundation/KIniFile.h"
#include "foundation/KLocale.h"
#include "foundation/KQuotedText.h"
#include "io/KStreamOptionsMotion.h"
#include "io/KQovWrittenNames.h"

namespace {

// Scale factors this close to 1 are 1 as a file's writer rounded it.
constexpr double kScaleNoise = 1e-5;

enum { kHeader, kHierarchy, kBasePosition, kEndOfFile };
KMotionKeyword gSections[] = {{"[Header]", 0},
                              {"[SegmentNames&Hierarchy]", 0},
                              {"[BasePosition]", 0},
                              {"[EndOfFile]", 0},
                              {"", 0}};
enum {
    kFileType,
    kDataType,
    kFileVersion,
    kNumSegments,
    kNumFrames,
    kDataFrameRate,
    kEulerRotationOrder,
    kCalibrationUnits,
    kRotationUnits,
    kGlobalAxisofGravity,
    kBoneLengthAxis,
    kScaleFactor,
};
KMotionKeyword gHeaderWords[] = {{"FileType", 0},
                                 {"DataType", 0},
                                 {"FileVersion", 0},
                                 {"NumSegments", 0},
                                 {"NumFrames", 0},
                                 {"DataFrameRate", 0},
                                 {"EulerRotationOrder", 0},
                                 {"CalibrationUnits", 0},
                                 {"RotationUnits", 0},
                                 {"GlobalAxisofGravity", 0},
                                 {"BoneLengthAxis", 0},
                                 {"ScaleFactor", 0},
                                 {"", 0}};
KMotionKeyword gFileTypes[] = {{"htr", 0}, {"", 0}};
KMotionKeyword gDataTypes[] = {{"HTRS", 0}, {"", 0}};
KMotionKeyword gOrders[] = {{"ZYX", 0}, {"YXZ", 0}, {"XZY", 0}, {"ZXY", 0},
                            {"YZX", 0}, {"XYZ", 0}, {"", 0}};
// The file names the product of the matrices; the code names the axis that turns first.
const int kOrderCodes[] = {0, 8, 4, 6, 2, 10};
KMotionKeyword gUnits[] = {{"mm", 0}, {"cm", 0}, {"in", 0}, {"", 0}};
const double kLengthFactors[] = {0.1, 1.0, 2.54};
KMotionKeyword gAngleUnits[] = {{"Degrees", 0}, {"Radians", 0}, {"", 0}};
KMotionKeyword gAxes[] = {{"X", 0}, {"Y", 0}, {"Z", 0}, {"", 0}};

constexpr double kDegreesPerRadian = 57.29577951308232;

bool Positive(double value) {
    return value > 0.0 && std::isfinite(value);
}

bool SceneNumbers(const KVector4& v) {
    return KIsSceneNumber(v[0]) && KIsSceneNumber(v[1]) && KIsSceneNumber(v[2]);
}

KVector4 EulerXYZ(const KMatrix& m) {
    KVector4 angles;
    KMatrixToEulerXYZ(angles, m);
    return angles;
}

}  // namespace

void KHtrSegment::SetBasePosition(const KVector4& translation, const KVector4& angles, int order,
                                  double length) {
    baseTranslation = translation;
    KMatrixSetIdentity(baseRotation);
    KMatrixSetRotationOrdered(baseRotation, angles, order);
    boneLength = length;
}

bool KMotionFileHtr::IsSectionStart(const std::string& text) {
    for (int i = 0; gSections[i].text[0]; ++i)
        if (MatchPrefix(text.c_str(), gSections[i].text)) return true;
    return false;
}

KMotionFileHtr::KMotionFileHtr(bool report) : KMotionFile("HTR", " \t\r\n", "#", true, report) {
    KIniFile settings("@Application.txt", false);
    const char* value = settings.GetValue("MotionImportHTR", "MinimizeRotationOffset", "Yes");
    mMinimizeRotationOffset = value && KString(value).CompareNoCase("Yes") == 0;
}

KMatrix KMotionFileHtr::BoneAxisMatrix(int axis) {
    KMatrix m;
    if (axis == 1) KMatrixSetRotationXYZ(m, 0.0, 0.0, 90.0);
    if (axis == 2) KMatrixSetRotationXYZ(m, 0.0, -90.0, 0.0);
    return m;
}

bool KMotionFileHtr::ReadHeaderLine(KStreamOptionsMotion* options) {
    const int keyword = ReadKeyword(gHeaderWords);
    int value = 0;
    double number = 0.0;
    switch (keyword) {
        case kFileType:
            if ((mFileType = ReadKeyword(gFileTypes)) < 0) return !Error("Unknown file type");
            break;
        case kDataType:
            if ((mDataType = ReadKeyword(gDataTypes)) < 0) return !Error("Unknown data type");
            break;
        case kFileVersion:
            if (ReadInt(value))
                mFileVersion = value;
            else
                Warning("Can't read version");
            break;
        // Counts and rates below one would leave nothing to read or divide by zero.
        case kNumSegments:
            if (!ReadInt(value) || value < 1) return !Error("Can't read segment count");
            mSegmentCount = value;
            break;
        case kNumFrames:
            if (!ReadInt(value) || value < 1) return !Error("Can't read frame count");
            mFrameCount = value;
            if (options) options->SetFrameCount(value);
            break;
        case kDataFrameRate:
            if (!ReadInt(value) || value < 1) return !Error("Can't read data frame rate");
            mFrameRate = value;
            mRateRead = true;
            break;
        case kEulerRotationOrder:
            if ((value = ReadKeyword(gOrders)) < 0) return !Error("Unknown euler rotation order");
            mOrderIndex = value;
            mOrder = kOrderCodes[value];
            break;
        case kCalibrationUnits:
            if ((value = ReadKeyword(gUnits)) < 0) {
                Warning("Unknown calibration units");
            } else {
                mUnitIndex = value;
                mLengthFactor = kLengthFactors[value];
            }
            break;
        case kRotationUnits:
            if ((value = ReadKeyword(gAngleUnits)) < 0) return !Error("Unknown rotation units");
            mAngleIndex = value;
            mAngleFactor = value == 0 ? 1.0 : kDegreesPerRadian;
            break;
        case kGlobalAxisofGravity:
            if ((value = ReadKeyword(gAxes)) < 0)
                Warning("Unknown axis of gravity");
            else
                mGravityAxis = value;
            break;
        case kBoneLengthAxis:
            if ((value = ReadKeyword(gAxes)) < 0) return !Error("Unknown bone length axis");
            mBoneAxis = value;
            mBoneAxisMatrix = BoneAxisMatrix(value);
            break;
        case kScaleFactor:
            if (!ReadDouble(number, 1.0) || !Positive(number))
                return !Error("Can't read scale factor");
            mScaleFactor = number;
            break;
        default:
            break;
    }
    if (!ReadLine()) return !Error("Unexpected end of file");
    return true;
}

bool KMotionFileHtr::ReadOptions(KStreamOptionsMotion& options) {
    if (!Rewind()) return false;
    bool header = false;
    mRateRead = false;
    mRateNote.clear();
    while (!IsAtEnd()) {
        const int section = ReadKeyword(gSections);
        if (section == kHeader) {
            header = true;
            if (!ReadLine()) return false;
        } else if (section >= 0) {
            if (!header) return false;
            break;
        } else if (header) {
            if (!ReadHeaderLine(&options)) return false;
        } else if (!ReadLine()) {
            return false;
        }
    }
    // The frame count may follow the rate: the rate is taken once both are known.
    if (mRateRead)
        mRateNote = KMotionSetFileRate(options, mFrameRate, 0.0, options.GetFrameCount(),
                                       KFormatC("DataFrameRate %d", mFrameRate));
    options.SetSetting(8, 1);
    return header;
}

bool KMotionFileHtr::ReadHierarchy(KStreamOptionsMotion* options) {
    if (!Rewind()) return false;
    mState = -1;
    bool header = false, hierarchy = false;
    while (!IsAtEnd()) {
        switch (ReadKeyword(gSections)) {
            case kHeader:
                header = true;
                mState = 0;
                break;
            case kHierarchy:
                if (!header) return !Error("Header not found");
                mSegments.clear();
                mCounter = 0;
                hierarchy = true;
                mState = 1;
                ReadLine();
                break;
            case kBasePosition:
                if (!hierarchy) return !Error("Hierarchy not found");
                if (int(mSegments.size()) != mSegmentCount) return !Error("Bad segment count");
                mState = 2;
                mCounter = 0;
                ReadLine();
                break;
            case kEndOfFile:
                return !Error("Animation data not found");
            default:
                switch (mState) {
                    case 0:
                        if (!ReadHeaderLine(options)) return false;
                        break;
                    case 1:
                        if (!ReadHierarchyLine()) return false;
                        break;
                    case 2:
                        if (!ReadBasePositionLine()) return false;
                        break;
                    case 100:
                        return true;
                    default:
                        ReadLine();
                        break;
                }
        }
    }
    return false;
}

bool KMotionFileHtr::ReadHierarchyLine() {
    char name[kMaxName + 1], parent[kMaxName + 1];
    if (!ReadToken(name, kMaxName)) return !Error("Can't read segment name");
    if (!ReadToken(parent, kMaxName)) return !Error("Can't read parent name");
    ReadLine();
    AddSegment(name, parent)->dataType = mDataType;
    if (++mCounter == mSegmentCount) mState = -1;
    return true;
}

bool KMotionFileHtr::ReadBasePositionLine() {
    char name[kMaxName + 1];
    KVector4 t, r;
    double length = 0.0;
    if (!ReadToken(name, kMaxName)) return !Error("Can't read segment name");
    if (!ReadVector(t, 1.0)) return !Error("Can't read segment base translation");
    if (!ReadVector(r, 1.0)) return !Error("Can't read segment base rotation");
    if (!ReadDouble(length, 1.0)) return !Error("Can't read segment length");
    ReadLine();
    if (mCounter >= int(mSegments.size())) return false;
    KHtrSegment& segment = *mSegments[size_t(mCounter)];
    if (segment.name != name) return false;
    const double factor = mLengthFactor / mScaleFactor;
    // The units and the scale factor may carry a value beyond what any curve holds.
    if (!SceneNumbers(t * factor) || !KIsSceneNumber(length * factor))
        return !Error("Segment base position out of range");
    segment.SetBasePosition(t * factor, r * mAngleFactor, mOrder, length * factor);
    if (++mCounter == mSegmentCount) {
        mState = 100;
        mCounter = 0;
    }
    return true;
}

int KMotionFileHtr::ReadFrameSectionName(const std::unordered_map<std::string, size_t>& byName) {
    char token[kMaxName + 3];
    if (!ReadToken(token, kMaxName + 2)) {
        Error("Can't read frame name");
        return -1;
    }
    const size_t length = std::strlen(token);
    if (length < 2 || token[0] != '[' || token[length - 1] != ']') return -1;
    const auto found = byName.find(std::string(token + 1, length - 2));
    return found == byName.end() ? -1 : int(found->second);
}

bool KMotionFileHtr::ReadAnimation(KStreamOptionsMotion& options) {
    if (mDataType != 0) return false;
    if (options.GetFrameCount() > mFrameCount) options.SetFrameCount(mFrameCount);
    const int frames = options.GetFrameCount();
    std::vector<bool> seen(mSegments.size(), false);
    // The first segment of each name, found without a pass over the segments per block.
    std::unordered_map<std::string, size_t> byName;
    for (size_t s = 0; s < mSegments.size(); ++s) byName.emplace(mSegments[s]->name, s);
    for (int i = 0; i < mSegmentCount; ++i) {
        if (i > 0 && !ReadLine()) return false;
        const int index = ReadFrameSectionName(byName);
        if (index < 0) return false;
        // A second block for one segment would leave another without frames.
        if (seen[size_t(index)]) return false;
        seen[size_t(index)] = true;
        KHtrSegment* segment = mSegments[size_t(index)].get();
        // The frames grow as lines are read: the header's count is never an allocation.
        segment->translations.clear();
        segment->rotations.clear();
        for (int f = 0; f < frames; ++f) {
            segment->translations.emplace_back();
            segment->rotations.emplace_back();
            if (!ReadLine() || !ReadFrame(*segment, f)) return false;
        }
        for (int f = frames; f < mFrameCount; ++f)
            if (!ReadLine()) return false;
    }
    return true;
}

bool KMotionFileHtr::ReadFrame(KHtrSegment& segment, int index) {
    int frame = 0;
    KVector4 t, r;
    double scale = 0.0;
    if (!ReadInt(frame) || !ReadVector(t, 1.0)) return !Error("Can't read frame translation");
    if (!ReadVector(r, 1.0)) return !Error("Can't read frame rotation");
    if (!ReadDouble(scale, 1.0)) return !Error("Can't read frame scaling");
    // A file's writer rounds a factor of 1 to its last digit (0.999999): no length change.
    if (!(std::fabs(scale - 1.0) <= kScaleNoise) && segment.scaledFrames++ == 0) {
        segment.firstScaledFrame = frame;
        segment.firstScale = scale;
    }
    segment.translations[size_t(index)] =
        t * (mLengthFactor / mScaleFactor) + segment.baseTranslation;
    if (!SceneNumbers(segment.translations[size_t(index)]))
        return !Error("Frame translation out of range");
    KMatrix rotation;
    KMatrixSetRotationOrdered(rotation, r * mAngleFactor, mOrder);
    // The frame's turn acts first, then the base rotation.
    KMatrixMultiply3x3(rotation, rotation, segment.baseRotation);
    segment.rotations[size_t(index)] = EulerXYZ(rotation);
    return true;
}

std::string KMotionFileHtr::GetScaleNote() const {
    int frames = 0, segments = 0;
    const KHtrSegment* first = nullptr;
    for (const auto& segment : mSegments) {
        if (segment->scaledFrames == 0) continue;
        frames += segment->scaledFrames;
        ++segments;
        if (!first) first = segment.get();
    }
    if (!first) return std::string();
    return "Segment scale factors other than 1 are not kept (each segment keeps its base "
           "length): " +
           std::to_string(frames) + (frames == 1 ? " frame" : " frames") + " of " +
           std::to_string(segments) + (segments == 1 ? " segment" : " segments") + ", first \"" +
           KQovMessageText(first->name) + "\" " + KDecimalText(first->firstScale) + " at frame " +
           std::to_string(first->firstScaledFrame) + "\n";
}

KHtrSegment* KMotionFileHtr::AddSegment(const char* name, const char* parentName) {
    mSegments.push_back(std::make_unique<KHtrSegment>());
    mSegments.back()->name = name;
    mSegments.back()->parentName = parentName ? parentName : "";
    return mSegments.back().get();
}

KHtrSegment* KMotionFileHtr::FindSegmentByNode(const KQovNode* node) const {
    for (const auto& segment : mSegments)
        if (node && segment->node == node) return segment.get();
    return nullptr;
}

KHtrSegment* KMotionFileHtr::FindSegment(const char* name) const {
    for (const auto& segment : mSegments)
        if (segment->name == name) return segment.get();
    return nullptr;
}

int KMotionFileHtr::FindRootSegment() const {
    // Parents by index through one table of names (the first segment of a name, as
    // FindSegment), so that a long chain costs no name search per step.
    std::unordered_map<std::string, size_t> byName;
    for (size_t i = 0; i < mSegments.size(); ++i) byName.emplace(mSegments[i]->name, i);
    constexpr size_t kNone = SIZE_MAX;
    std::vector<size_t> parents(mSegments.size(), kNone);
    int root = -1;
    for (size_t i = 0; i < mSegments.size(); ++i) {
        const auto at = byName.find(mSegments[i]->parentName);
        if (at != byName.end()) {
            parents[i] = at->second;
            continue;
        }
        if (root >= 0) return -1;
        root = int(i);
    }
    // Every chain of parents must reach the root: none may run into a cycle.
    enum : char { kUnseen, kOnPath, kDone };
    std::vector<char> state(mSegments.size(), kUnseen);
    std::vector<size_t> path;
    for (size_t i = 0; i < mSegments.size(); ++i) {
        path.clear();
        size_t s = i;
        while (s != kNone && state[s] == kUnseen) {
            state[s] = kOnPath;
            path.push_back(s);
            s = parents[s];
        }
        if (s != kNone && state[s] == kOnPath) return -1;
        for (size_t p : path) state[p] = kDone;
    }
    return root;
}

void KMotionFileHtr::WriteHeader(int segmentCount, int frameCount, int frameRate, int boneAxis) {
    Printf(0, "[Header]\nFileType HTR\nDataType HTRS\nFileVersion 1\n");
    Printf(0, "NumSegments %d\nNumFrames %d\nDataFrameRate %d\n", segmentCount, frameCount,
           frameRate);
    Printf(0, "EulerRotationOrder ZYX\nCalibrationUnits mm\nRotationUnits Degrees\n");
    Printf(0, "GlobalAxisofGravity Y\nBoneLengthAxis %c\nScaleFactor 1.0\n",
           "XYZ"[boneAxis == 0 || boneAxis == 2 ? boneAxis : 1]);
}

void KMotionFileHtr::WriteHierarchyBegin() {
    Printf(0, "[SegmentNames&Hierarchy]\n");
}

void KMotionFileHtr::WriteHierarchyLine(const char* name, const char* parentName) {
    Printf(0, "%s\t%s\n", name, parentName ? parentName : "GLOBAL");
}

void KMotionFileHtr::WriteBasePositionBegin() {
    Printf(0, "[BasePosition]\n");
}

void KMotionFileHtr::WriteBasePositionLine(const char* name, const KVector4& t, const KVector4& r,
                                           double length) {
    Printf(0, "%s\t%g\t%g\t%g\t%g\t%g\t%g\t%g\n", name, t[0], t[1], t[2], r[0], r[1], r[2], length);
}

void KMotionFileHtr::WriteFrameSectionBegin(const char* name) {
    Printf(0, "[%s]\n", name);
}

void KMotionFileHtr::WriteFrameLine(int frame, const KVector4& t, const KVector4& r) {
    Printf(0, "%d\t%g\t%g\t%g\t%g\t%g\t%g\t1.0\n", frame, t[0], t[1], t[2], r[0], r[1], r[2]);
}

void KMotionFileHtr::WriteEndOfFile() {
    Printf(0, "[EndOfFile]\n");
}

void KMotionFileHtr::WriteSegments(int frames, int frameRate, int boneAxis) {
    constexpr double kMillimetres = 10.0;
    WriteHeader(int(mSegments.size()), frames, frameRate, boneAxis);
    WriteHierarchyBegin();
    // A parent that names no segment is written as the global frame. One table of the names,
    // not a search per segment: a long chain must not cost its length squared.
    std::unordered_set<std::string_view> names;
    names.reserve(mSegments.size());
    for (const auto& s : mSegments) names.insert(s->name);
    for (const auto& s : mSegments)
        WriteHierarchyLine(s->name.c_str(),
                           names.count(s->parentName) ? s->parentName.c_str() : nullptr);
    WriteBasePositionBegin();
    for (const auto& s : mSegments)
        WriteBasePositionLine(s->name.c_str(), s->baseTranslation * kMillimetres,
                              EulerXYZ(s->baseRotation), s->boneLength * kMillimetres);
    for (const auto& s : mSegments) {
        WriteFrameSectionBegin(s->name.c_str());
        for (int f = 0; f < frames && size_t(f) < s->rotations.size(); ++f) {
            KMatrix local, frame;
            KMatrixSetRotationXYZ(local, s->rotations[size_t(f)]);
            // The frame's own turn: the local rotation with the base rotation taken off.
            KMatrixMultiplyTransposed3x3(frame, local, s->baseRotation);
            WriteFrameLine(f + 1, (s->translations[size_t(f)] - s->baseTranslation) * kMillimetres,
                           EulerXYZ(frame));
        }
    }
    WriteEndOfFile();
}

KQovNameTerms KMotionFileHtr::NameTerms() {
    // Names are tokens of their lines, of at most kMaxName bytes; "GLOBAL" is the root's
    // parent; a line beginning with a section's name in any case begins that section.
    KQovNameTerms terms;
    terms.format = "HTR";
    terms.maxLength = kMaxName;
    terms.leading = "#";
    terms.reserved = {"GLOBAL"};
    terms.startsWord = [](const std::string& name) { return IsSectionStart(name); };
    return terms;
}
