// The Summary section: finding and reading it, the take list, the scan of files without
// one, and its rewrite into an existing binary file.

#include <cstring>
#include <string>
#include <vector>

#include "io/qov/KQovReaderQov.h"
#include "fieldfile/KQovStream.h"
#include "io/qov/KQovWriterQovSections.h"
#include "scene/KQovTakeNames.h"

namespace {

const char* const kCountNames[KStreamOptionsQov::eCountCount] = {"Model", "Device",     "Character",
                                                                 "Actor", "Constraint", "Media"};
const char* const kMetaDataNames[6] = {"Title",    "Subject",  "Author",
                                       "Keywords", "Revision", "Comment"};

KString* MetaDataText(KQovSceneInfo& info, int index) {
    KString* texts[6] = {&info.title,    &info.subject,  &info.author,
                         &info.keywords, &info.revision, &info.comment};
    return texts[index];
}

// The part of a name after its last ':'.
const char* AfterPrefix(const char* name) {
    const char* colon = std::strrchr(name, ':');
    return colon ? colon + 1 : name;
}

// A take's comment and time spans from the current block.
void ReadTakeValues(KQovFieldFile& file, KQovTakeInfo& take) {
    take.comment = file.FieldReadC("Comments", "");
    KTime start, stop;
    file.FieldReadTS("LocalTime", start, stop);
    take.localTimeSpan.Set(start, stop);
    file.FieldReadTS("ReferenceTime", start, stop);
    take.referenceTimeSpan.Set(start, stop);
}

void WriteInt(KQovFieldFile* file, const char* name, int32_t value) {
    file->FieldWriteBegin(name);
    file->FieldWriteI(value);
    file->FieldWriteEnd();
}

}  // namespace

bool KQovReaderQov::ReadSummary(int& partFound, bool& listRead) {
    KQovPropertyFieldFile* file = mFile.get();
    bool found = false;
    for (int part = file->GetPartCount() - 1; part >= 1 && !found; --part) {
        if (!file->FieldFileSelectPart(part)) continue;
        if (file->FieldReadBegin("Summary")) {
            found = true;
            partFound = part;
        } else {
            file->Finish();
        }
    }
    if (!found) return false;
    if (file->FieldReadBlockBegin()) {
        int version = file->FieldReadI("Version", 100);
        mOptions->templateFlag = file->FieldReadI("Template", 0) != 0 ? 1 : 0;
        mOptions->passwordFlag = file->FieldReadI("PasswordProtection", 0) != 0 ? 1 : 0;
        if (file->FieldReadBegin("ContentCount")) {
            if (file->FieldReadBlockBegin()) {
                for (int i = 0; i < KStreamOptionsQov::eCountCount; ++i)
                    mOptions->SetCount(i, file->FieldReadI(kCountNames[i], 0));
                file->FieldReadBlockEnd();
            }
            file->FieldReadEnd();
        }
        if (version >= 101) {
            KQovDestroySceneInfo(mManager, mOptions->sceneInfo);
            mOptions->sceneInfo = ReadSceneInfo();
        }
        listRead = ReadTakeList();
        file->FieldReadBlockEnd();
    }
    file->FieldReadEnd();
    file->Finish();
    return true;
}

int KQovReaderQov::SetTakeNamesAside(KQovPropertyFieldFile& file, KQovTakeNames& unique) {
    const int takes = file.FieldReadGetOccurrenceCount("Take");
    for (int k = 0; k < takes; ++k)
        if (file.FieldReadBegin("Take", k)) {
            unique.SetAside(file.FieldReadC());
            file.FieldReadEnd();
        }
    return takes;
}

bool KQovReaderQov::ReadTakeList() {
    KQovPropertyFieldFile* file = mFile.get();
    mOptions->ClearTakes();
    mOptions->currentTakeName.Empty();
    bool currentFound = false;
    KQovTakeNames unique;
    KString current;  // the name the file's current take is read under
    if (!file->FieldReadBegin("Takes")) return true;
    bool ok = true;
    if (file->FieldReadBlockBegin()) {
        mOptions->currentTakeName = file->FieldReadC("Current", "");
        // The takes' names set aside first, as ReadTakes and the read-ahead set them.
        const int takes = SetTakeNamesAside(*file, unique);
        for (bool more = takes > 0 && file->FieldReadBegin("Take", 0); more;
             more = file->FieldReadBegin("Take")) {
            KQovTakeInfo take;
            take.name = file->FieldReadC();
            if (file->FieldReadBlockBegin()) {
                if (file->FieldReadBegin("FileName")) {
                    const KString stored = file->FieldReadC();
                    const KString path = file->GetAbsoluteMediaPath(stored.Buffer());
                    file->FieldReadEnd();
                    KQovFieldFile takeFile;
                    if (takeFile.FieldFileOpenFile(path.Buffer(), false, true, nullptr)) {
                        ReadTakeValues(takeFile, take);
                        if (!takeFile.CheckFileUnchanged() &&
                            TakeFileRefused(takeFile, path.Buffer()))
                            ok = false;
                        takeFile.FieldFileClose();
                    } else if (!stored.IsEmpty() && TakeFileRefused(takeFile, path.Buffer())) {
                        ok = false;
                    } else if (file->GetFileVersion() >= 2000) {
                        ReadTakeValues(*file, take);
                        take.thumbnail = ReadThumbnail();
                    }
                } else {
                    ReadTakeValues(*file, take);
                    take.thumbnail = ReadThumbnail();
                }
                file->FieldReadBlockEnd();
            }
            KQovTakeNames::Clash clash;
            const std::string made = unique.Add(take.name.Buffer(), clash);
            if (!currentFound && take.name == mOptions->currentTakeName) {
                currentFound = true;
                current = made.c_str();
            }
            take.name = made.c_str();
            take.secondName = take.name;
            mOptions->AddTake(take);
            file->FieldReadEnd();
        }
        file->FieldReadBlockEnd();
    }
    file->FieldReadEnd();
    if (currentFound) {
        mOptions->currentTakeName = current;
    } else {
        KQovTakeInfo* first = mOptions->GetTake(0);
        mOptions->currentTakeName = first ? first->name : KString("");
    }
    return ok;
}

