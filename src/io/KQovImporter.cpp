#include "io/KQovImporter.h"

#include <new>
#include <string>

#include "foundation/KQuotedText.h"
#include "io/KQovExporter.h"
#include "io/KQovFormatFactory.h"
#include "io/KStreamOptionsMotion.h"
#include "io/qov/KQovReaderQov.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovScene.h"

namespace {

// Importer flag -> option switch.
int FlagSwitch(int flag) {
    return flag < 3 ? flag : flag < 10 ? flag + 1 : 11;
}

// The readers by reading id; formats whose reader is not built yet are absent.
KQovReader* MakeReader(int id, KQovObjectManager* manager, KQovImporter* importer) {
    if (id >= 0 && id <= 2) return new KQovReaderQov(manager, importer);
    return KQovMakeFormatReader(id, manager);
}

// The extension of each reading id; ids 0-2 share "qov" and the file's kind tells them apart.
const char* const kReadingExtensions[KQovImporter::kReadingIdCount] = {
    "qov", "qov", "qov", "bvh", "htr", "trc", "asf", "amc", "c3d",
    "aoa", "mcd", "vpm", "mov", "brd", "dxf", "3ds", "obj"};

// The name's extension, lower-cased; empty when its last dot is not in the last path element.
KString ExtensionOf(const KString& name) {
    int separator = -1;
    for (int i = 0; i < name.GetLen(); ++i)
        if (name[i] == '/') separator = i;
    int dot = name.ReverseFind('.');
    return dot <= separator ? KString("") : name.Mid(dot + 1).Lower();
}

}  // namespace

KQovImporter::KQovImporter(KQovObjectManager* manager) : KQovIO(manager), mPassword("") {
    Reset();
}

KQovImporter::~KQovImporter() {
    for (KQovExporter* exporter : mExporters) exporter->mSource = nullptr;
    Reset();
}

void KQovImporter::Reset() {
    mReader.reset();
    mTakesFetched = false;
    mTakes.clear();
    mCurrentTake = "";
    KQovDestroySceneInfo(mManager, mSceneInfo);
    mSceneInfo = nullptr;
    for (bool& flag : mFlags) flag = true;
    mVersion[0] = mVersion[1] = mVersion[2] = 0;
    mStatus = "";
    mResolution = KQovCameraResolution();
    mFilesRead.clear();
    mFilesFound.clear();
}

void KQovImporter::NoteFileRead(const std::string& name, KPlatformFileFound found) {
    mFilesFound.reserve(mFilesRead.size() + 1);
    mFilesRead.push_back(name);
    mFilesFound.push_back(std::move(found));
}

bool KQovImporter::Initialize(const char* fileName) {
    Reset();
    KQovIO::Initialize(fileName);
    if (IsNativeFileName()) {
        if (mFormatId > 2) mFormatId = 0;  // an earlier file of another format
        return CreateReader();
    }
    // Without a way to set the id, another format's file would be handed to the QOV reader:
    // its reader is chosen by the name's extension (a name of no known extension keeps the id).
    KString extension = ExtensionOf(mFileName);
    for (int id = 3; id < kReadingIdCount; ++id)
        if (extension == kReadingExtensions[id]) mFormatId = id;
    return true;
}

bool KQovImporter::IsNativeFileName() const {
    return ExtensionOf(mFileName).Find(kReadingExtensions[0]) >= 0;
}

bool KQovImporter::CreateReader() {
    try {
        return OpenReader();
    } catch (const std::bad_alloc&) {
        return ReadOutOfMemory();
    }
}

bool KQovImporter::ReadOutOfMemory() {
    mOptionsInUse = nullptr;
    mReader.reset();
    mTakesFetched = false;
    // Called with memory short: told without the file's name when the message cannot be made.
    try {
        mError.SetErrorWithText(
            eUnidentifiedError,
            ("Out of memory while reading " + KQovMessageText(mFileName.Buffer())).c_str());
    } catch (const std::bad_alloc&) {
        mError.SetErrorWithText(eUnidentifiedError, "Out of memory while reading");  // inline
    }
    return false;
}

bool KQovImporter::OpenReader() {
    if (mFileName.IsEmpty()) {
        mError.SetError(eUninitializedFilename);
        return false;
    }
    mReader.reset(MakeReader(mFormatId, mManager, this));
    mTakesFetched = false;
    if (!mReader) {
        mError.SetError(eUnidentifiedError);
        return false;
    }
    auto* qov = mFormatId <= 2 ? static_cast<KQovReaderQov*>(mReader.get()) : nullptr;
    bool opened = mReader->FileOpen(mFileName.Buffer());
    if (qov && (opened || qov->GetLastErrorID() == KQovReader::eVersionNotSupportedYet ||
                qov->GetLastErrorID() == KQovReader::eVersionNotSupportedAnymore))
        qov->GetFileVersion(mVersion[0], mVersion[1], mVersion[2]);
    if (opened) {
        if (qov) {
            static const int kIdOfKind[3] = {1, 0, 2};
            mFormatId = kIdOfKind[qov->GetFileKind()];
            mResolution = KQovCameraResolution();
            mResolution.present = qov->GetCameraResolution(mResolution.name, mResolution.mode,
                                                           mResolution.width, mResolution.height);
        }
        return true;
    }
    int code = mReader->GetLastErrorID();
    mError.SetErrorWithText(code >= 0 && code <= 3 ? code : eUnidentifiedError,
                            mReader->GetLastErrorString());
    mReader.reset();
    mTakesFetched = false;
    return false;
}

