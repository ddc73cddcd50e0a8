#include "formats/motion/asf/KMotionFileAsf.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "formats/motion/asf/KQovAsfScene.h"
#include "foundation/KLocale.h"
#include "foundation/KQuotedText.h"
#include "io/KQovWrittenNames.h"

namespace {

enum { kVersion, kName, kUnits, kDocumentation, kRoot, kBoneData, kHierarchy, kSkin };
KMotionKeyword gSections[] = {
    {":version", 0}, {":name", 0},     {":units", 0},     {":documentation", 0},
    {":root", 0},    {":bonedata", 0}, {":hierarchy", 0}, {":skin", 0},
    {":", 0},        {"", 0}};
KMotionKeyword gUnits[] = {{"mass", 0}, {"length", 0}, {"angle", 0}, {"", 0}};
KMotionKeyword gAngleUnits[] = {{"deg", 0}, {"rad", 0}, {"", 0}};
KMotionKeyword gRoot[] = {{"axis", 0}, {"order", 0}, {"position", 0}, {"orientation", 0}, {"", 0}};
const char* const kAsfSeparators = " \t, ()\r\n";
KMotionKeyword gBlock[] = {{"begin", 0}, {"end", 0}, {"", 0}};
enum { kId, kBoneName, kDirection, kLength, kAxis, kDof, kLimits, kBodyMass, kCofMass };
KMotionKeyword gBone[] = {{"id", 0},  {"name", 0},   {"direction", 0}, {"length", 0},  {"axis", 0},
                          {"dof", 0}, {"limits", 0}, {"bodymass", 0},  {"cofmass", 0}, {"", 0}};
KMotionKeyword gOrders[] = {{"zyx", 0}, {"xzy", 0}, {"yxz", 0}, {"yzx", 0},
                            {"zxy", 0}, {"xyz", 0}, {"", 0}};
// The matrix library's codes for the axes in turning order, by the table above.
const int kOrderCodes[] = {10, 2, 6, 4, 8, 0};
KMotionKeyword gChannels[] = {{"tx", 0}, {"ty", 0}, {"tz", 0}, {"rz", 0},
                              {"ry", 0}, {"rx", 0}, {"l", 0},  {"", 0}};
const char* const kChannelWords[] = {"tx", "ty", "tz", "rz", "ry", "rx"};

constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kAsfInchesPerCentimetre = 0.39370078740157477;

}  // namespace

KMotionFileAsf::KMotionFileAsf(bool report)
    : KMotionFile("ASF", kAsfSeparators, "#", false, report) {}

int KMotionFileAsf::BlockWord(const char* text) {
    for (int i = 0; i < 2; ++i) {
        // A bone name may begin with the word ("Endeffector").
        const char* behind = MatchPrefix(text, gBlock[i].text);
        if (behind && (!*behind || IsCharInSet(kAsfSeparators, *behind))) return i;
    }
    return -1;
}

int KMotionFileAsf::OrderCode(int index) {
    return kOrderCodes[index];
}

bool KMotionFileAsf::AtSection() const {
    return *SkipSeparators(GetLine()) == ':';
}

bool KMotionFileAsf::SkipToSection() {
    while (ReadLine())
        if (AtSection()) return true;
    return false;
}

bool KMotionFileAsf::ReadSkeleton(KQovAsfScene& scene, bool restructure) {
    if (!Rewind()) return false;
    KMotionFile::ResetKeywordCounts(gSections);
    while (!IsAtEnd()) {
        bool ok = true;
        double version = 0.0;
        char word[KAsfBone::kMaxName + 1];
        switch (ReadKeyword(gSections)) {
            case kVersion:
                if (!ReadDouble(version, 1.0))
                    Warning("Can't read file format version (%s), trying version 1.10\n",
                            KQovMessageText(GetPosition()).c_str());
                else if (std::trunc(version * 100.0) != 110.0)  // any double the file gives
                    Warning("Bad File format version (%f), trying 1.10\n", version);
                ok = SkipToSection();
                break;
            case kName:
                if (ReadToken(word, KAsfBone::kMaxName)) {
                    scene.mName = word;
                } else {
                    scene.mName = "Untitled";
                    Warning("Can't read skeleton name, using \"%s\"\n", "Untitled");
                }
                ok = ReadUnits(scene);
                break;
            case kUnits:
                ok = ReadUnits(scene);
                break;
            case kDocumentation:
                ok = SkipToSection();
                break;
            case kRoot:
                ok = ReadRoot(scene);
                break;
            case kBoneData:
                ok = ReadBoneData(scene);
                break;
            case kHierarchy:
                ok = ReadHierarchy(scene);
                break;
            default:
                Warning("Ignoring unknown keyword (:%s)\n", KQovMessageText(GetPosition()).c_str());
                SkipToSection();
                break;
        }
        if (!ok) return false;
    }
    if (!scene.mRoot) return false;
    scene.CompleteFrames();
    if (restructure) scene.Restructure();
    return true;
}

