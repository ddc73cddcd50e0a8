#include "io/qov/KQovReaderQov.h"

#include <cstring>

#include "foundation/KFileStream.h"
#include "foundation/KPath.h"
#include "io/KQovIOHooks.h"
#include "io/KQovImporter.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovScene.h"

KQovReaderQov::KQovReaderQov(KQovObjectManager* manager, KQovImporter* importer)
    : KQovReader(manager), mImporter(importer) {}

KQovReaderQov::~KQovReaderQov() {
    if (mOwnFile) FileClose();
}

void KQovReaderQov::Report(const char* text, float percent) {
    if (mImporter) mImporter->Report(0, text, nullptr, percent);
}

bool KQovReaderQov::FileOpen(const char* fileName) {
    mResolution.present = false;
    if (!mOwnFile) mOwnFile.reset(KQovPropertyFieldFile::Create());
    KString resolved = KResolveFileName(fileName);
    KQovHeaderInfo header;
    if (!mOwnFile->Open(resolved.Buffer(), false, false, &header)) {
        int code = mOwnFile->GetLastErrorID();
        if (code == KQovFieldFile::eReadError) code = eFileNotOpened;  // a read that failed
        mError.SetErrorWithText(code >= 0 && code <= 4 ? code : eUnidentifiedError,
                                mOwnFile->GetLastErrorString());
        return false;
    }
    // A project file read in the file's place is used by the read as the file itself.
    ForgetFilesRead();
    if (std::strcmp(mOwnFile->GetOpenedName(), resolved.Buffer()) != 0)
        NoteFileRead(mOwnFile->GetOpenedName());
    if (header.cameraResolutionPresent && header.width != 0.0 && header.height != 0.0 &&
        !header.resolutionMode.IsEmpty()) {
        mResolution = {true, header.cameraName, header.resolutionMode, header.width, header.height};
    }
    return true;
}

bool KQovReaderQov::FileClose() {
    if (!mOwnFile || !mOwnFile->IsOpen()) {
        mOwnFile.reset();
        mError.SetError(eFileNotOpened);
        return false;
    }
    bool closed = mOwnFile->FieldFileClose() && mOwnFile->GetLastErrorID() == -1;
    if (!closed) {
        if (mOwnFile->GetLastErrorID() == KQovFieldFile::eFileNotOpened)
            mError.SetError(eFileNotOpened);
        else
            mError.SetErrorWithText(eUnidentifiedError, mOwnFile->GetLastErrorString());
    }
    mOwnFile.reset();
    return closed;
}

int KQovReaderQov::GetFileKind() const {
    if (!mFile) return 0;
    return mFile->IsEncrypted() ? 2 : mFile->IsBinary() ? 1 : 0;
}

void KQovReaderQov::GetFileVersion(int& major, int& minor, int& revision) const {
    KQovFieldFile::SplitVersion(mFile ? mFile->GetFileVersion() : 0, major, minor, revision);
}

void KQovReaderQov::DetectLayout(bool openFirstSection) {
    int major, minor, revision;
    GetFileVersion(major, minor, revision);
    if (major < 5 || (major == 5 && minor < 8)) {
        mFile->SetVersion5Layout(true);
    } else if (major == 5 && minor == 8 && revision == 0) {
        if (openFirstSection) {
            if (!mFile->FieldFileSelectFirstPart()) return;
            mFile->SetVersion5Layout(mFile->FieldReadGetOccurrenceCount("Definitions") == 0);
            mFile->Finish();
        } else {
            mFile->SetVersion5Layout(mFile->FieldReadGetOccurrenceCount("Definitions") == 0);
        }
    } else {
        mFile->SetVersion5Layout(false);
    }
}