void KQovImporter::ReleaseOptions(KStreamOptions* options) {
    if (options && options->IsA(KStreamOptionsQov::ClassId()))
        KQovDestroySceneInfo(mManager, static_cast<KStreamOptionsQov*>(options)->sceneInfo);
    delete options;
}

bool KQovImporter::FetchTakes() {
    try {
        return FetchTakesWith();
    } catch (const std::bad_alloc&) {
        return ReadOutOfMemory();
    }
}

bool KQovImporter::FetchTakesWith() {
    if (mTakesFetched) return true;
    if (!mReader && !CreateReader()) return false;
    const HeldOptions options(mReader->GetReadOptions(true), OptionsRelease{this});
    if (!options) {
        TakeReaderError();
        return false;
    }
    if (options->IsA(KStreamOptionsQov::ClassId()))
        TakeStreamOptions(*static_cast<KStreamOptionsQov*>(options.get()));
    mTakesFetched = true;
    return true;
}

bool KQovImporter::Import(KQovScene* scene, KStreamOptions* options) {
    // What this importer's manager makes would stay in that scene after the manager is gone.
    if (scene && scene->GetObjectManager() != mManager) {
        mError.SetErrorWithText(eUnidentifiedError,
                                "The scene belongs to another object manager than the importer");
        return false;
    }
    try {
        return ImportWith(scene, options);
    } catch (const std::bad_alloc&) {
        // The reader goes with what it held; the scene keeps what was read, as after any
        // failed read.
        return ReadOutOfMemory();
    }
}

bool KQovImporter::ImportWith(KQovScene* scene, KStreamOptions* options) {
    KStreamOptionsQov local;
    if (!mReader && !CreateReader()) return false;
    mFilesRead.clear();
    mFilesFound.clear();
    NoteFileRead(mFileName.Buffer(), KPlatformFindAsRead(mFileName.Buffer()));
    HeldOptions held(nullptr, OptionsRelease{this});
    KStreamOptions* fetched = nullptr;
    if (!options) {
        if (mFormatId <= 2 && mTakesFetched) {
            FillStreamOptions(local);
            options = &local;
        } else {
            held.reset(fetched = mReader->GetReadOptions(true));
            if (!fetched) {
                TakeReaderError();
                return false;
            }
            // Options of the importer's own making lack what a caller would have read first
            // into them: an AMC file's skeleton.
            KString companion, skeleton;
            const bool companionRead = KQovReadFormatCompanion(
                mFormatId, mManager, scene, mFileName.Buffer(), fetched, companion, &skeleton);
            if (!skeleton.IsEmpty())
                NoteFileRead(skeleton.Buffer(), KPlatformFindAsRead(skeleton.Buffer()));
            if (!companionRead) {
                mError.SetErrorWithText(eFileNotOpened, companion.Buffer());
                return false;
            }
            if (fetched->IsA(KStreamOptionsQov::ClassId())) {
                auto* qov = static_cast<KStreamOptionsQov*>(fetched);
                TakeStreamOptions(*qov);
                // Options read from the file never hold the password: the caller's is used.
                qov->password = mPassword;
            }
            mTakesFetched = true;
            options = fetched;
        }
    }
    mOptionsInUse = options;
    bool ok = mReader->Read(scene, options);
    for (size_t k = 0; k < mReader->GetOtherFilesRead().size(); ++k)
        NoteFileRead(mReader->GetOtherFilesRead()[k], mReader->GetOtherFilesFound()[k]);
    // The scene information the header pass gave (or a caller set) wins over the file's.
    if (ok && scene && mSceneInfo) {
        if (!scene->GetSceneInfo()) scene->SetSceneInfo(KQovCreateSceneInfo(mManager));
        scene->GetSceneInfo()->CopyFrom(*mSceneInfo);
    }
    // A motion file's rate lives in the options the reader made; the scene keeps it as its
    // time mode, so that a file written from the scene is written at that rate.
    if (ok && scene && fetched && fetched->IsA(KStreamOptionsMotion::ClassId())) {
        const int mode = static_cast<KStreamOptionsMotion*>(fetched)->GetTimeMode();
        if (mode != KTime::eDEFAULT_MODE) scene->GetGlobalTimeSettings().SetTimeMode(mode);
    }
    mReader->GetStatusText(mStatus);
    mOptionsInUse = nullptr;
    if (!ok) TakeReaderError();
    // A protected file read without a password asks for one rather than calling it wrong.
    if (!ok && mError.GetErrorCode() == ePasswordError &&
        options->IsA(KStreamOptionsQov::ClassId()) &&
        static_cast<KStreamOptionsQov*>(options)->password.IsEmpty())
        mError.SetErrorWithText(ePasswordError,
                                "File is password protected and no password was provided.");
    return ok;
}

