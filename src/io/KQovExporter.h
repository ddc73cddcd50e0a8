#pragma once
// Entry point for writing a scene into a file: picks the writer of the file-format id,
// builds its options from the switches, creates the file and runs the write.

#include <memory>

#include "io/KQovIO.h"
#include "io/KQovWriter.h"
#include "io/KStreamOptionsQov.h"

class KQovImporter;
class KQovPropertyFieldFile;
class KQovScene;

class KQovExporter : public KQovIO {
public:
    static constexpr int kWritingIdCount = 19;

    explicit KQovExporter(KQovObjectManager* manager);
    ~KQovExporter() override;

    void Reset();
    // False for a name that can only be a folder ("d/", ".", "d/.."): no file is written by it.
    bool Initialize(const char* fileName) override;
    // Indexes outside 0 to 10 are ignored (false when read).
    void SetSwitch(int index, bool on);
    bool GetSwitch(int index) const;
    void SetFileFormat(int id) { mFormatId = id; }
    int GetFileFormat() const { return mFormatId; }
    // The written file is protected by this password when it is not empty.
    void SetPassword(const char* password) { mPassword = password ? password : ""; }

    // The importer that read the scene, or null: a new file takes the old one's place only
    // while the file read is unchanged (KQovImporter::CheckFileUnchanged), asked at the moment
    // each file the write makes would be put in place, up to the file named, so that no byte of
    // it changed before its last use. A write that would replace a file the import read
    // (KQovImporter::GetFilesRead) is refused before anything is written. Kept until set again
    // or until the importer goes: the exporter then has no source. May throw std::bad_alloc,
    // the source then unchanged.
    void SetSource(KQovImporter* importer);

    bool CreateWriter();
    // `options` are those the write will use (null: the writer's own), for the files it makes.
    bool OpenWriter(const KStreamOptions* options = nullptr);
    // Running out of memory is an error like any other ("Out of memory while writing ..."):
    // the old file stays. Once the new file is in place the export has succeeded: a failure
    // after that is a warning in the status text.
    bool Export(KQovScene* scene, KStreamOptions* options);
    void FillStreamOptions(KStreamOptionsQov& options) const;
    // Writes the scene in the version-5 layout at the current position of a field file that
    // is already open (a scene nested in another file); the file stays open.
    bool ExportToFieldFile(KQovScene* scene, KStreamOptions* options,
                           KQovPropertyFieldFile* fieldFile);

private:
    // Export itself, the writer's making and opening outside its guard against running out.
    bool ExportWith(KQovScene* scene, KStreamOptions* options);
    // The status text with the warning for a failure after the file was put in place.
    void WarnAfterPlacing(bool outOfMemory);
    // True, with the error, when the file name cannot be a file, or when a file the write would
    // replace is one the source read.
    bool RefuseFolderName();
    bool RefuseWritingOverSource(const KStreamOptions* options);

    int mFormatId = 0;
    std::unique_ptr<KQovWriter> mWriter;
    KString mPassword;
    friend class KQovImporter;  // clears the source as it goes
    KQovImporter* mSource = nullptr;
    bool mSwitches[kFlagCount] = {};
};