KStreamOptionsQov* KQovReaderQov::ReadHeaderInfo(KQovPropertyFieldFile* fieldFile, bool allowScan) {
    std::unique_ptr<KStreamOptionsQov> options(KStreamOptionsQov::Create());
    mOptions = options.get();
    mLent = fieldFile;
    bool ok = true;
    int part = 0;
    bool listRead = true;
    if (!mFile || !mFile->IsOpen()) {
        mError.SetError(eFileNotOpened);
        ok = false;
    } else if (mFile->GetCurrentPart() >= 0) {
        if (allowScan)
            ok = ReadContentInformation();
        else
            ok = false;
    } else if (ReadSummary(part, listRead)) {
        DetectLayout(true);
        ok = listRead;
    } else if (!allowScan || !mFile->FieldFileSelectFirstPart()) {
        ok = false;
    } else {
        DetectLayout(false);
        ok = ReadContentInformation();
        mFile->Finish();
        // Reading never writes: the scan's findings are not stored in the file.
    }
    if (ok && !mFile->CheckFileUnchanged()) ok = false;
    mLent = nullptr;
    mOptions = nullptr;
    if (!ok) {
        TakeFieldFileError();
        KQovDestroySceneInfo(mManager, options->sceneInfo);
        return nullptr;
    }
    return options.release();
}

void KQovReaderQov::TakeFieldFileError() {
    if (mError.GetErrorCode() >= 0) return;
    const int code = mFile ? mFile->GetLastErrorID() : -1;
    // A read the system failed: its cause, never a corrupted file.
    if (const int error = mFile ? mFile->GetSystemReadError() : 0) {
        mError.SetErrorWithText(eFileNotOpened, KReadFileError(mFile->GetOpenedName(), error).c_str());
        return;
    }
    const int mine = code >= KQovFieldFile::eFileCorrupted && code <= KQovFieldFile::eFileNotCreated
                         ? code
                         : eFileCorrupted;
    mError.SetError(mine);
    if (code < 0) return;
    std::string table = mError.GetErrorText();
    std::string detail = mFile->GetLastErrorString();
    // The field file's text often begins with the same words: they are said once.
    if (detail.compare(0, table.size(), table) == 0) detail.erase(0, table.size());
    while (!detail.empty() && (detail[0] == ':' || detail[0] == ' ')) detail.erase(0, 1);
    if (!detail.empty()) mError.SetErrorWithText(mine, (table + ": " + detail).c_str());
}

bool KQovReaderQov::ReadScene(KQovScene* scene, KStreamOptions* options,
                              KQovPropertyFieldFile* fieldFile) {
    bool ok = true;
    mOptions = nullptr;
    KQovIOHooks& hooks = KQovIOHooks::GetInstance();
    hooks.BeginReadWrite();
    KStreamOptionsQov* qovOptions = options && options->IsA(KStreamOptionsQov::ClassId())
                                        ? static_cast<KStreamOptionsQov*>(options)
                                        : nullptr;
    KStringMap freshMap(20, true);
    KStringMap* savedMap = nullptr;
    if (!qovOptions) {
        mError.SetError(eStreamOptionsNotSet);
        ok = false;
    } else {
        mOptions = qovOptions;
        if (fieldFile) {
            mLent = fieldFile;
            savedMap = fieldFile->GetObjectMap();
            fieldFile->SetObjectMap(&freshMap);
        } else if (!mFile || !mFile->IsOpen()) {
            mError.SetError(eFileNotOpened);
            ok = false;
        }
    }
    int steps = 1;
    if (qovOptions && mFile)
        for (int i = 0; i < qovOptions->GetTakeCount(); ++i)
            if (qovOptions->GetTake(i)->select) ++steps;
    hooks.SetStepCount(steps);

    if (ok) {
        if (mFile->GetCurrentPart() < 0) {
            ok = mFile->FieldFileSelectFirstPart();
            if (ok) DetectLayout(false);
        } else if (!fieldFile) {
            mFile->FieldReadRewind();
        }
    }
    if (ok && !fieldFile && mFile->HasPassword() &&
        !CheckPassword(qovOptions->password.Buffer())) {
        mError.SetError(eWrongPassword);
        ok = false;
    }
    if (scene) {
        // The key-reading thread is joined however the read ends, out of memory too: a thread
        // left unjoined is inherited half-made by a process forked later.
        struct JoinReadAhead {
            KQovPropertyFieldFile* file;
            ~JoinReadAhead() {
                if (file) file->SetReadAhead(nullptr);
            }
        } joinReadAhead{mFile.get()};
        mMediaLost.clear();
        ReadSceneContent(scene, ok);
        if (mFile) mFile->SetReadAhead(nullptr);
        FinishShading(scene);
        if (ok && !mMediaLost.empty()) {
            mError.SetErrorWithText(eUnidentifiedError, mMediaLost.c_str());
            ok = false;
        }
        // A file cut or rewritten while it was read leaves a scene that is not the file's.
        if (ok && !mFile->CheckFileUnchanged()) ok = false;
    } else if (ok) {
        mError.SetError(eUnidentifiedError);
        ok = false;
    }
    if (!ok) TakeFieldFileError();
    if (fieldFile) {
        fieldFile->GetObjectMap()->Clear();
        fieldFile->SetObjectMap(savedMap);
    }
    mLent = nullptr;
    mOptions = nullptr;
    hooks.EndProgress();
    hooks.EndReadWrite();
    return ok;
}

