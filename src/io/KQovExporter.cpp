#include "io/KQovExporter.h"

#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "fieldfile/KQovFieldFile.h"
#include "foundation/KFileStream.h"
#include "foundation/KPath.h"
#include "foundation/KQuotedText.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovImporter.h"
#include "io/qov/KQovWriterQov5.h"
#include "platform/KPlatformFile.h"
#include "platform/KPlatformSameFile.h"

namespace {

// Exporter switch -> option switch.
int SwitchOption(int index) {
    return index < 3 ? index : index == 3 ? 12 : index;
}

// A writer's error id as the exporter's own; a failure without an id is unidentified.
int ExporterError(int writerError) {
    switch (writerError) {
        case KQovWriter::eFileCorrupted: return KQovIO::eFileCorrupted;
        case KQovWriter::eFileNotOpened: return KQovIO::eFileNotOpened;
        case KQovWriter::eFileNotCreated: return KQovIO::eFileNotCreated;
        case KQovWriter::eOutOfDiskSpace: return KQovIO::eOutOfDiskSpace;
        case KQovWriter::eStreamOptionsNotSet: return KQovIO::eStreamOptionsNotSet;
        default: return KQovIO::eUnidentifiedError;
    }
}

// The file read, asked before a new file takes its place.
struct SourceCheck {
    KQovImporter* source;
    bool outOfMemory = false;
};

bool SourceUnchanged(void* context) {
    auto* check = static_cast<SourceCheck*>(context);
    try {
        return check->source->CheckFileUnchanged();
    } catch (const std::bad_alloc&) {
        check->outOfMemory = true;
        return false;
    }
}

}  // namespace

KQovExporter::KQovExporter(KQovObjectManager* manager) : KQovIO(manager), mPassword("") {
    Reset();
}

KQovExporter::~KQovExporter() {
    SetSource(nullptr);
    Reset();
}

void KQovExporter::SetSource(KQovImporter* importer) {
    if (importer == mSource) return;
    if (importer) importer->mExporters.push_back(this);
    if (mSource) {
        std::vector<KQovExporter*>& told = mSource->mExporters;
        told.erase(std::remove(told.begin(), told.end(), this), told.end());
    }
    mSource = importer;
}

void KQovExporter::Reset() {
    mWriter.reset();
    for (bool& on : mSwitches) on = true;
    mSwitches[3] = false;
    mStatus = "";
}

bool KQovExporter::Initialize(const char* fileName) {
    Reset();
    KQovIO::Initialize(fileName);
    return !RefuseFolderName();
}

bool KQovExporter::RefuseFolderName() {
    // No name names no file: an extension added to it would make a hidden one.
    if (mFileName.IsEmpty()) {
        mError.SetErrorWithText(eFileNotCreated, "Unable to create file: no file name given");
        return true;
    }
    if (!KNamesAFolder(mFileName.Buffer())) return false;
    try {
        mError.SetErrorWithText(eFileNotCreated,
                                ("Unable to create file " + KQovMessageText(mFileName.Buffer()) +
                                 ": the name is a folder")
                                    .c_str());
    } catch (const std::bad_alloc&) {
        mError.SetError(eFileNotCreated);
    }
    return true;
}

bool KQovExporter::RefuseWritingOverSource(const KStreamOptions* options) try {
    const std::string out =
        mFormatId >= 0 && mFormatId <= 4 ? KQovFieldFile::CreatedName(mFileName.Buffer())
                                          : mFileName.Buffer();
    std::vector<std::string> written{out};
    for (const std::string& file : mWriter->GetCompanionFiles(out.c_str(), options)) written.push_back(file);
    // Past these, the project files the write removes.
    const size_t made = written.size();
    if (mFormatId >= 0 && mFormatId <= 4)
        for (const std::string& file : KQovFieldFile::ProjectFilesOf(out.c_str()))
            written.push_back(file);
    const std::vector<std::string>& read = mSource->GetFilesRead();
    const std::vector<KPlatformFileFound>& found = mSource->GetFilesFound();
    for (size_t i = 0; i < read.size() && i < found.size(); ++i) {
        // The file as the read found it, whatever name leads there now; named as it was then.
        const bool input = i == 0;
        const std::string& source = input ? read[i] : found[i].name;
        for (size_t k = 0; k < written.size(); ++k) {
            const std::string& file = written[k];
            if (!KPlatformIsFound(file.c_str(), found[i])) continue;
            const std::string shown = KQovMessageText(file), outShown = KQovMessageText(out);
            std::string text = k >= made ? "the project file " + shown + ", which writing " +
                                               outShown + " removes,"
                               : k == 0 ? "the output " + outShown
                                        : "the file " + shown + " written beside the output";
            text += " is the same file as " +
                    (input ? "the input " + KQovMessageText(source)
                           : KQovMessageText(source) + ", which the read of " +
                                 KQovMessageText(read.front()) + " used") +
                    "; nothing was written";
            mError.SetErrorWithText(eFileNotCreated, text.c_str());
            return true;
        }
    }
    return false;
} catch (const std::bad_alloc&) {
    // Unasked, the files read might be written over: nothing is written.
    mError.SetErrorWithText(eUnidentifiedError, "Out of memory");
    return true;
}