bool KQovImporter::CheckFileUnchanged() {
    if (mFormatId > 2 || !mReader) return true;
    KQovPropertyFieldFile* file = static_cast<KQovReaderQov*>(mReader.get())->GetFieldFile();
    if (!file || !file->IsOpen() || file->CheckFileUnchanged()) return true;
    mError.SetErrorWithText(
        eFileCorrupted, (std::string("File is corrupted: ") + file->GetLastErrorString()).c_str());
    return false;
}

void KQovImporter::TakeReaderError() {
    const int code = mReader ? mReader->GetLastErrorID() : -1;
    if (code == KQovReader::eWrongPassword) {
        mError.SetErrorWithText(
            ePasswordError, "File is password protected and the provided password is wrong.");
        return;
    }
    // The reader's own message (with where it found the fault) is what the caller needs.
    int mine = eUnidentifiedError;
    switch (code) {
        case KQovReader::eFileCorrupted: mine = eFileCorrupted; break;
        case KQovReader::eVersionNotSupportedYet: mine = eVersionNotSupportedYet; break;
        case KQovReader::eVersionNotSupportedAnymore: mine = eVersionNotSupportedAnymore; break;
        case KQovReader::eFileNotOpened: mine = eFileNotOpened; break;
        case KQovReader::eStreamOptionsNotSet: mine = eStreamOptionsNotSet; break;
        default: break;
    }
    if (code < 0)
        mError.SetError(mine);
    else
        mError.SetErrorWithText(mine, mReader->GetLastErrorString());
}

int KQovImporter::GetTakeCount() {
    if (mFormatId > 2 || !FetchTakes()) return 0;
    return static_cast<int>(mTakes.size());
}

KQovTakeInfo* KQovImporter::GetTakeInfo(int index) {
    if (index < 0 || index >= GetTakeCount()) return nullptr;
    return mTakes[static_cast<size_t>(index)].get();
}

void KQovImporter::GetFileVersion(int& major, int& minor, int& revision) const {
    bool old = mVersion[0] >= 1 && mVersion[0] <= 4;
    major = old ? 5 : mVersion[0];
    minor = old ? 0 : mVersion[1];
    revision = old ? 0 : mVersion[2];
}

void KQovImporter::SetOptionFlag(int index, bool on) {
    if (index >= 0 && index < kFlagCount) mFlags[index] = on;
}

bool KQovImporter::GetOptionFlag(int index) const {
    return index >= 0 && index < kFlagCount && mFlags[index];
}

void KQovImporter::FillStreamOptions(KStreamOptionsQov& options) const {
    options.ClearTakes();
    for (const auto& take : mTakes) options.AddTake(*take);
    options.currentTakeName = mCurrentTake;
    options.password = mPassword;
    for (int i = 0; i < kFlagCount; ++i) options.SetSwitch(FlagSwitch(i), mFlags[i]);
}

void KQovImporter::TakeStreamOptions(const KStreamOptionsQov& options) {
    mTakes.clear();
    for (int i = 0; i < options.GetTakeCount(); ++i)
        mTakes.push_back(std::make_unique<KQovTakeInfo>(*options.GetTake(i)));
    KQovDestroySceneInfo(mManager, mSceneInfo);
    mSceneInfo = nullptr;
    if (options.sceneInfo) {
        mSceneInfo = KQovCreateSceneInfo(mManager);
        mSceneInfo->CopyFrom(*options.sceneInfo);
    }
    mCurrentTake = options.currentTakeName;
    // Options read from a file carry no password; the one the caller set must survive them.
    if (!options.password.IsEmpty()) mPassword = options.password;
    for (int i = 0; i < kFlagCount; ++i) mFlags[i] = options.GetSwitch(FlagSwitch(i));
}

KStreamOptionsQov* KQovImporter::GetReadOptionsFromFieldFile(KQovPropertyFieldFile* fieldFile) {
    if (!fieldFile) {
        mError.SetError(eFileNotCreated);
        return nullptr;
    }
    KQovReaderQov reader(mManager, this);
    // A nested file has no Summary of its own: its content is counted by scanning.
    KStreamOptionsQov* options = reader.ReadHeaderInfo(fieldFile, true);
    if (!options) mError.SetError(eUnidentifiedError);
    return options;
}

bool KQovImporter::ImportFromFieldFile(KQovScene* scene, KStreamOptions* options,
                                       KQovPropertyFieldFile* fieldFile) {
    if (!options || !fieldFile) {
        mError.SetError(options ? eFileNotCreated : eStreamOptionsNotSet);
        return false;
    }
    mOptionsInUse = options;
    KQovReaderQov reader(mManager, this);
    bool ok = reader.ReadScene(scene, options, fieldFile);
    reader.GetStatusText(mStatus);
    mOptionsInUse = nullptr;
    if (!ok) mError.SetError(eUnidentifiedError);
    return ok;
}
