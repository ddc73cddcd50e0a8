// The version-5 writer: the file it creates and closes, the options it obeys and the main
// write with its fixed order of sections.

#include "io/qov/KQovWriterQov5.h"

#include <functional>

#include "animation/KQovTakeNode.h"
#include "attributes/KQovGeometry.h"
#include "foundation/KPath.h"
#include "foundation/KQuotedText.h"
#include "io/KQovIO.h"
#include "io/KQovIOHooks.h"
#include "io/KStreamOptionsMotion.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeWalk.h"
#include "scene/KQovScene.h"

namespace {

// Runs its action when it goes out of scope, whatever way the scope is left.
class ScopeExit {
public:
    explicit ScopeExit(std::function<void()> action) : mAction(std::move(action)) {}
    ~ScopeExit() {
        if (mAction) mAction();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    std::function<void()> mAction;
};

// The field file's failure as the writer's: a file the write read (embedded media) that the
// system did not give is told by its name and cause, any other failure as a full disk.
void SetWriteFailure(KError& error, KQovFieldFile& file) {
    if (file.GetLastErrorID() == KQovFieldFile::eReadError)
        error.SetErrorWithText(KQovWriter::eUnidentifiedError, file.GetLastErrorString());
    else
        error.SetError(KQovWriter::eOutOfDiskSpace);
}

// Geometry nodes below and including `node`, children before their parent.
void CollectGeometryNodes(KQovNode* node, std::vector<KQovNode*>& out) {
    KQovWalkNodes(
        node, [](KQovNode*, int) { return true; },
        [&out](KQovNode* n, int) {
            if (n->IsGeometry()) out.push_back(n);
        });
}

}  // namespace

KQovWriterQov5::KQovWriterQov5(KQovObjectManager* manager, KQovIO* owner)
    : KQovWriter(manager), mOwner(owner) {}

KQovWriterQov5::~KQovWriterQov5() {
    // A file never closed by FileClose was not finished: the field file drops it as it goes,
    // allocating nothing, and the old one stays.
    mOwnFile.reset();
}

KStreamOptions* KQovWriterQov5::CreateWriteOptions(int) {
    return new KStreamOptionsQov;
}

bool KQovWriterQov5::DoFileCreate(const char* fileName) {
    if (!mOwnFile) {
        mOwnFile.reset(KQovPropertyFieldFile::Create());
        mOwnFile->SetVersion5Layout(IsVersion5());
    }
    KQovHeaderInfo header;
    header.fileVersion = FileVersion();
    if (!fileName || !*fileName) {
        mError.SetErrorWithText(eFileNotCreated, "Unable to create a file: the name is empty");
        return false;
    }
    const KString name = KResolveFileName(fileName);
    if (name.IsEmpty() || name[name.GetLen() - 1] == '/') {
        mError.SetErrorWithText(
            eFileNotCreated,
            ("Unable to create file " + KQovMessageText(fileName) + ": the name is a folder")
                .c_str());
        return false;
    }
    const bool binary = mMode == eBinary || mMode == eEncrypted;
    if (mOwnFile->KQovFieldFile::Create(name.Buffer(), binary, mMode == eEncrypted, &header))
        return true;
    const int code = mOwnFile->GetLastErrorID();
    const int mine = code == KQovFieldFile::eFileCorrupted    ? eFileCorrupted
                     : code == KQovFieldFile::eFileNotCreated ? eFileNotCreated
                                                              : eUnidentifiedError;
    mError.SetErrorWithText(mine, mOwnFile->GetLastErrorString());
    mOwnFile.reset();
    return false;
}

bool KQovWriterQov5::DoFileClose() {
    if (!mOwnFile) {
        mError.SetError(eFileNotOpened);
        return false;
    }
    const bool closed = mOwnFile->FieldFileClose() && mOwnFile->GetLastErrorID() == -1;
    if (!closed) {
        if (mOwnFile->GetLastErrorID() == KQovFieldFile::eFileNotOpened)
            mError.SetError(eFileNotOpened);
        else
            mError.SetErrorWithText(eUnidentifiedError, mOwnFile->GetLastErrorString());
    }
    mOwnFile.reset();
    return closed;
}

void KQovWriterQov5::DoFileDiscard() {
    if (mOwnFile) mOwnFile->FieldFileDiscard();
    mOwnFile.reset();
}

bool KQovWriterQov5::Failed() const {
    return mFile->GetLastErrorID() != -1;
}

const char* KQovWriterQov5::WrittenName(const KQovObject* node) const {
    if (mWrittenNames.empty()) return node->GetName();
    const auto made = mWrittenNames.find(node);
    return made == mWrittenNames.end() ? node->GetName() : made->second.c_str();
}

const char* KQovWriterQov5::WrittenPoseName(const char* name) const {
    if (mFirstWrittenAs.empty()) return name;
    const auto made = mFirstWrittenAs.find(name);
    return made == mFirstWrittenAs.end() ? name : made->second.c_str();
}

void KQovWriterQov5::Report(const char* text, float percent) {
    if (mOwner) mOwner->Report(0, text, nullptr, percent);
}

void KQovWriterQov5::Progress() {
    Report(nullptr, mTotal > 0 ? float(mCounter) * 100.0f / float(mTotal) : 0.0f);
    ++mCounter;
}

bool KQovWriterQov5::Write(KQovScene* scene, KStreamOptions* options, KQovPropertyFieldFile* file) {
    KStreamOptionsQov local;
    mOptions = nullptr;
    KQovIOHooks& hooks = KQovIOHooks::GetInstance();
    hooks.BeginReadWrite();
    ScopeExit endHooks([&hooks] {
        hooks.EndProgress();
        hooks.EndReadWrite();
    });
    mError.ClearError();
    if (!options || !scene || !scene->GetRootNode()) {
        mError.SetError(scene ? eStreamOptionsNotSet : eUnidentifiedError);
        return false;
    }
    if (options->IsA(KStreamOptionsQov::ClassId())) {
        mOptions = static_cast<KStreamOptionsQov*>(options);
    } else if (options->IsA(KStreamOptionsMotion::ClassId())) {
        for (int i : {0, 1, 2, 4, 5, 6, 8, 9, 10, 12}) local.SetSwitch(i, false);
        local.SetSwitch(KStreamOptionsQov::eAnimation, true);
        mOptions = &local;
    } else {
        mError.SetError(eStreamOptionsNotSet);
        return false;
    }
    if (mDepth > kMaxNesting) {
        mError.SetErrorWithText(eUnidentifiedError, "Character poses nested too deeply");
        mOptions = nullptr;
        return false;
    }
    if (!RefuseMeshesMissingPoints(scene->GetRootNode())) {
        mOptions = nullptr;
        return false;
    }
    mFile = file ? file : mOwnFile.get();
    if (!mFile || !mFile->IsOpen()) {
        mError.SetError(eFileNotCreated);
        mFile = nullptr;
        mOptions = nullptr;
        return false;
    }
    ScopeExit forget([this] {
        mOptions = nullptr;
        mFile = nullptr;
    });
    // A lent file keeps its own layout; the sections are written in the writer's one.
    const bool layout = mFile->IsVersion5Layout();
    mFile->SetVersion5Layout(IsVersion5());
    ScopeExit restoreLayout([this, layout] { mFile->SetVersion5Layout(layout); });

    int steps = 1;
    for (int i = 0; i < mOptions->GetTakeCount(); ++i)
        if (mOptions->GetTake(i)->select) ++steps;
    hooks.SetStepCount(steps);

    // Shape channels under their version-5 names while writing, given back afterwards.
    std::vector<KQovNode*> geometryNodes;
    if (IsVersion5()) CollectGeometryNodes(scene->GetRootNode(), geometryNodes);
    // Each gives back what it renamed, allocating nothing.
    ScopeExit restoreShapes([&geometryNodes] {
        for (KQovNode* node : geometryNodes)
            if (KQovGeometry* geometry = node->GetGeometry()) geometry->ClearSavedShapeNames();
    });
    for (KQovNode* node : geometryNodes) {
        KQovGeometry* geometry = node->GetGeometry();
        geometry->ClearSavedShapeNames();
        for (int t = 0; t < node->GetTakeNodeCount(); ++t) {
            const auto given = geometry->RenameShapeChannelsForVersion5(node->GetTakeNode(t));
            for (const auto& [name, written] : given)
                mStatus += ("Node \"" + KQovMessageText(node->GetNameWithoutPrefix().Buffer()) +
                            "\" shape \"" + KQovMessageText(name.Buffer()) + "\" written as \"" +
                            KQovMessageText(written.Buffer()) +
                            "\": another shape's channel reads back the same\n")
                               .c_str();
        }
    }

    CollectTakes(scene);
    mRenamedUsers.clear();
    ScopeExit forgetRenamed([this] { mRenamedUsers.clear(); });
    mMediaCount = 0;
    mClipOfFile.clear();
    ScopeExit forgetClips([this] { mClipOfFile.clear(); });
    const bool ok = WriteSections(scene);
    if (!file) {
        mFile->Finish();
        // Version-6 files carry a Summary only when binary and not enciphered.
        if ((IsVersion5() || mMode == eBinary) && mFile->FieldFileAppendPart(false)) {
            WriteSummary(scene);
            mFile->Finish();
        }
    }
    // A failure that only shows when the last bytes go out is a failure all the same.
    if (ok && Failed()) SetWriteFailure(mError, *mFile);
    return mError.GetErrorCode() == -1;
}

void KQovWriterQov5::RunSection(bool& failed, bool on, const std::function<void()>& write) {
    if (failed || !on) return;
    write();
    if (mError.GetErrorCode() != -1) {
        failed = true;  // the section's own reason stands
    } else if (Failed()) {
        failed = true;
        SetWriteFailure(mError, *mFile);
    }
}

bool KQovWriterQov5::WriteSections(KQovScene* scene) {
    const KStreamOptionsQov& o = *mOptions;
    bool failed = false;
    auto section = [&](bool on, const std::function<void()>& write) {
        RunSection(failed, on, write);
    };
    section(o.GetSwitch(KStreamOptionsQov::eTexturesAndMedia), [&] { WriteMedia(scene); });
    section(true, [&] { WriteSwitcher(scene); });
    NameShadingUserProperties(scene);
    BuildAnimatedMaps(scene);
    ScopeExit freeMaps([this] { FreeAnimatedMaps(); });
    section(true, [&] {
        KQovNode* root = scene->GetRootNode();
        Report("Storing models", 0.0f);
        mCounter = 0;
        mTotal = root->GetChildCount(true);
        WriteModelTree(root);
        KQovIOHooks::GetInstance().StepDone();
    });
    section(o.passwordFlag != 0 && !o.password.IsEmpty(),
            [&] { mFile->FieldWritePassword(o.password.Buffer()); });
    section(o.GetSwitch(KStreamOptionsQov::eAnimation), [&] { WriteTakes(scene); });
    FreeAnimatedMaps();
    section(o.GetSwitch(KStreamOptionsQov::eGobos), [&] { WriteGoboManager(scene); });
    section(o.GetSwitch(KStreamOptionsQov::eCharacters), [&] { WriteCharacters(scene); });
    section(true, [&] { WriteSceneGenericPersistence(scene); });
    section(o.GetSwitch(KStreamOptionsQov::eCharacters), [&] { WriteConstraints(scene); });
    section(o.GetSwitch(KStreamOptionsQov::eGlobalSettings), [&] { WriteGlobalSettings(scene); });
    return !failed;
}

void KQovWriterQov5::WriteModelTree(KQovNode* node) {
    Progress();
    // Parents before children, from a list: a deep tree must not recurse.
    for (KQovNode* child : KQovListDescendants(node)) {
        if (Failed()) break;
        WriteModel(child);
        Progress();
    }
}
