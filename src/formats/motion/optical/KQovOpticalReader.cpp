#include "formats/motion/optical/KQovOpticalReader.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "animation/KFCurve.h"
#include "animation/KFCurveFilterConstantKeyReducer.h"
#include "animation/KFCurveSettings.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovMarker.h"
#include "formats/motion/KMotionSceneTools.h"
#include "formats/motion/KUniqueNameTable.h"
#include "foundation/KFileStream.h"
#include "foundation/KLocale.h"
#include "foundation/KPath.h"
#include "foundation/KQuotedText.h"
#include "foundation/KTextLineReader.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovOpticalReference.h"
#include "scene/KQovScene.h"
#include "scene/KQovTakeInfo.h"

namespace {

constexpr uint32_t kTangentMode = 0x100;
constexpr float kThird = 0.33333334f;

// An unseen sample takes the marker's position in the previous frame.
void FillOccludedFromPrevious(KMarkerFrame& frame, const KMarkerFrame& previous) {
    for (size_t k = 0; k < frame.size() && k < previous.size(); ++k)
        if (frame[k][3] == 1.0)
            for (int a = 0; a < 3; ++a) frame[k][a] = previous[k][a];
}

}  // namespace

KQovOpticalReader::KQovOpticalReader(KQovObjectManager* manager) : KQovReader(manager) {}

KQovOpticalReader::~KQovOpticalReader() = default;

bool KQovOpticalReader::Fail(int error, const std::string& what) {
    // A read that failed stopped the reading: that, not what was left, is the cause.
    if (mFile && mFile->GetReadError()) {
        mError.SetErrorWithText(
            eFileNotOpened, KReadFileError(mFileName.Buffer(), mFile->GetReadError()).c_str());
        return false;
    }
    mError.SetError(error);
    if (what.empty()) return false;
    std::string text = std::string(mError.GetErrorText()) + ": " + what;
    const std::string where = mFile ? mFile->GetLocation() : std::string();
    if (!where.empty()) text += " (" + where + ")";
    mError.SetErrorWithText(error, text.c_str());
    return false;
}

bool KQovOpticalReader::FileOpen(const char* fileName) {
    if (mFile) FileClose();
    mFile = fileName ? CreateMotionFile(fileName) : nullptr;
    if (!mFile) {
        mError.SetErrorWithText(eFileNotOpened, KOpenForReadError(fileName).c_str());
        return false;
    }
    // Wide text would read as an empty or broken file: refused for what it is.
    int headError = 0;
    const bool wide = IsTextFormat() && KTextLineReader::IsWideTextFile(fileName, &headError);
    if (wide || headError || mFile->GetReadError()) {
        const int error = headError ? headError : mFile->GetReadError();
        mFile.reset();
        mError.SetErrorWithText(wide ? eFileCorrupted : eFileNotOpened,
                                wide ? KTextLineReader::kWideTextMessage
                                     : KReadFileError(fileName, error).c_str());
        return false;
    }
    mFileName = fileName;
    return true;
}

bool KQovOpticalReader::FileClose() {
    if (!mFile) return Fail(eFileNotOpened);
    mFile.reset();
    mFileName = "";
    return true;
}

KStreamOptions* KQovOpticalReader::GetReadOptions(bool) {
    if (!mFile) {
        Fail(eFileNotOpened);
        return nullptr;
    }
    KMarkerFileInfo info;
    if (!mFile->GetInfo(info) || mFile->GetReadError()) {
        Fail(eFileCorrupted, "the header cannot be read");
        return nullptr;
    }
    KStreamOptionsMotion* options = KStreamOptionsMotion::Create();
    options->SetFrameCount(info.frameCount);
    const std::string note =
        KMotionSetFileRate(*options, info.frameRate, info.firstFrame, info.frameCount,
                           "The frame rate " + KDecimalText(info.frameRate));
    KTime start = info.start;
    // The first frame's number is kept at the rate read instead.
    if (!note.empty()) start.SetSecondDouble(info.firstFrame / options->GetFrameRate());
    options->SetStartTime(start);
    mStatus += note.c_str();
    InitOptions(*options);
    return options;
}