void KQovExporter::SetSwitch(int index, bool on) {
    if (index >= 0 && index < kFlagCount) mSwitches[index] = on;
}

bool KQovExporter::GetSwitch(int index) const {
    return index >= 0 && index < kFlagCount && mSwitches[index];
}

bool KQovExporter::CreateWriter() {
    mWriter.reset();
    if (mFormatId >= 0 && mFormatId < kWritingIdCount)
        mWriter.reset(KQovMakeFormatWriter(mFormatId, mManager, this));
    return mWriter != nullptr;
}

bool KQovExporter::OpenWriter(const KStreamOptions* options) {
    if (mFileName.IsEmpty()) {
        mError.SetError(eUninitializedFilename);
        return false;
    }
    if (RefuseFolderName()) return false;
    if (!mWriter && !CreateWriter()) {
        mError.SetError(eUnidentifiedError);
        return false;
    }
    if (mSource && RefuseWritingOverSource(options)) {
        mWriter.reset();
        return false;
    }
    if (mWriter->FileCreate(mFileName.Buffer())) return true;
    int code = mWriter->GetLastErrorID();
    mError.SetErrorWithText(code == KQovWriter::eFileCorrupted    ? eFileCorrupted
                            : code == KQovWriter::eFileNotCreated ? eFileNotCreated
                                                                  : eUnidentifiedError,
                            mWriter->GetLastErrorString());
    mWriter.reset();
    return false;
}

bool KQovExporter::Export(KQovScene* scene, KStreamOptions* options) {
    try {
        return ExportWith(scene, options);
    } catch (const std::bad_alloc&) {
        // Making the writer or its file ran out (the write itself is guarded within): nothing
        // is in place, and the caller is told as for any other failed export.
        mOptionsInUse = nullptr;
        try {
            if (mWriter) mWriter->FileDiscard();
        } catch (const std::bad_alloc&) {
            // The writer's end drops what is left of its file.
        }
        mWriter.reset();
        try {
            mError.SetErrorWithText(
                eUnidentifiedError,
                ("Out of memory while writing " + KQovMessageText(mFileName.Buffer())).c_str());
        } catch (const std::bad_alloc&) {
            mError.SetErrorWithText(eUnidentifiedError, "Out of memory");
        }
        return false;
    }
}

