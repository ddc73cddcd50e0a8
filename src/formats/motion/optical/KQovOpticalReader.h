#pragma once
// Reads a marker file into a scene: one optical marker node per marker under a new optical
// root, each with X, Y, Z translation and "Occlusion" keys in a take named after the file.
// Format classes give the marker file and their option defaults.

#include <memory>
#include <string>
#include <vector>

#include "formats/motion/optical/KMarkerFileInterface.h"
#include "io/KQovReader.h"

class KStreamOptionsMotion;

class KQovOpticalReader : public KQovReader {
public:
    explicit KQovOpticalReader(KQovObjectManager* manager);
    ~KQovOpticalReader() override;

    bool FileOpen(const char* fileName) override;
    bool FileClose() override;
    bool IsFileOpen() override { return mFile != nullptr; }
    KStreamOptions* GetReadOptions(bool allowScan) override;
    bool Read(KQovScene* scene, KStreamOptions* options) override;

    const KString& GetDescription() const { return mDescription; }

protected:
    // An opened marker file, or none.
    virtual std::unique_ptr<KMarkerFileInterface> CreateMotionFile(const char* path) = 0;
    // Text formats refuse UTF-16 text; a binary format's header may look like it.
    virtual bool IsTextFormat() const { return false; }
    virtual void InitOptions(KStreamOptionsMotion& options) = 0;

    std::unique_ptr<KMarkerFileInterface> mFile;
    KString mFileName;
    KString mDescription;
    KString mPrefix;

private:
    // The table message of `error`, then ": ", `what` and where the file stopped, when given.
    bool Fail(int error, const std::string& what = std::string());
    void MakeNamesUnique(std::vector<std::string>& names, KStreamOptionsMotion& options);
    std::vector<KQovNode*> CreateMarkerNodes(const std::vector<std::string>& names, int extra);
    // None when names clash; `refused` then says which.
    KQovNode* CreateOpticalRoot(KStreamOptionsMotion& options, KQovScene* scene,
                                const std::vector<KQovNode*>& nodes, KString& refused);
    void LoadFramesIntoCurves(KStreamOptionsMotion& options, const std::vector<KQovNode*>& nodes,
                              const KString& take, std::vector<KMarkerFrame>& frames, double scale);
    // The take `take` from `start` to `stop`, current, at the options' time mode.
    void StoreTake(KQovScene* scene, const KStreamOptionsMotion& options, const KString& take,
                   KTime start, KTime stop);
};