void KQovOpticalReader::MakeNamesUnique(std::vector<std::string>& names, KStreamOptionsMotion& options) {
    // One warning line per label changed, each with its reason; past a few, a count.
    constexpr int kToldOne = 20;
    KUniqueNameTable table;
    std::unordered_set<std::string> stored;  // as stored, letter case kept
    std::unordered_set<std::string> folded;  // the same, letter case aside
    int told = 0;
    auto tell = [&](const std::string& text) {
        if (++told <= kToldOne) options.Message("Warning", text.c_str(), "Ok");
    };
    for (const std::string& name : names) table.SetAside(name.c_str());
    for (size_t i = 0; i < names.size(); ++i) {
        const char* made = table.Add(names[i].c_str(), int32_t(i + 1));
        if (!made) continue;
        size_t suffix = 0;
        const std::string plain = KUniqueNameTable::SplitName(names[i].c_str(), suffix);
        if (names[i] != made) {
            std::string why;
            if (names[i].size() > KUniqueNameTable::kMaxNameLength)
                why = KFormatC("a label keeps %zu bytes", KUniqueNameTable::kMaxNameLength);
            else if (plain != names[i])
                why = plain == "Default" && names[i].find_first_not_of(' ') == std::string::npos
                          ? "a label is never blank"
                          : "blanks around a label are dropped";
            if (plain != made)
                why += std::string(why.empty() ? "" : "; ") +
                       (stored.count(plain)   ? "an earlier label has that name"
                        : folded.count(KNameNumbers::Folded(plain))
                            ? "an earlier label reads the same, letter case aside"
                            : "a later label has that name");
            tell("Label \"" + KQovMessageText(names[i].substr(0, 40)) +
                 (names[i].size() > 40 ? "..." : "") + "\" read as \"" +
                 KQovMessageText(std::string(made).substr(0, 40)) +
                 (std::strlen(made) > 40 ? "..." : "") + "\": " + why);
        }
        stored.insert(made);
        folded.insert(KNameNumbers::Folded(made));
        names[i] = made;
    }
    if (told > kToldOne)
        options.Message("Warning", KFormatC("%d more labels read renamed", told - kToldOne).c_str(),
                        "Ok");
}

bool KQovOpticalReader::Read(KQovScene* scene, KStreamOptions* base) {
    if (!mFile) return Fail(eFileNotOpened);
    if (!scene || !base || !base->IsA(KStreamOptionsMotion::ClassId())) return Fail(eStreamOptionsNotSet);
    auto& options = static_cast<KStreamOptionsMotion&>(*base);
    KMarkerFileInfo info;
    if (!mFile->GetInfo(info) || mFile->GetReadError())
        return Fail(eFileCorrupted, "the header cannot be read");
    const int m = info.markerCount;
    if (options.GetFrameCount() > info.frameCount) options.SetFrameCount(info.frameCount);
    const KTime start = options.GetStartTime();
    const int n = options.GetFrameCount();
    const KTime period = options.GetFramePeriod();
    const KTime stop = n > 0 ? start + period * int64_t(n - 1) : start;
    const KString take = KMotionTakeName(mFileName, mStatus);
    mStatus += info.note.c_str();
    if (m == 0) {
        // Nothing to read; the take still tells how long the file runs and at what rate.
        mStatus += IsTextFormat()
                       ? "No marker read: the file holds none\n"
                       : "No marker read: the file holds no points (analog channels are not read)\n";
        StoreTake(scene, options, take, start, stop);
        return true;
    }

    // Markers without a frame would be written at the origin: no frame read, none written (a
    // caller may still ask for none of those a file holds).
    if (info.frameCount <= 0) return Fail(eFileCorrupted, "no frame was read: the file holds none");

    std::vector<std::string> names(static_cast<size_t>(m));
    if (!mFile->GetMarkerNames(names, options.GetSetting(7) == 1))
        return Fail(eFileCorrupted, "the marker names cannot be read");
    if (options.GetSetting(17) == 1) MakeNamesUnique(names, options);

    // Frames are kept as they arrive: the header's count is a claim, not a size to allocate.
    std::vector<KMarkerFrame> frames;
    int extra = 0, counter = 0;
    for (int i = 0; i < n; ++i) {
        options.Progress(0, "Reading animation frames", float(i * 50.0 / n));
        frames.emplace_back();
        KTime time;
        if (!mFile->ReadFrame(frames.back(), m, time, counter, period, options.GetSetting(5) == 1))
            return Fail(eFileCorrupted, "frame " + std::to_string(i + 1) + " cannot be read");
        extra = std::max(extra, int(frames.back().size()) - m);
        if (i > 0 && options.GetSetting(6) == 1) FillOccludedFromPrevious(frames[size_t(i)], frames[size_t(i) - 1]);
    }
    if (!mFile->EndRead() || mFile->GetReadError())
        return Fail(eFileCorrupted, "the end of the file cannot be read");

    std::vector<KQovNode*> nodes = CreateMarkerNodes(names, extra);
    KString refused;
    KQovNode* root = CreateOpticalRoot(options, scene, nodes, refused);
    if (!root) {
        // The clashing names are the reason, not a damaged file: the caller shows them.
        mError.SetErrorWithText(eFileCorrupted, refused.Buffer());
        return false;
    }
    LoadFramesIntoCurves(options, nodes, take, frames, info.scale);
    StoreTake(scene, options, take, start, stop);
    return true;
}

