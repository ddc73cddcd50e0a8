#include "formats/motion/asf/KMotionFileAmc.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "formats/motion/KMotionSceneTools.h"
#include "formats/motion/KQovMotionTextIO.h"
#include "formats/motion/asf/KQovAsfScene.h"
#include "foundation/KLocale.h"
#include "foundation/KQuotedText.h"
#include "io/KStreamOptionsMotion.h"

namespace {

enum { kFormat, kSamplesPerSecond = 5, kFrameRange = 6, kOther = 9 };
KMotionKeyword gKeywords[] = {{":FORMAT", 0},
                              {":FULLY-SPECIFIED", 0},
                              {":DEGREES", 0},
                              {":ASF-FILE", 0},
                              {":ASF-PATH", 0},
                              {":SAMPLES-PER-SECOND", 0},
                              {":FRAME-RANGE", 0},
                              {":KEYFRAME-LIST", 0},
                              {":SMPTE", 0},
                              {":", 0},
                              {"", 0}};

constexpr double kInchesPerCentimetre = 0.39370078740157477;

}  // namespace

KMotionFileAmc::KMotionFileAmc(bool report)
    : KMotionFile("AMC", " \t, ()\r\n", "#", false, report) {}

bool KMotionFileAmc::AtFrameNumber() const {
    const char* p = SkipSeparators(GetLine());
    return p && (isdigit((unsigned char)p[0]) ||
                 ((p[0] == '-' || p[0] == '+') && isdigit((unsigned char)p[1])));
}

bool KMotionFileAmc::ReadFormatLine() {
    char word[64];
    if (ReadToken(word, 63) && CompareText(word, "FIRSTFRAME-INDEXED") == 0)
        return !Error("Unsupported DOF line format\n");
    return true;
}

bool KMotionFileAmc::ReadFrameNumber(int& frame) {
    double number = 0.0;
    if (!ReadDouble(number, 1.0) || !std::isfinite(number) || std::fabs(number) > 1e9)
        return false;
    frame = int(number);
    return true;
}

bool KMotionFileAmc::ReadOptions(KStreamOptionsMotion& options) {
    if (!Rewind()) return false;
    double rate = 0.0;
    int first = 0, last = -1, frames = 0;
    bool ranged = false;
    // Frames are counted by their numbers: a gap is frames without lines, a number given
    // twice one frame.
    int64_t firstNumber = 0, lastNumber = 0, blocks = 0;
    bool numbered = false;
    while (!IsAtEnd()) {
        const int keyword = ReadKeyword(gKeywords);
        if (keyword == kFormat) {
            if (!ReadFormatLine()) return false;
        } else if (keyword == kSamplesPerSecond) {
            ReadDouble(rate, 1.0);
        } else if (keyword == kFrameRange) {
            const char* p = GetPosition();
            if (sscanf(p, "%d-%d", &first, &last) == 2 && last >= first) ranged = true;
        } else if (keyword < 0) {
            if (!AtFrameNumber()) return false;
            int number = 0;
            if (ReadFrameNumber(number)) {
                if (!numbered) firstNumber = number;
                lastNumber = numbered ? std::max<int64_t>(lastNumber, number) : number;
                numbered = true;
                ++blocks;
            }
            while (ReadLine() && !AtFrameNumber()) {
            }
            continue;
        }
        ReadLine();
    }
    if (numbered) {
        // From the range's first frame, which the take starts at, else the file's first.
        // A range caps the frames; frames before its first are refused when read.
        const int64_t start = ranged ? first : firstNumber;
        const int64_t span = std::min<int64_t>(lastNumber, ranged ? last : lastNumber) - start + 1;
        // Every writer steps through every frame of the take: a few frames far apart must not
        // make a take of a billion.
        if (span > KMotionMaxKeys(blocks))
            return !Error("%lld frames span frames %lld to %lld, too sparse to read\n",
                          (long long)blocks, (long long)start, (long long)lastNumber);
        frames = int(std::max<int64_t>(span, 0));
    }
    mRateNote.clear();
    // A rate of 0 or below keeps the options' own; one whose frames cannot be kept reads at
    // the default rate, and says so.
    if (rate > 0.0)
        mRateNote = KMotionSetFileRate(options, rate, ranged ? first : 0, frames,
                                       ":SAMPLES-PER-SECOND " + KDecimalText(rate));
    options.SetStartTime(options.GetFramePeriod() * int64_t(ranged ? first : 0));
    options.SetFrameCount(frames);
    return true;
}

