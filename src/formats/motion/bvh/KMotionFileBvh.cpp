#include "formats/motion/bvh/KMotionFileBvh.h"

#include <algorithm>
#include <cmath>

#include "animation/KEulerContinuity.h"
#include "formats/motion/KMotionSceneTools.h"
#include "foundation/KLocale.h"
#include "foundation/KMatrix.h"
#include "foundation/KTreeWalk.h"
#include "io/KStreamOptionsMotion.h"
#include "io/KQovWrittenNames.h"

namespace {

KMotionKeyword gSections[] = {{"HIERARCHY", 0}, {"MOTION", 0}, {"", 0}};
KMotionKeyword gRoot[] = {{"ROOT", 0}, {"", 0}};
enum { kOpen, kOffset, kChannels, kJoint, kEndSite, kClose };
KMotionKeyword gBody[] = {{"{", 0},        {"OFFSET", 0}, {"CHANNELS", 0}, {"JOINT", 0},
                          {"End Site", 0}, {"}", 0},      {"", 0}};
KMotionKeyword gChannels[] = {{"Xposition", 0}, {"Yposition", 0}, {"Zposition", 0},
                              {"Xrotation", 0}, {"Yrotation", 0}, {"Zrotation", 0},
                              {"", 0}};
KMotionKeyword gFrames[] = {{"Frames:", 0}, {"", 0}};
KMotionKeyword gFrameTime[] = {{"Frame Time:", 0}, {"", 0}};

// Deeper trees are refused rather than recursed into.
constexpr int kMaxDepth = 256;
// Written offsets this close to zero are written as zero.
constexpr double kZeroOffset = 1e-05;

}  // namespace

KMotionFileBvh::KMotionFileBvh(bool report)
    : KMotionFile("BioVision", " \t\r\n", "", false, report) {}

bool KMotionFileBvh::NextLineIs(KMotionKeyword* table, int index) {
    return ReadLine() && ReadKeyword(table) == index;
}

bool KMotionFileBvh::ReadHierarchy() {
    mLongFrameLines = 0;
    if (!Rewind()) return false;
    while (!IsAtEnd()) {
        switch (ReadKeyword(gSections)) {
            case 0:
                mJoints.clear();
                mValueCount = 0;
                if (!ReadLine() || ReadKeyword(gRoot) != 0) return false;
                if (!ReadJoint(nullptr)) return false;
                if (!ReadLine()) return false;
                break;
            case 1:
                return !mJoints.empty() && ReadLine() && ReadMotionHeader(nullptr);
            default:
                return false;
        }
    }
    return false;
}

bool KMotionFileBvh::ReadJoint(KBvhJoint* parent) {
    int depth = 0;
    for (KBvhJoint* p = parent; p; p = p->parent) ++depth;
    if (depth >= kMaxDepth) {
        Error("Hierarchy too deep\n");
        return false;
    }
    // The name is the rest of the line: a blank inside it belongs to it.
    std::string name = SkipSeparators(GetPosition());
    name.resize(name.find_last_not_of(" \t\r\n") + 1);
    if (name.empty()) return false;
    for (char c; GetChar(c);) {
    }
    KBvhJoint* joint = AddJoint(parent, name.c_str(), false);
    if (!NextLineIs(gBody, kOpen) || !NextLineIs(gBody, kOffset) || !ReadOffset(*joint) ||
        !NextLineIs(gBody, kChannels) || !ReadChannels(*joint))
        return false;
    while (ReadLine()) {
        switch (ReadKeyword(gBody)) {
            case kJoint:
                if (!ReadJoint(joint)) return false;
                break;
            case kEndSite:
                if (!ReadEndSite(joint)) return false;
                break;
            case kClose:
                return true;
            default:
                return false;
        }
    }
    return false;
}

bool KMotionFileBvh::ReadEndSite(KBvhJoint* parent) {
    KBvhJoint* joint = AddJoint(parent, "End", true);
    return NextLineIs(gBody, kOpen) && NextLineIs(gBody, kOffset) && ReadOffset(*joint) &&
           NextLineIs(gBody, kClose);
}

bool KMotionFileBvh::ReadOffset(KBvhJoint& joint) {
    return ReadVector(joint.offset, 1.0);
}

