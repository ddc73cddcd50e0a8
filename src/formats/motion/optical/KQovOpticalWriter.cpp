#include "formats/motion/optical/KQovOpticalWriter.h"

#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "foundation/KMatrix.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"
#include "scene/KQovOpticalReference.h"
#include "scene/KQovScene.h"

namespace {

void CollectMarkedNodes(KQovNode* node, std::vector<KQovNode*>& out) {
    if (node->IsMarked() && !node->GetOpticalReference()) out.push_back(node);
    for (int i = 0; KQovNode* child = node->GetChild(i); ++i) CollectMarkedNodes(child, out);
}

// The root's own transform never enters the positions: they are relative to it.
void PrepareEvaluation(KQovNode* root) {
    root->SetEvaluatedGlobalMatrix(KMatrix());
    root->SetEvaluationId(0, true);
    root->SetEvaluationId(1, false);
}

KVector4 Sample(KQovNode* node, KTime time, bool noOcclusion) {
    node->EvaluateGlobalMatrix(1, false);
    const KMatrix& m = node->GetEvaluatedGlobalMatrix();
    double occlusion = 0.0;
    KQovTakeNode* take = node->GetCurrentTakeNode();
    KFCurve* curve = take && !noOcclusion ? take->GetOcclusion() : nullptr;
    if (curve && curve->Evaluate(time) > 0.5) occlusion = 1.0;
    return KVector4(m[3][0], m[3][1], m[3][2], occlusion);
}

}  // namespace

KQovOpticalWriter::KQovOpticalWriter(KQovObjectManager* manager) : KQovWriter(manager) {}

KQovOpticalWriter::~KQovOpticalWriter() = default;

bool KQovOpticalWriter::Fail(int error, const char* text) {
    if (text)
        mError.SetErrorWithText(error, text);
    else
        mError.SetError(error);
    return false;
}

bool KQovOpticalWriter::FileCreate(const char* fileName) {
    // An open file is closed first, so that it is never leaked or left half written.
    mFile.reset();
    mFile = fileName ? CreateMotionFile(fileName) : nullptr;
    if (!mFile) {
        const std::string text = std::string("Cannot open file \"") + (fileName ? fileName : "") + "\" for writing.";
        return Fail(eFileNotOpened, text.c_str());
    }
    return true;
}

bool KQovOpticalWriter::FileClose() {
    if (!mFile) return Fail(eFileNotOpened);
    const bool ok = mFile->Close() == 0;
    mFile.reset();
    return ok || Fail(eOutOfDiskSpace);
}

KStreamOptions* KQovOpticalWriter::GetWriteOptions() {
    KStreamOptionsMotion* options = KStreamOptionsMotion::Create();
    InitOptions(*options);
    return options;
}

bool KQovOpticalWriter::Write(KQovScene* scene, KStreamOptions* base) {
    if (!mFile) return Fail(eFileNotOpened);
    if (!scene || !base || !base->IsA(KStreamOptionsMotion::ClassId())) return Fail(eStreamOptionsNotSet);
    auto& options = static_cast<KStreamOptionsMotion&>(*base);
    KQovNode* root = options.GetSetting(13) == 1 ? nullptr : FindSingleChildRoot(scene);
    if (!root) root = scene->GetRootNode();

    root->ConvertPivotAnimation(0, options.GetFrameRate(), false);
    std::vector<KQovNode*> nodes;
    CollectMarkedNodes(root, nodes);
    std::vector<std::string> names;
    for (KQovNode* node : nodes) {
        const std::string full = node->GetName();
        names.push_back(full.substr(full.rfind(':') == std::string::npos ? 0 : full.rfind(':') + 1));
    }

    KMarkerFileInfo info;
    info.markerCount = int(nodes.size());
    info.start = options.GetStartTime();
    info.frameCount = options.GetFrameCount();
    info.frameRate = options.GetFrameRate();
    info.scale = options.GetSetting(12) == 1 ? -1.0 : 1.0;
    const bool noOcclusion = options.GetSetting(11) == 1;
    const KTime period = options.GetFramePeriod();
    bool ok = mFile->WriteHeader(info) && mFile->WriteMarkerNames(names);
    KTime time = info.start;
    KMarkerFrame records(nodes.size());
    for (int f = 1; ok && f <= info.frameCount; ++f, time += period) {
        options.Progress(0, "Writing animation frames", float(f * 100.0 / info.frameCount));
        root->EvaluateLocalMatrix(time, true);
        PrepareEvaluation(root);
        for (size_t k = 0; k < nodes.size(); ++k) records[k] = Sample(nodes[k], time, noOcclusion);
        ok = mFile->WriteFrame(records, time, f);
    }
    // A disk that refused the data is reported, never taken for success.
    return (mFile->EndWrite() && ok) || Fail(eOutOfDiskSpace);
}
