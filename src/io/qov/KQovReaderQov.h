#pragma once
// The reader of QOV files (ASCII, binary, encrypted; version-5 and version-6 layouts): opening,
// header information (takes, counts, scene information from the Summary or by scanning),
// the Summary update, and the main read into a scene.

#include <memory>
#include <vector>

#include "foundation/KStringMap.h"
#include "io/KQovReader.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovPropertyFieldFile.h"

class KQovImporter;
class KQovThumbnail;

class KQovReaderQov : public KQovReader {
public:
    KQovReaderQov(KQovObjectManager* manager, KQovImporter* importer);
    ~KQovReaderQov() override;

    bool FileOpen(const char* fileName) override;
    bool FileClose() override;
    bool IsFileOpen() override { return mFile && mFile->IsOpen(); }
    KStreamOptions* GetReadOptions(bool allowScan) override {
        return ReadHeaderInfo(nullptr, allowScan);
    }
    bool Read(KQovScene* scene, KStreamOptions* options) override {
        return ReadScene(scene, options, nullptr);
    }

    // A new options object holding the file's takes, counts and scene information; the caller
    // owns it. A given field file stands in for the reader's own during the call.
    virtual KStreamOptionsQov* ReadHeaderInfo(KQovPropertyFieldFile* fieldFile, bool allowScan);
    virtual bool ReadScene(KQovScene* scene, KStreamOptions* options,
                           KQovPropertyFieldFile* fieldFile);
    // Rewrites the Summary of the open file from `newInfo`'s takes and scene information.
    virtual bool UpdateSummary(KStreamOptionsQov* newInfo);

    // 2 encrypted, 1 binary, 0 ASCII.
    int GetFileKind() const;
    void GetFileVersion(int& major, int& minor, int& revision) const;
    bool GetCameraResolution(KString& name, KString& mode, double& width, double& height) const {
        return mResolution.Get(name, mode, width, height);
    }
    KQovPropertyFieldFile* GetFieldFile() const { return mFile.get(); }

    // Section readers of the header pass (the current options receive what they read).
    bool ReadSummary(int& partFound);
    void ReadTakeList();
    void ReadContentInformation();
    KQovSceneInfo* ReadSceneInfo();
    KQovSceneInfo* ReadUserData(const char* type);
    KQovThumbnail* ReadThumbnail();
    void DetectLayout(bool openFirstSection);
    // Writes a Summary from the current options as a new last part (`cut`: in place of the
    // last part). All or nothing: on failure the file is put back as it was.
    bool WriteSummaryUpdate(bool cut);

    // Scene-wide sections of the main read, each at the current block.
    bool ReadDefinitions(std::vector<KString>& objectTypes);
    void ReadSceneGenericPersistence(KQovScene* scene);
    void ReadAmbientRenderSettings(KQovScene* scene);
    void ReadFogOptions(KQovScene* scene);
    void ReadShadowPlanes(KQovScene* scene);
    void ReadTimeSettings(KQovScene* scene);
    void ReadRendererSetting(KQovScene* scene);
    // "RendererSetting" and a "Settings" that also holds the producer cameras.
    void ReadVersion5Settings(KQovScene* scene);
    // "Model::" taken off the producer cameras' and the camera switcher's names.
    static KString StripProducerPrefix(const KString& name);

private:
    void Report(const char* text, float percent);
    void ReadSceneInfoIntoOptions();
    void CountVersion6Objects();
    void ReadMetaData(KQovSceneInfo& info);
    void ReadTimeFields(KQovScene* scene);
    void ReadGlobalSettings(KQovScene* scene);

    std::unique_ptr<KQovPropertyFieldFile> mOwnFile;
    // The field file in use: the reader's own, or one a caller lends for one call.
    KQovPropertyFieldFile* mLent = nullptr;
    KQovImporter* mImporter;
    KStreamOptionsQov* mOptions = nullptr;
    KStringMap mNodes{20};
    KStringMap mLookAtNames{20};
    KStringMap mUpVectorNames{20};
    KStringMap mBackgroundNames{20};
    KQovCameraResolution mResolution;

    struct FileRef {
        KQovReaderQov* reader;
        KQovPropertyFieldFile* get() const {
            return reader->mLent ? reader->mLent : reader->mOwnFile.get();
        }
        KQovPropertyFieldFile* operator->() const { return get(); }
        explicit operator bool() const { return get() != nullptr; }
    } mFile{this};
};

// The "Summary" section of `options` at the current position of a file being written.
void KQovWriteSummary(KQovFieldFile* file, const KStreamOptionsQov& options);