bool KMotionFileBvh::ReadChannels(KBvhJoint& joint) {
    int count = 0;
    // The record holds six channels: anything else is a broken file.
    if (!ReadInt(count) || count < 0 || count > KBvhJoint::kMaxChannels) return false;
    for (int i = 0; i < count; ++i) {
        const int code = ReadKeyword(gChannels);
        if (code < 0) return false;
        // A position given twice would keep only its last value; turns about one axis
        // twice are two turns.
        if (code < kBvhXRotation && std::count(joint.channels, joint.channels + i, code) > 0)
            return !Error("Channel %s given twice\n", gChannels[code].text);
        joint.channels[i] = code;
    }
    joint.channelCount = count;
    joint.firstValue = mValueCount;
    mValueCount += count;
    return true;
}

KBvhJoint* KMotionFileBvh::AddJoint(KBvhJoint* parent, const char* name, bool endSite) {
    if (!parent) mJoints.clear();
    mJoints.push_back(std::make_unique<KBvhJoint>());
    KBvhJoint* joint = mJoints.back().get();
    joint->name = name;
    joint->endSite = endSite;
    joint->parent = parent;
    if (parent) parent->children.push_back(joint);
    return joint;
}

bool KMotionFileBvh::ReadOptions(KStreamOptionsMotion& options) {
    if (!Rewind()) return false;
    // The hierarchy comes first: anything else is not this format, and an endless file of
    // anything else must not be scanned for the motion section.
    if (FindKeyword(gSections) != 0) return !Error("HIERARCHY expected\n");
    do {
        if (ReadKeyword(gSections) == 1) {
            if (!ReadLine() || !ReadMotionHeader(&options)) return false;
            options.SetSetting(8, 1);
            return true;
        }
    } while (ReadLine());
    return false;
}

bool KMotionFileBvh::ReadMotionHeader(KStreamOptionsMotion* options) {
    int frames = 0;
    if (ReadKeyword(gFrames) != 0 || !ReadInt(frames)) return false;
    double frameTime = 0.0;
    if (!NextLineIs(gFrameTime, 0) || !ReadDouble(frameTime, 1.0)) return false;
    mFrameCount = frames < 0 ? 0 : frames;
    mRateNote.clear();
    if (frameTime > 0.0 && std::isfinite(frameTime)) {
        const double rate = 1.0 / frameTime;
        double whole = std::floor(rate);
        if (rate - whole > 0.5) whole += 1.0;
        // Below one frame a second the whole number is 0 or 1 (two seconds a frame would read
        // as the default rate): the rate is kept as it is, unless it cannot be kept, which is
        // told.
        if (rate < 1.0) whole = rate;
        if (options)
            mRateNote = KMotionSetFileRate(*options, whole, 0.0, mFrameCount,
                                           "Frame Time " + KDecimalText(frameTime) + " s");
        mFrameTime = frameTime;
    } else if (options) {
        // No rate at all: the default is taken, and said.
        mFrameTime = 1.0 / options->GetFrameRate();
        mRateNote = "Frame Time " + KDecimalText(frameTime) + " s is not a rate; read at " +
                    KDecimalText(options->GetFrameRate()) + " frames a second\n";
    }
    if (options) options->SetFrameCount(mFrameCount);
    ReadLine();
    return true;
}

bool KMotionFileBvh::ReadFrame(bool first) {
    if (!first && !ReadLine()) return false;
    if (IsAtEnd()) return false;
    mValues.resize(size_t(mValueCount));
    for (double& v : mValues)
        if (!ReadDouble(v, 1.0)) return false;
    char rest;
    if (PeekChar(rest) && mLongFrameLines++ == 0)
        Warning("Frame line holds more numbers than the channels (%d); the rest of it is not read\n",
                mValueCount);
    for (const auto& owned : mJoints) {
        KBvhJoint& joint = *owned;
        if (joint.endSite) continue;
        joint.translation.Set(joint.offset[0], joint.offset[1], joint.offset[2], 0.0);
        KMatrix rotation;
        for (int i = 0; i < joint.channelCount; ++i) {
            const double value = mValues[size_t(joint.firstValue + i)];
            const int code = joint.channels[i];
            if (code < kBvhXRotation) {
                joint.translation[code] = value;
                continue;
            }
            KMatrix axis;
            KVector4 angles;
            angles[code - kBvhXRotation] = value;
            KMatrixSetRotationXYZ(axis, angles);
            // The last listed channel turns a vector first.
            KMatrixMultiply3x3(rotation, axis, rotation);
        }
        KVector4 euler;
        KMatrixToEulerXYZ(euler, rotation);
        joint.rotation = euler;
        if (!first)
            KRotationOrderClosestEquivalent(kRotationOrderXYZ, joint.rotation, euler,
                                            joint.previousRotation);
        joint.previousRotation = joint.rotation;
    }
    return true;
}