void KQovOpticalReader::StoreTake(KQovScene* scene, const KStreamOptionsMotion& options,
                                  const KString& take, KTime start, KTime stop) {
    KQovTakeInfo takeInfo;
    takeInfo.name = take;
    takeInfo.localTimeSpan.Set(start, stop);
    takeInfo.referenceTimeSpan.Set(start, stop);
    scene->SetTakeInfo(takeInfo);
    scene->SetCurrentTake(take.Buffer());
    if (options.GetTimeMode() != 0) scene->GetGlobalTimeSettings().SetTimeMode(options.GetTimeMode());
}

std::vector<KQovNode*> KQovOpticalReader::CreateMarkerNodes(const std::vector<std::string>& names, int extra) {
    std::vector<KQovNode*> nodes;
    auto add = [&](const std::string& name) {
        KQovNode* node = mManager->CreateNode(name.c_str());
        KQovMarker* marker = mManager->CreateMarker();
        marker->SetType(KQovMarker::eOptical);
        node->SetNodeAttribute(marker);
        nodes.push_back(node);
    };
    for (const std::string& name : names) add(name);
    for (int k = 0; k < extra; ++k) add("*Unnamed_" + std::to_string(names.size() + size_t(k) + 1));
    return nodes;
}

KQovNode* KQovOpticalReader::CreateOpticalRoot(KStreamOptionsMotion& options, KQovScene* scene,
                                               const std::vector<KQovNode*>& nodes,
                                               KString& refused) {
    const KString name = mPrefix + (options.GetSetting(4) == 1 ? ":optical" : ":reference");
    KQovNode* root = mManager->CreateNode(name.Buffer());
    root->SetNodeAttribute(mManager->CreateOpticalReference());
    for (KQovNode* node : nodes) root->AddChild(node);
    KString message = KString("Duplicate names found in ") +
                      KQovMessageText(KExtractFileName(mFileName.Buffer(), true).Buffer()).c_str() +
                      ":";
    if (!CheckDuplicateNames(root, message)) {
        options.Message("Error", message.Buffer(), "Ok");
        refused = message;
        // The refused root goes with its marker nodes: nothing is left behind unattached.
        mManager->DestroyNode(root, true);
        return nullptr;
    }
    scene->GetRootNode()->AddChild(root);
    return root;
}

void KQovOpticalReader::LoadFramesIntoCurves(KStreamOptionsMotion& options, const std::vector<KQovNode*>& nodes,
                                             const KString& take, std::vector<KMarkerFrame>& frames,
                                             double scale) {
    const KTime start = options.GetStartTime(), period = options.GetFramePeriod();
    const int n = int(frames.size());
    for (size_t k = 0; k < nodes.size(); ++k) {
        options.Progress(0, "Loading animation frames in nodes", float(k * 50.0 / nodes.size() + 50.0));
        KQovNode* node = nodes[k];
        node->AddTakeNode(take.Buffer());
        node->SetCurrentTakeNode(take.Buffer());
        KQovTakeNode* takeNode = node->GetCurrentTakeNode();
        KFCurve* curves[4] = {takeNode->GetTranslationX(), takeNode->GetTranslationY(),
                              takeNode->GetTranslationZ(), takeNode->GetOcclusion()};
        if (!curves[0] || !curves[1] || !curves[2] || !curves[3]) continue;
        for (KFCurve* curve : curves) curve->PrepareKeys(n);
        for (int j = 0; j < n; ++j) {
            const KTime time = start + period * int64_t(j);
            KVector4 record(0.0, 0.0, 0.0, 1.0);
            if (k < frames[size_t(j)].size()) {
                KVector4& r = frames[size_t(j)][k];
                for (int a = 0; a < 3; ++a) r[a] *= scale;
                record = r;
            }
            for (int a = 0; a < 3; ++a)
                curves[a]->KeySet(j, time, float(record[a]), KFCURVE_INTERPOLATION_CUBIC, kTangentMode, 0.0f,
                                  0.0f, KFCURVE_WEIGHTED_NONE, kThird, kThird);
            curves[3]->KeySet(j, time, float(record[3]), KFCURVE_INTERPOLATION_CONSTANT, kTangentMode, 0.0f, 0.0f,
                              KFCURVE_WEIGHTED_NONE, kThird, kThird);
        }
        for (KFCurve* curve : curves) curve->CommitKeys(n);
        if (GetApplyConstantKeyReducer()) {
            KFCurveFilterConstantKeyReducer reducer;
            // A still marker left keyless would fall back to the origin.
            reducer.SetKeepFirstKey(true);
            reducer.Apply(curves, 3);
            reducer.Apply(&curves[3], 1);
        }
    }
}
