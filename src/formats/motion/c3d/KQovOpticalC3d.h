#pragma once
// The C3D format classes of the optical marker reader and writer.

#include "formats/motion/optical/KQovOpticalReader.h"
#include "formats/motion/optical/KQovOpticalWriter.h"

class KQovReaderC3d : public KQovOpticalReader {
public:
    explicit KQovReaderC3d(KQovObjectManager* manager);

    // A file of analog channels alone reads as its take, without marker nodes.
    bool Read(KQovScene* scene, KStreamOptions* options) override;

protected:
    std::unique_ptr<KMarkerFileInterface> CreateMotionFile(const char* path) override;
    // Settings 3, 4, 6 and 7 on; the start moved by the file's time code.
    void InitOptions(KStreamOptionsMotion& options) override;
};

class KQovWriterC3d : public KQovOpticalWriter {
public:
    explicit KQovWriterC3d(KQovObjectManager* manager);

    // Frame numbers that a C3D header cannot hold are refused before anything is written;
    // a start before 0 is written from frame 0, with a status line saying so.
    bool DoWrite(KQovScene* scene, KStreamOptions* options) override;

protected:
    std::unique_ptr<KMarkerFileInterface> CreateMotionFile(const char* path) override;
    // Float points, occlusion from the curves, the single top node as root.
    void InitOptions(KStreamOptionsMotion& options) override;
    bool GetNameTerms(KQovNameTerms& terms, const std::vector<std::string>& names) const override;
};