bool KQovExporter::ExportWith(KQovScene* scene, KStreamOptions* options) {
    // Not even through a link put at a written name after the look below.
    const KPlatformKeepFilesRead keep(mSource ? &mSource->GetFilesFound() : nullptr);
    KStreamOptionsQov local;
    if (!options) {
        if (mFormatId > 4) {
            mError.SetError(eStreamOptionsNotSet);
            return false;
        }
        FillStreamOptions(local);
        // The scene information is reconciled with the scene once the scene model writes.
        options = &local;
    }
    if (!OpenWriter(options)) {
        // Any failure to create is "File not created", with the text of what went wrong.
        const std::string text = mError.GetErrorText();
        mError.SetErrorWithText(eFileNotCreated, text.c_str());
        return false;
    }
    const bool qov = mFormatId >= 0 && mFormatId <= 4;
    if (qov) mOptionsInUse = options;
    SourceCheck source{mSource};
    std::optional<KPlatformCommitGuard> guard;
    bool ok = false;
    bool outOfMemory = false;
    try {
        // The file read is asked whether it changed at the moment a new file would take its
        // place, whichever writer puts it there and whenever: a refused write leaves the old
        // file as it was, and none is refused once its file is in place.
        guard.emplace(mSource ? &SourceUnchanged : nullptr, &source, mFileName.Buffer());
        ok = mWriter->Write(scene, options);
        mWriter->GetStatusText(mStatus);
        if (ok) {
            ok = mWriter->FileClose();
            // Closing may have more to say (a pair's hidden name left behind).
            mWriter->GetStatusText(mStatus);
        } else
            mWriter->FileDiscard();
    } catch (const std::bad_alloc&) {
        // What the writer made is dropped with it; the old file stays.
        outOfMemory = true;
        ok = false;
        mWriter->FileDiscard();
    }
    if (qov) mOptionsInUse = nullptr;
    const bool placed = guard && guard->WatchedPlaced();
    const bool refused = guard && guard->Refused();
    guard.reset();
    if (placed) {
        // The new file is in place: what failed after it is a warning on a write that was made.
        if (!ok) WarnAfterPlacing(outOfMemory);
        mWriter.reset();
        return true;
    }
    if (refused || outOfMemory) {
        mWriter.reset();
        if (refused && !source.outOfMemory)
            mError.SetErrorWithText(eFileCorrupted, mSource->GetLastErrorString());
        else
            mError.SetErrorWithText(
                eUnidentifiedError,
                ("Out of memory while writing " + KQovMessageText(mFileName.Buffer())).c_str());
        return false;
    }
    if (!ok) {
        const int code = mWriter->GetLastErrorID();
        int mine = ExporterError(code);
        // A file told as out of room that failed for another reason (its new file deleted, an
        // error of the system) says that reason instead.
        const std::string problem =
            code == KQovWriter::eOutOfDiskSpace ? KLastReplaceProblem() : "";
        if (!problem.empty()) mine = eFileNotCreated;
        mError.SetError(mine);
        std::string text =
            code >= 0 && problem.empty() ? mWriter->GetLastErrorString() : mError.GetErrorText();
        // A bare table message gets the file it was about.
        if (text == mError.GetErrorText()) text += ": " + KQovMessageText(mFileName.Buffer());
        if (!problem.empty()) text += ": " + problem;
        mError.SetErrorWithText(mine, text.c_str());
    }
    mWriter.reset();
    return ok;
}

void KQovExporter::WarnAfterPlacing(bool outOfMemory) {
    try {
        mWriter->GetStatusText(mStatus);
        std::string text =
            outOfMemory ? std::string("Out of memory") : std::string(mWriter->GetLastErrorString());
        // A word that already says the file is written and what stayed (an old project file
        // beside it) stands alone: nothing was to follow it.
        if (text.find(" is written, but ") == std::string::npos)
            text += " once " + KQovMessageText(mFileName.Buffer()) +
                    " was written; what was to follow it may be missing";
        text += "\n";
        mStatus += text.c_str();
    } catch (const std::bad_alloc&) {
        // The file is whole and in place; only the word about it is lost.
    }
}

void KQovExporter::FillStreamOptions(KStreamOptionsQov& options) const {
    options.Reset();
    if (!mPassword.IsEmpty()) {
        options.passwordFlag = 1;
        options.password = mPassword;
    }
    for (int i = 0; i < kFlagCount; ++i) options.SetSwitch(SwitchOption(i), mSwitches[i]);
}

bool KQovExporter::ExportToFieldFile(KQovScene* scene, KStreamOptions* options,
                                     KQovPropertyFieldFile* fieldFile) {
    if (!options || !fieldFile) {
        mError.SetError(options ? eFileNotCreated : eStreamOptionsNotSet);
        return false;
    }
    mOptionsInUse = options;
    KQovWriterQov5 writer(mManager, this);
    const bool ok = writer.Write(scene, options, fieldFile);
    writer.GetStatusText(mStatus);
    mOptionsInUse = nullptr;
    if (!ok) {
        const int code = writer.GetLastErrorID();
        mError.SetErrorWithText(ExporterError(code),
                                code >= 0 ? writer.GetLastErrorString() : "Unidentified error");
    }
    return ok;
}
