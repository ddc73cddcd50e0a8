#pragma once
// The AOA and MCD format classes of the optical marker reader and writer: one text format,
// told apart only by description and root name.

#include "formats/motion/optical/KQovOpticalReader.h"
#include "formats/motion/optical/KQovOpticalWriter.h"

// Variant 0 is AOA, 1 MCD.
enum EMarkerTextVariant { eMarkerVariantAoa = 0, eMarkerVariantMcd = 1 };

class KQovReaderMcd : public KQovOpticalReader {
public:
    KQovReaderMcd(KQovObjectManager* manager, int variant);

protected:
    std::unique_ptr<KMarkerFileInterface> CreateMotionFile(const char* path) override;
    bool IsTextFormat() const override { return true; }
    // Root "...:optical", exact zeros unseen, unseen samples keep the previous position.
    void InitOptions(KStreamOptionsMotion& options) override;
};

class KQovWriterMcd : public KQovOpticalWriter {
public:
    KQovWriterMcd(KQovObjectManager* manager, int variant);

protected:
    std::unique_ptr<KMarkerFileInterface> CreateMotionFile(const char* path) override;
    // The single top node as root.
    void InitOptions(KStreamOptionsMotion& options) override;
};