void KQovReaderQov::ReadGlobalSettings(KQovScene* scene) {
    // Version-6 files keep these sections inside a "Version5" block, older ones at the top.
    KQovPropertyFieldFile* file = mFile.get();
    bool version5 = file->IsVersion5Layout();
    if (!version5 && !file->FieldReadBegin("Version5")) return;
    if (version5 || file->FieldReadBlockBegin()) {
        scene->GetGlobalLightSettings().Reset();
        ReadAmbientRenderSettings(scene);
        ReadFogOptions(scene);
        ReadShadowPlanes(scene);
        if (version5) {
            ReadVersion5Settings(scene);
        } else {
            ReadTimeSettings(scene);
            ReadRendererSetting(scene);
            file->FieldReadBlockEnd();
        }
    }
    if (!version5) file->FieldReadEnd();
}

bool KQovReaderQov::UpdateSummary(KStreamOptionsQov* newInfo) {
    if (!newInfo || !mOwnFile || !mOwnFile->IsOpen() || mOwnFile->GetCurrentPart() >= 0)
        return false;
    // Files are opened for reading only; the update is a write the caller asks for.
    if (mOwnFile->GetOpenMode() == KQovFieldFile::eReadOnly && mOwnFile->IsBinary() &&
        !mOwnFile->IsEncrypted()) {
        const std::string name = mOwnFile->GetFullName();
        if (!mOwnFile->Open(name.c_str(), false, false, nullptr, true) ||
            mOwnFile->GetOpenMode() != KQovFieldFile::eUpdate) {
            mOwnFile->Open(name.c_str(), false, false, nullptr);
            mOwnFile->GetError().ClearError();
            return false;
        }
    }
    KStreamOptionsQov fileInfo;
    mOptions = &fileInfo;
    int part = 0;
    bool ok = false;
    bool listRead = true;
    if (ReadSummary(part, listRead) && listRead) {
        if (fileInfo.sceneInfo && newInfo->sceneInfo) {
            fileInfo.sceneInfo->CopyFrom(*newInfo->sceneInfo);
        } else if (fileInfo.sceneInfo) {
            KQovDestroySceneInfo(mManager, fileInfo.sceneInfo);
            fileInfo.sceneInfo = nullptr;
        } else if (newInfo->sceneInfo) {
            fileInfo.sceneInfo = KQovCreateSceneInfo(mManager);
            fileInfo.sceneInfo->CopyFrom(*newInfo->sceneInfo);
        }
        for (int i = 0; i < fileInfo.GetTakeCount() && i < newInfo->GetTakeCount(); ++i)
            fileInfo.GetTake(i)->CopyValues(*newInfo->GetTake(i));
        ok = WriteSummaryUpdate(part == mOwnFile->GetLastPartIndex());
    }
    KQovDestroySceneInfo(mManager, fileInfo.sceneInfo);
    mOptions = nullptr;
    return ok;
}
