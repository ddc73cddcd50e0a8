#include "io/KQovExporter.h"

#include "io/KQovFormatFactory.h"
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
    // OpenWriter's error and its text are what the caller needs to see.
    if (!OpenWriter()) return false;
    const bool qov = mFormatId >= 0 && mFormatId <= 4;
    if (qov) mOptionsInUse = options;
    bool ok = mWriter->Write(scene, options);
    mWriter->GetStatusText(mStatus);
    if (qov) mOptionsInUse = nullptr;
    mWriter.reset();
    if (!ok) mError.SetError(eOutOfDiskSpace);
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
    if (!ok) mError.SetError(eOutOfDiskSpace);
    return ok;
}