bool KMotionFileAmc::ReadFrames(KQovAsfScene& scene, const KStreamOptionsMotion& options) {
    const int wanted = options.GetFrameCount();
    for (KAsfBone* bone : scene.GetBones()) bone->keys.clear();
    const std::unordered_map<std::string, KAsfBone*> byName = scene.IndexBones();
    if (!Rewind()) return false;
    int read = 0;
    // Frame numbers count from the range's first frame, else from the file's first: that
    // frame is the take's first.
    bool ranged = false;
    int first = 0, last = -1, previous = 0;
    while (!IsAtEnd()) {
        const int keyword = ReadKeyword(gKeywords);
        if (keyword == kFormat && !ReadFormatLine()) return false;
        if (keyword == kFrameRange && read == 0) {
            ranged = sscanf(GetPosition(), "%d-%d", &first, &last) == 2 && last >= first;
            if (!ranged) first = 0;
        }
        if (keyword == kOther) {
            Warning("Ignoring unknown keyword (:%s)\n", KQovMessageText(GetPosition()).c_str());
            if (!ReadLine()) return !Error("Unexpected end of file\n");
            continue;
        }
        if (keyword >= 0) {
            ReadLine();
            continue;
        }
        int number = 0;
        if (!ReadFrameNumber(number)) return !Error("Unknown keyword\n");
        if (read == 0 && !ranged) first = number;
        // Before the take's first frame a sample has no place.
        if (number < first) return !Error("Frame %d lies before frame %d\n", number, first);
        if (int64_t(number) - first >= INT_MAX)
            return !Error("Frame %d lies too far from frame %d\n", number, first);
        if (read > 0 && number == previous) Warning("Frame %d given twice\n", number);
        if (wanted > 0 && int64_t(number) - first >= wanted) {
            if (ranged && number > last)
                Warning("Frame %d and those after it lie past the frame range %d-%d; not read\n",
                        number, first, last);
            return true;
        }
        ++read;
        previous = number;
        const int frame = int(int64_t(number) - first + 1);
        bool rootSeen = false;
        char name[KAsfBone::kMaxName + 1];
        while (ReadLine() && !AtFrameNumber()) {
            if (!ReadToken(name, KAsfBone::kMaxName)) continue;
            KAsfBone* bone = nullptr;
            if (strcmp(name, "root") == 0) {
                if (!rootSeen) bone = scene.mRoot.get();
                rootSeen = true;
            } else {
                const auto at = byName.find(name);
                if (at != byName.end()) bone = at->second;
            }
            if (!bone && strcmp(name, "root") != 0 &&
                std::find(scene.mRemoved.begin(), scene.mRemoved.end(), name) !=
                    scene.mRemoved.end())
                continue;
            if (!bone) return !Error("Unknown bone name (%s)\n", KQovMessageText(name).c_str());
            double values[KAsfBone::kMaxChannels] = {};
            int count = 0;
            double value;
            while (ReadDouble(value, 1.0))
                if (count < KAsfBone::kMaxChannels) values[count++] = value;
            // A short line would key the missing channels with values from nowhere.
            if (count < bone->channelCount)
                return !Error("Missing dof values (%s)\n", KQovMessageText(name).c_str());
            for (int i = 0; i < bone->channelCount; ++i) {
                values[i] *=
                    bone->channels[i] <= kAsfTz ? scene.GetLengthScale() : scene.mAngleFactor;
                // The skeleton's units may carry a value beyond what any curve holds.
                if (!KIsSceneNumber(values[i]))
                    return !Error("Dof value out of range (%s)\n", KQovMessageText(name).c_str());
            }
            KAsfKey key = bone->Pose(values, bone->channelCount);
            key.frame = frame;
            if (!bone->keys.empty() && bone->keys.back().frame >= frame) {
                if (bone->keys.back().frame > frame) return !Error("Frames out of order\n");
                // Two lines of one bone and frame are one sample, or no choice can be made.
                const KAsfKey& kept = bone->keys.back();
                if (!(kept.translation == key.translation && kept.rotation == key.rotation))
                    return !Error("Frame %d gives %s twice with other values\n", number,
                                  KQovMessageText(name).c_str());
            } else {
                bone->keys.push_back(key);
            }
        }
    }
    return true;
}

void KMotionFileAmc::WriteHeader(double rate, int firstFrame, int lastFrame, const char* skeleton) {
    if (skeleton) Printf(0, "#!OML:ASF %s\n", skeleton);
    if (rate >= 0.0) Printf(0, "%s %g\n", ":SAMPLES-PER-SECOND", rate);
    if (firstFrame >= 0) Printf(0, "%s %d-%d\n", ":FRAME-RANGE", firstFrame, lastFrame);
    Printf(0, "%s\n", ":FULLY-SPECIFIED");
    Printf(0, "%s\n", ":DEGREES");
}

void KMotionFileAmc::WriteFrame(const KQovAsfScene& scene, int frame) {
    const double toFile = scene.mLengthUnit * kInchesPerCentimetre;
    Printf(0, "%d\n", frame);
    for (const KAsfBone* bone : scene.GetBones()) {
        KAsfKey rest;
        rest.translation = bone->localTranslation;
        rest.rotation = bone->localRotation;
        const KAsfKey* key = bone->FindKey(frame);
        double values[KAsfBone::kMaxChannels];
        bone->Values(key ? *key : rest, values);
        Printf(0, "%s ", bone->name.c_str());
        for (int i = 0; i < bone->channelCount; ++i)
            Printf(0, " %g", bone->channels[i] <= kAsfTz ? values[i] * toFile : values[i]);
        Printf(0, "\n");
    }
}
