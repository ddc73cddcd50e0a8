#include "io/KQovExporter.h"

#include <new>
#include <string>

#include "foundation/KFileStream.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovImporter.h"
#include "io/qov/KQovWriterQov5.h"
#include "io/qov/KQovWriterQov6.h"

namespace {

// Exporter switch -> option switch.
int SwitchOption(int index) {
    return index < 3 ? index : index == 3 ? 12 : index;
}

// The writers by writing id; formats whose writer is not built yet are absent.
KQovWriter* MakeWriter(int id, KQovObjectManager* manager, KQovIO* owner) {
    if (id >= 0 && id <= 2) {
        // Version-6 QOV: id 0 binary, id 1 ASCII, id 2 binary and encrypted.
        auto* writer = new KQovWriterQov6(manager, owner);
        static const int kModes[] = {KQovWriterQov5::eBinary, KQovWriterQov5::eAscii,
                                     KQovWriterQov5::eEncrypted};
        writer->SetFileMode(kModes[id]);
        return writer;
    }
    if (id == 3 || id == 4) {
        // Version-5 QOV: id 3 binary, id 4 ASCII.
        auto* writer = new KQovWriterQov5(manager, owner);
        writer->SetFileMode(id == 3 ? KQovWriterQov5::eBinary : KQovWriterQov5::eAscii);
        return writer;
    }
    return id > 4 ? KQovMakeFormatWriter(id, manager) : nullptr;
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

}  // namespace

KQovExporter::KQovExporter(KQovObjectManager* manager) : KQovIO(manager), mPassword("") {
    Reset();
}

KQovExporter::~KQovExporter() {
    Reset();
}

void KQovExporter::Reset() {
    mWriter.reset();
    for (bool& on : mSwitches) on = true;
    mSwitches[3] = false;
    mStatus = "";
}

bool KQovExporter::Initialize(const char* fileName) {
    Reset();
    return KQovIO::Initialize(fileName);
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
        mWriter.reset(MakeWriter(mFormatId, mManager, this));
    return mWriter != nullptr;
}

bool KQovExporter::OpenWriter() {
    if (mFileName.IsEmpty()) {
        mError.SetError(eUninitializedFilename);
        return false;
    }
    if (!mWriter && !CreateWriter()) {
        mError.SetError(eUnidentifiedError);
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
    if (!OpenWriter()) {
        // Any failure to create is "File not created", with the text of what went wrong.
        const std::string text = mError.GetErrorText();
        mError.SetErrorWithText(eFileNotCreated, text.c_str());
        return false;
    }
    const bool qov = mFormatId >= 0 && mFormatId <= 4;
    if (qov) mOptionsInUse = options;
    bool ok;
    try {
        ok = mWriter->Write(scene, options);
        mWriter->GetStatusText(mStatus);
        // The new file takes the place of the old one only after a whole write, from a file
        // read that no one changed meanwhile; a refused or failed one leaves the old file as
        // it was.
        if (ok && mSource && !mSource->CheckFileUnchanged()) {
            mWriter->FileDiscard();
            mWriter.reset();
            if (qov) mOptionsInUse = nullptr;
            mError.SetErrorWithText(eFileCorrupted, mSource->GetLastErrorString());
            return false;
        }
        if (ok)
            ok = mWriter->FileClose();
        else
            mWriter->FileDiscard();
    } catch (const std::bad_alloc&) {
        // What the writer made is dropped with it; the old file stays.
        mOptionsInUse = nullptr;
        mWriter->FileDiscard();
        mWriter.reset();
        mError.SetErrorWithText(
            eUnidentifiedError,
            (std::string("Out of memory while writing ") + mFileName.Buffer()).c_str());
        return false;
    }
    if (qov) mOptionsInUse = nullptr;
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
        if (text == mError.GetErrorText()) text += std::string(": ") + mFileName.Buffer();
        if (!problem.empty()) text += ": " + problem;
        mError.SetErrorWithText(mine, text.c_str());
    }
    mWriter.reset();
    return ok;
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