void KMotionFileBvh::WarnUnreadValues(int read) {
    // Said at the last frame line read.
    if (mLongFrameLines > 1)
        Warning("%d frame lines in all held more numbers than the channels (%d)\n", mLongFrameLines,
                mValueCount);
    // The first frame line is current once the header is read; a later one is read first, and
    // one too long there leaves the frames read whole.
    if (read == 0 ? !IsAtEnd() : ReadLineAhead())
        Warning("Frames: %d, but more frame lines follow; this one and those after it are not "
                "read\n",
                mFrameCount);
}

void KMotionFileBvh::WriteHierarchy(bool (*translate)(const KBvhJoint&)) {
    if (mJoints.empty()) return;
    Printf(0, "%s\n", "HIERARCHY");
    WriteJoint(*mJoints.front(), 0, translate);
}

void KMotionFileBvh::WriteJoint(KBvhJoint& top, int indent, bool (*translate)(const KBvhJoint&)) {
    // Depth first on a stack of our own: a deep skeleton must not recurse.
    const auto enter = [&](KBvhJoint* joint, int depth) {
        const int at = indent + depth;
        double offset[3];
        for (int i = 0; i < 3; ++i)
            offset[i] = std::fabs(joint->offset[i]) <= kZeroOffset ? 0.0 : joint->offset[i];
        if (joint->endSite) {
            Printf(at, "%s\n", "End Site");
        } else {
            Printf(at, "%s %s\n", joint->parent ? "JOINT" : "ROOT", joint->name.c_str());
        }
        Printf(at, "%s\n", "{");
        Printf(at + 1, "%s %g %g %g\n", "OFFSET", offset[0], offset[1], offset[2]);
        if (joint->endSite) return false;
        static const int kWritten[] = {kBvhXPosition, kBvhYPosition, kBvhZPosition,
                                       kBvhZRotation, kBvhXRotation, kBvhYRotation};
        const bool six = !joint->parent || translate(*joint);
        joint->channelCount = six ? 6 : 3;
        for (int i = 0; i < joint->channelCount; ++i)
            joint->channels[i] = kWritten[i + (six ? 0 : 3)];
        if (six)
            Printf(at + 1, "%s 6 %s %s %s %s %s %s\n", "CHANNELS", "Xposition", "Yposition",
                   "Zposition", "Zrotation", "Xrotation", "Yrotation");
        else
            Printf(at + 1, "%s 3 %s %s %s\n", "CHANNELS", "Zrotation", "Xrotation",
                   "Yrotation");
        return true;
    };
    const auto leave = [&](KBvhJoint*, int depth) { Printf(indent + depth, "%s\n", "}"); };
    KWalkTree(
        &top, [](KBvhJoint* joint) { return int(joint->children.size()); },
        [](KBvhJoint* joint, int i) { return joint->children[size_t(i)]; }, enter, leave);
}

void KMotionFileBvh::WriteMotionHeader(int frameCount, double frameTime) {
    Printf(0, "%s\n", "MOTION");
    Printf(0, "%s\t%d\n", "Frames:", frameCount);
    Printf(0, "%s\t%g\n", "Frame Time:", frameTime);
}

void KMotionFileBvh::WriteFrame() {
    for (const auto& owned : mJoints) {
        const KBvhJoint& joint = *owned;
        if (joint.endSite) continue;
        KMatrix rotation;
        KMatrixSetRotationXYZ(rotation, joint.rotation);
        // Y turns first, then X, then Z: the order of the written Z X Y channels.
        KVector4 yxz;
        KMatrixToEuler(yxz, rotation, 6);
        if (joint.channelCount == 6)
            Printf(0, "%g %g %g ", joint.translation[0], joint.translation[1],
                   joint.translation[2]);
        Printf(0, "%g %g %g ", yxz[2], yxz[1], yxz[0]);
    }
    Printf(0, "\n");
}

KQovNameTerms KMotionFileBvh::NameTerms() {
    // The reader takes a name to the end of its line, blanks and all; a tab or a line break
    // in it would break the line, and a blank other readers end a name at.
    KQovNameTerms terms;
    terms.format = "BVH";
    terms.splitReason = "a BVH name ends at a blank or tab in most readers";
    return terms;
}
