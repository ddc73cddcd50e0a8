#pragma once
// Writes the marked nodes below the export root as a marker file: their global positions
// relative to the root, frame by frame, unseen where the node's "Occlusion" curve is above 0.5.

#include <memory>
#include <string>
#include <vector>

#include "formats/motion/optical/KMarkerFileInterface.h"
#include "io/KQovWriter.h"

class KStreamOptionsMotion;
struct KQovNameTerms;

class KQovOpticalWriter : public KQovWriter {
public:
    explicit KQovOpticalWriter(KQovObjectManager* manager);
    ~KQovOpticalWriter() override;

    bool DoFileCreate(const char* fileName) override;
    bool DoFileClose() override;
    void DoFileDiscard() override;
    bool IsFileOpen() override { return mFile != nullptr; }
    KStreamOptions* GetWriteOptions() override;
    bool DoWrite(KQovScene* scene, KStreamOptions* options) override;

    const KString& GetDescription() const { return mDescription; }

protected:
    virtual std::unique_ptr<KMarkerFileInterface> CreateMotionFile(const char* path) = 0;
    virtual void InitOptions(KStreamOptionsMotion& options) = 0;
    // How the format's reader takes the labels `names` back (KQovWrittenNames); false for a
    // format that holds no labels.
    virtual bool GetNameTerms(KQovNameTerms&, const std::vector<std::string>&) const {
        return false;
    }

    std::unique_ptr<KMarkerFileInterface> mFile;
    KString mDescription;
    // The format as messages name it ("a TRC").
    const char* mFormat = "a marker";

private:
    bool Fail(int error, const char* text = nullptr);
};