bool KMotionFileAsf::ReadUnits(KQovAsfScene& scene) {
    while (ReadLine() && !AtSection()) {
        switch (ReadKeyword(gUnits)) {
            case 0:
                if (!ReadDouble(scene.mMassUnit, 1.0))
                    Warning("Can't read mass unit, using %f\n", scene.mMassUnit);
                break;
            case 1:
                if (!ReadDouble(scene.mLengthUnit, 1.0))
                    Warning("Can't read length unit, using %f\n", scene.mLengthUnit);
                break;
            case 2:
                switch (ReadKeyword(gAngleUnits)) {
                    case 0:
                        scene.mAngleFactor = 1.0;
                        break;
                    case 1:
                        scene.mAngleFactor = kDegreesPerRadian;
                        break;
                    default:
                        Warning("Unknown angle unit, using default (deg)\n");
                        scene.mAngleFactor = 1.0;
                }
                break;
            default:
                Warning("Unknown unit token\n");
        }
    }
    return !IsAtEnd();
}

bool KMotionFileAsf::ReadChannels(KAsfBone& bone, bool root) {
    int code;
    while ((code = ReadKeyword(gChannels)) >= 0) {
        if (code > kAsfRx) {
            if (root) break;
            Warning("Unknown degree of freedom (%s)\n", "l");
            continue;
        }
        if (bone.channelCount == KAsfBone::kMaxChannels) return !Error("Too many channels\n");
        bone.channels[bone.channelCount++] = code;
    }
    return true;
}

bool KMotionFileAsf::ReadRoot(KQovAsfScene& scene) {
    auto root = std::make_unique<KAsfBone>();
    root->name = "root";
    while (ReadLine() && !AtSection()) {
        int order;
        switch (ReadKeyword(gRoot)) {
            case 0:
                if ((order = ReadKeyword(gOrders)) < 0) return !Error("Unknown rotation order\n");
                root->axisOrder = kOrderCodes[order];
                break;
            case 1:
                root->channelCount = 0;
                if (!ReadChannels(*root, true)) return false;
                break;
            case 2:
                if (!ReadVector(root->boneVector, scene.GetLengthScale()))
                    Warning("Can't read position, using 0.0 0.0 0.0\n");
                break;
            case 3:
                if (!ReadVector(root->axisAngles, scene.mAngleFactor))
                    Warning("Can't read orientation, using 0.0 0.0 0.0\n");
                break;
            default:
                Warning("Unknown %s token (%s)\n", ":root", KQovMessageText(GetPosition()).c_str());
        }
    }
    root->SetAxis();
    scene.mRoot = std::move(root);
    return true;
}

bool KMotionFileAsf::ReadBoneData(KQovAsfScene& scene) {
    while (ReadLine() && !AtSection()) {
        switch (ReadKeyword(gBlock)) {
            case 0:
                if (!ReadBone(scene)) return false;
                break;
            case 1:
                break;
            default:
                Warning("Begin/End keyword expected\n");
        }
    }
    return true;
}