void KQovReaderQov::ReadMetaData(KQovSceneInfo& info) {
    for (int i = 0; i < 6; ++i) *MetaDataText(info, i) = mFile->FieldReadC(kMetaDataNames[i], "");
}

void KQovReaderQov::ReadSceneInfoIntoOptions() {
    KQovPropertyFieldFile* file = mFile.get();
    if (!file->FieldReadBegin("SceneGenericPersistence")) return;
    if (file->FieldReadBlockBegin()) {
        KQovDestroySceneInfo(mManager, mOptions->sceneInfo);
        mOptions->sceneInfo = ReadSceneInfo();
        file->FieldReadBlockEnd();
    }
    file->FieldReadEnd();
}

void KQovReaderQov::CountVersion6Objects() {
    // Version-6 files keep their models and character constraints inside "Objects".
    KQovPropertyFieldFile* file = mFile.get();
    if (!file->FieldReadBegin("Objects")) return;
    if (file->FieldReadBlockBegin()) {
        mOptions->SetCount(KStreamOptionsQov::eModels, file->FieldReadGetOccurrenceCount("Model"));
        // The template mark is a model's name here as at the top level of older files.
        while (mOptions->templateFlag == 0 && file->FieldReadBegin("Model")) {
            if (std::strcmp(AfterPrefix(file->FieldReadC()), "~qovexport~") == 0)
                mOptions->templateFlag = 1;
            file->FieldReadEnd();
        }
        int characters = 0;
        while (file->FieldReadBegin("Constraint")) {
            file->FieldReadC();
            const char* kind = file->FieldReadGetRemain() > 0 ? file->FieldReadC() : "";
            if (std::strcmp(kind, "Character") == 0) ++characters;
            file->FieldReadEnd();
        }
        mOptions->SetCount(KStreamOptionsQov::eCharacterCount, characters);
        // A nested scene is read from this same tree next: its objects must still be found.
        file->FieldReadRewind();
        file->FieldReadBlockEnd();
    }
    file->FieldReadEnd();
}

bool KQovReaderQov::ReadContentInformation() {
    KQovPropertyFieldFile* file = mFile.get();
    file->FieldReadRewind();
    mOptions->passwordFlag = file->HasPassword() ? 1 : 0;
    Report("Retrieving content information", 0.0f);
    mOptions->SetCount(KStreamOptionsQov::eModels, file->FieldReadGetOccurrenceCount("Model"));
    while (file->FieldReadBegin("Model")) {
        bool isTemplate = std::strcmp(AfterPrefix(file->FieldReadC()), "~qovexport~") == 0;
        file->FieldReadEnd();
        if (isTemplate) {
            mOptions->templateFlag = 1;
            break;
        }
    }
    mOptions->SetCount(KStreamOptionsQov::eDevices, file->FieldReadGetOccurrenceCount("Device"));
    mOptions->SetCount(KStreamOptionsQov::eCharacterCount,
                       file->FieldReadGetOccurrenceCount("CHARACTER"));
    mOptions->SetCount(KStreamOptionsQov::eActors, file->FieldReadGetOccurrenceCount("ACTOR"));
    int constraints = 0;
    if (file->FieldReadBegin("Constraints")) {
        if (file->FieldReadBlockBegin()) {
            while (file->FieldReadBegin("Group")) {
                if (file->FieldReadBlockBegin()) {
                    constraints += file->FieldReadGetOccurrenceCount("Constraint");
                    file->FieldReadBlockEnd();
                }
                file->FieldReadEnd();
            }
            file->FieldReadBlockEnd();
        }
        file->FieldReadEnd();
    }
    mOptions->SetCount(KStreamOptionsQov::eConstraints, constraints);
    int clips = 0;
    if (file->FieldReadBegin("Media")) {
        if (file->FieldReadBlockBegin()) {
            if (file->FieldReadBegin("Video")) {
                if (file->FieldReadBlockBegin()) {
                    while (file->FieldReadBegin("Video")) {
                        if (file->FieldReadBlockBegin()) {
                            if (std::strcmp(file->FieldReadC("Type", ""), "Clip") == 0) ++clips;
                            file->FieldReadBlockEnd();
                        }
                        file->FieldReadEnd();
                    }
                    file->FieldReadBlockEnd();
                }
                file->FieldReadEnd();
            }
            file->FieldReadBlockEnd();
        }
        file->FieldReadEnd();
    }
    mOptions->SetCount(KStreamOptionsQov::eMedia, clips);
    if (!file->IsVersion5Layout()) CountVersion6Objects();
    const bool ok = ReadTakeList();
    ReadSceneInfoIntoOptions();
    file->FieldReadRewind();
    return ok;
}

