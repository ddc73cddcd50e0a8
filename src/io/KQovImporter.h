#pragma once
// Entry point for reading a file into a scene: picks the reader of the file-format id, opens
// the file, offers its take list and version, and runs the read.

#include <memory>
#include <string>
#include <vector>

#include "io/KQovIO.h"
#include "io/KQovReader.h"
#include "io/KStreamOptionsQov.h"

class KQovExporter;
class KQovPropertyFieldFile;
class KQovScene;

class KQovImporter : public KQovIO {
public:
    static constexpr int kReadingIdCount = 17;

    explicit KQovImporter(KQovObjectManager* manager);
    ~KQovImporter() override;

    void Reset();
    bool Initialize(const char* fileName) override;
    bool IsNativeFileName() const;
    // Opens the file (a QOV file is read to its first part); running out of memory is "Out of
    // memory while reading ...", as for Import and the take list.
    bool CreateReader();
    // Running out of memory is an error like any other ("Out of memory while reading ..."):
    // the reader is dropped, the scene keeps what was read. A scene of another manager is
    // refused.
    bool Import(KQovScene* scene, KStreamOptions* options);
    // False, with the read's "cut short" error, when the QOV file read has been cut or written
    // in place since it was opened: a scene read from it may then not be the file's. Cheap (the
    // system is asked about the open file), so it can be asked once more before something made
    // from the scene is kept. Files of the other formats are read whole by Import: true.
    bool CheckFileUnchanged();
    // The files the last import read: the file named and those its read used (an OBJ file's
    // material libraries and images, an AMC file's skeleton). An exporter given this importer
    // as its source writes over none of them.
    const std::vector<std::string>& GetFilesRead() const { return mFilesRead; }
    // The same files, each as the read found it: what an exporter compares its files with.
    const std::vector<KPlatformFileFound>& GetFilesFound() const { return mFilesFound; }

    int GetTakeCount();
    KQovTakeInfo* GetTakeInfo(int index);
    void GetFileVersion(int& major, int& minor, int& revision) const;
    int GetFileFormat() const { return mFormatId; }
    bool GetCameraResolution(KString& name, KString& mode, double& width, double& height) const {
        return mResolution.Get(name, mode, width, height);
    }
    const KString& GetCurrentTakeName() const { return mCurrentTake; }

    // Indexes outside 0 to 10 are ignored (false when read).
    void SetOptionFlag(int index, bool on);
    bool GetOptionFlag(int index) const;
    void SetPassword(const char* password) { mPassword = password ? password : ""; }

    void FillStreamOptions(KStreamOptionsQov& options) const;
    void TakeStreamOptions(const KStreamOptionsQov& options);
    KStreamOptionsQov* GetReadOptionsFromFieldFile(KQovPropertyFieldFile* fieldFile);
    bool ImportFromFieldFile(KQovScene* scene, KStreamOptions* options,
                             KQovPropertyFieldFile* fieldFile);

private:
    // Import, which turns running out of memory into an error.
    bool ImportWith(KQovScene* scene, KStreamOptions* options);
    bool OpenReader();
    bool FetchTakes();
    bool FetchTakesWith();
    // Drops the reader and says memory ran out while reading; false.
    bool ReadOutOfMemory();
    // The reader's options are released once copied in.
    void ReleaseOptions(KStreamOptions* options);
    // Options the reader made, released however the read ends: a refused allocation throws
    // past the end.
    struct OptionsRelease {
        KQovImporter* importer;
        void operator()(KStreamOptions* options) const { importer->ReleaseOptions(options); }
    };
    using HeldOptions = std::unique_ptr<KStreamOptions, OptionsRelease>;

    int mFormatId = 0;
    std::unique_ptr<KQovReader> mReader;
    bool mTakesFetched = false;
    // The reader's failure as the importer's error, with the reader's text.
    void TakeReaderError();
    KString mPassword;
    std::vector<std::unique_ptr<KQovTakeInfo>> mTakes;
    KQovSceneInfo* mSceneInfo = nullptr;
    KString mCurrentTake;
    KQovCameraResolution mResolution;
    bool mFlags[kFlagCount] = {};
    int mVersion[3] = {};
    std::vector<std::string> mFilesRead;
    std::vector<KPlatformFileFound> mFilesFound;
    // Notes a file the read used in both lists, which stay in step when memory runs out.
    void NoteFileRead(const std::string& name, KPlatformFileFound found);
    // Exporters that name this importer as their source; told when it goes.
    friend class KQovExporter;
    std::vector<KQovExporter*> mExporters;
};