bool KMotionFileAsf::ReadBone(KQovAsfScene& scene) {
    // Bones hang under the root until the hierarchy places them.
    if (!scene.mRoot) return !Error("Bone data before the root\n");
    auto bone = std::make_unique<KAsfBone>();
    bool named = false, directed = false, measured = false;
    char word[KAsfBone::kMaxName + 1];
    while (ReadLine()) {
        if (AtSection()) return !Error("Unexpected end of bone\n");
        if (FindKeyword(gBlock) == 1) break;
        switch (ReadKeyword(gBone)) {
            case kId:
                if (!ReadInt(bone->id)) Warning("Can't read bone id value\n");
                break;
            case kBoneName:
                if (!ReadToken(word, KAsfBone::kMaxName)) return !Error("Can't read bone name\n");
                if (strcmp(word, "root") == 0) return !Error("Forbidden bone name\n");
                bone->name = word;
                named = true;
                break;
            case kDirection: {
                if (!ReadVector(bone->direction, 1.0)) return !Error("Can't read bone direction\n");
                const double length = KVectorLength3(bone->direction);
                if (length > 0.0) bone->direction /= length;
                directed = true;
                break;
            }
            case kLength:
                if (!ReadDouble(bone->length, scene.GetLengthScale()))
                    return !Error("Can't read bone length\n");
                measured = true;
                break;
            case kAxis: {
                if (!ReadVector(bone->axisAngles, scene.mAngleFactor))
                    return !Error("Can't read bone local coordinate system\n");
                const int order = ReadKeyword(gOrders);
                if (order < 0) return !Error("Unknown rotation order\n");
                bone->axisOrder = kOrderCodes[order];
                break;
            }
            case kDof:
                if (!ReadChannels(*bone, false)) return false;
                break;
            case kLimits:
                for (int i = 0; i < bone->channelCount; ++i) {
                    double pair[2];
                    if (!ReadDoublePair(pair, 1.0) &&
                        !(ReadLine() && !AtSection() && ReadDoublePair(pair, 1.0)))
                        return !Error("Can't read dof limits\n");
                }
                break;
            case kBodyMass:
            case kCofMass: {
                double value;
                if (!ReadDouble(value, 1.0)) Warning("Can't read mass value\n");
                break;
            }
            default:
                Warning("Unknown bonedata token\n");
        }
    }
    if (IsAtEnd()) return !Error("Unexpected end of file\n");
    if (!named) return !Error("Bone has no name\n");
    if (!directed) return !Error("Bone has no direction\n");
    if (!measured) return !Error("Bone has no length\n");
    bone->SetAxis();
    bone->parent = scene.mRoot.get();
    scene.mRoot->children.push_back(std::move(bone));
    return true;
}

bool KMotionFileAsf::ReadHierarchy(KQovAsfScene& scene) {
    // The lines only set parents; the children lists are rebuilt and checked for cycles once at
    // the end. Moving bones between lists and walking up for a cycle at every line would cost
    // the square of the bone count on a long chain.
    const std::vector<KAsfBone*> bones = scene.GetBones();
    const std::unordered_map<std::string, KAsfBone*> byName = scene.IndexBones();
    // When each bone joined its parent's list: its place in that list is by this order.
    std::unordered_map<const KAsfBone*, size_t> joined;
    for (size_t i = 0; i < bones.size(); ++i) joined[bones[i]] = i;
    size_t moves = bones.size();
    const auto restoreParents = [&bones] {
        for (KAsfBone* bone : bones)
            for (auto& child : bone->children) child->parent = bone;
    };
    const auto find = [&byName](const char* name) -> KAsfBone* {
        const auto at = byName.find(name);
        return at == byName.end() ? nullptr : at->second;
    };
    bool open = false;
    char word[KAsfBone::kMaxName + 1];
    while (ReadLine() && !AtSection()) {
        const int block = BlockWord(GetPosition());
        if (block == 0 || block == 1) {
            open = block == 0;
            continue;
        }
        if (!open) {
            Warning("Begin/End keyword expected\n");
            continue;
        }
        if (!ReadToken(word, KAsfBone::kMaxName)) {
            Warning("Can't read parent bone name\n");
            continue;
        }
        KAsfBone* parent = find(word);
        if (!parent) {
            restoreParents();
            return !Error("Unknown parent bone name (%s)\n", KQovMessageText(word).c_str());
        }
        while (ReadToken(word, KAsfBone::kMaxName)) {
            KAsfBone* child = find(word);
            if (!child) {
                restoreParents();
                return !Error("Unknown child bone name (%s)\n", KQovMessageText(word).c_str());
            }
            if (child->parent == parent) continue;
            child->parent = parent;
            joined[child] = moves++;
        }
    }
    // A bone may not become its own ancestor. Of several cycles the one closed first is named,
    // by the bone whose line closed it.
    std::unordered_map<const KAsfBone*, int> state;  // 1 on the current path, 2 done
    const KAsfBone* closing = nullptr;
    std::vector<const KAsfBone*> path;
    for (const KAsfBone* bone : bones) {
        path.clear();
        const KAsfBone* p = bone;
        while (p && state[p] == 0) {
            state[p] = 1;
            path.push_back(p);
            p = p->parent;
        }
        if (p && state[p] == 1) {
            const KAsfBone* last = p;
            for (const KAsfBone* q = p->parent; q != p; q = q->parent)
                if (joined[q] > joined[last]) last = q;
            if (!closing || joined[last] < joined[closing]) closing = last;
        }
        for (const KAsfBone* q : path) state[q] = 2;
    }
    if (closing) {
        restoreParents();
        return !Error("Cyclic hierarchy (%s)\n", KQovMessageText(closing->name).c_str());
    }
    // Every list rebuilt in joining order: the root's own bones stay in place, moved ones follow
    // in the order of their lines.
    std::vector<KAsfBone*> byJoin = bones;
    std::sort(byJoin.begin(), byJoin.end(),
              [&joined](const KAsfBone* a, const KAsfBone* b) { return joined[a] < joined[b]; });
    for (KAsfBone* bone : bones)
        for (auto& child : bone->children) (void)child.release();
    for (KAsfBone* bone : bones) bone->children.clear();
    for (KAsfBone* bone : byJoin)
        if (bone->parent) bone->parent->children.emplace_back(bone);
    return true;
}