void KQovWriteSummary(KQovFieldFile* file, const KStreamOptionsQov& options) {
    file->FieldWriteBegin("Summary");
    file->FieldWriteBlockBegin();
    WriteInt(file, "Version", 101);
    WriteInt(file, "Template", (options.templateFlag & 0xff) ? 1 : 0);
    WriteInt(file, "PasswordProtection", (options.passwordFlag & 0xff) ? 1 : 0);
    file->FieldWriteBegin("ContentCount");
    file->FieldWriteBlockBegin();
    file->FieldWriteC("Version", "100");
    for (int i = 0; i < KStreamOptionsQov::eCountCount; ++i)
        WriteInt(file, kCountNames[i], options.GetCount(i));
    file->FieldWriteBlockEnd();
    file->FieldWriteEnd();
    if (const KQovSceneInfo* info = options.sceneInfo) KQovWriteSceneInfo(file, *info);
    file->FieldWriteBegin("Takes");
    file->FieldWriteBlockBegin();
    WriteInt(file, "Version", 101);
    file->FieldWriteC("Current", options.currentTakeName.Buffer());
    for (int i = 0; i < options.GetTakeCount(); ++i) {
        const KQovTakeInfo& take = *options.GetTake(i);
        file->FieldWriteBegin("Take");
        file->FieldWriteC(take.name.Buffer());
        file->FieldWriteBlockBegin();
        if (!take.comment.IsEmpty()) file->FieldWriteC("Comments", take.comment.Buffer());
        file->FieldWriteBegin("LocalTime");
        file->FieldWriteTS(take.localTimeSpan.GetStart(), take.localTimeSpan.GetStop());
        file->FieldWriteEnd();
        file->FieldWriteBegin("ReferenceTime");
        file->FieldWriteTS(take.referenceTimeSpan.GetStart(), take.referenceTimeSpan.GetStop());
        file->FieldWriteEnd();
        KQovWriteThumbnail(file, take.thumbnail);
        file->FieldWriteBlockEnd();
        file->FieldWriteEnd();
    }
    file->FieldWriteBlockEnd();
    file->FieldWriteEnd();
    file->FieldWriteBlockEnd();
    file->FieldWriteEnd();
}

bool KQovReaderQov::WriteSummaryUpdate(bool cut) {
    KQovPropertyFieldFile* file = mFile.get();
    // What reading left in the error object must not stop or taint the write.
    file->GetError().ClearError();
    KQovStream* stream = file->GetStream();
    if (!file->IsBinary() || file->IsEncrypted() || file->GetOpenMode() != KQovFieldFile::eUpdate ||
        !stream || file->GetCurrentPart() >= 0)
        return false;
    // Everything from where the write may start is kept, so a failure puts the file back.
    stream->ClearError();
    const int64_t size = stream->Size();
    int64_t keepFrom = size;
    if (cut && file->GetPartCount() > 1) keepFrom = file->GetPartStart(file->GetLastPartIndex());
    if (keepFrom < 0 || keepFrom > size) return false;
    std::vector<char> kept(static_cast<size_t>(size - keepFrom));
    stream->SetPosition(keepFrom);
    if (!kept.empty() &&
        stream->Read(kept.data(), static_cast<uint32_t>(kept.size())) != kept.size())
        return false;
    bool ok = file->FieldFileAppendPart(cut);
    if (ok) {
        KQovWriteSummary(file, *mOptions);
        file->Finish();
        ok = file->GetLastErrorID() == -1;
    }
    if (!ok) {
        file->Finish();
        stream->ClearError();
        stream->Truncate(keepFrom);
        stream->SetPosition(keepFrom);
        if (!kept.empty()) stream->Write(kept.data(), static_cast<uint32_t>(kept.size()));
        stream->Seek(1, 0);
        // The part list is rebuilt from the file as it now is.
        if (file == mOwnFile.get()) {
            std::string name = file->GetFullName();
            file->Open(name.c_str(), false, false, nullptr);
        }
        file->GetError().ClearError();
    }
    return ok;
}