void KMotionFileAsf::WriteSkeleton(const KQovAsfScene& scene) {
    const double toFile = scene.mLengthUnit * kAsfInchesPerCentimetre;
    Printf(0, "%s 1.10\n", ":version");
    Printf(0, "%s %s\n", ":name", scene.mName.c_str());
    Printf(0, "%s\n", ":units");
    Printf(1, "%s %g\n", "mass", 1.0);
    Printf(1, "%s %g\n", "length", scene.mLengthUnit);
    Printf(1, "%s %s\n", "angle", "deg");
    Printf(0, "%s\n", ":documentation");
    Printf(1, "%s\n", "ASF file generated by Varnoke");
    Printf(0, "%s\n", ":root");
    Printf(1, "%s %s\n", "axis", "xyz");
    Printf(1, "%s ", "order");
    const KAsfBone* root = scene.mRoot.get();
    for (int i = 0; root && i < root->channelCount; ++i)
        Printf(0, " %s", kChannelWords[root->channels[i]]);
    Printf(0, "\n");
    Printf(1, "%s %g %g %g\n", "position", 0.0, 0.0, 0.0);
    Printf(1, "%s %g %g %g\n", "orientation", 0.0, 0.0, 0.0);
    Printf(0, "%s\n", ":bonedata");
    const std::vector<KAsfBone*> bones = scene.GetBones();
    for (const KAsfBone* bone : bones) {
        if (!bone->parent) continue;
        KVector4 angles;
        KMatrixToEulerXYZ(angles, bone->axis);
        Printf(1, "%s\n", "begin");
        Printf(2, "%s %d\n", "id", bone->id);
        Printf(2, "%s %s\n", "name", bone->name.c_str());
        Printf(2, "%s %g %g %g\n", "direction", bone->direction[0], bone->direction[1],
               bone->direction[2]);
        Printf(2, "%s %g\n", "length", bone->length * toFile);
        Printf(2, "%s %g %g %g %s\n", "axis", angles[0], angles[1], angles[2], "xyz");
        if (bone->channelCount > 0) {
            Printf(2, "%s", "dof");
            for (int i = 0; i < bone->channelCount; ++i)
                Printf(0, " %s", kChannelWords[bone->channels[i]]);
            Printf(0, "\n");
        }
        Printf(1, "%s\n", "end");
    }
    Printf(0, "%s\n", ":hierarchy");
    Printf(1, "%s\n", "begin");
    for (const KAsfBone* bone : bones) {
        if (bone->children.empty()) continue;
        Printf(2, "%s", bone->name.c_str());
        for (const auto& child : bone->children) Printf(0, " %s", child->name.c_str());
        Printf(0, "\n");
    }
    Printf(1, "%s\n", "end");
}

KQovNameTerms KMotionFileAsf::NameTerms(const bool* parent) {
    // A name is one word of at most kMaxName bytes; a line beginning with '#' is a comment,
    // with ':' a keyword, with a digit (signed or not) an AMC frame number, with the word
    // "begin" or "end" (a parent's line of the hierarchy) a list's bound; "root" is the root
    // bone's.
    KQovNameTerms terms;
    terms.format = "ASF";
    terms.splitters = " \t,()\r\n";
    terms.splitReason =
        "the ASF reader ends a name at a blank, tab, comma, parenthesis or line break";
    terms.maxLength = KAsfBone::kMaxName;
    terms.leading = "#:0123456789";
    terms.reserved = {"root"};
    terms.startsWord = [parent](const std::string& name) {
        return (name.size() > 1 && (name[0] == '-' || name[0] == '+') && KIsDigit(name[1])) ||
               (*parent && BlockWord(name.c_str()) >= 0);
    };
    return terms;
}
