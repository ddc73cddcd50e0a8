#pragma once
// The TRC format classes of the optical marker reader and writer. The reader also takes its
// start from a time-code file beside the TRC file (same name, extension ".tc").

#include <string_view>

#include "formats/motion/optical/KQovOpticalReader.h"
#include "formats/motion/optical/KQovOpticalWriter.h"

class KQovReaderTrc : public KQovOpticalReader {
public:
    explicit KQovReaderTrc(KQovObjectManager* manager);

    // None, with the error, when the time-code file could not be read (opened but its reading
    // failed, or not opened for want of memory or by a failing disk): that is no time code
    // missing.
    KStreamOptions* GetReadOptions(bool allowScan) override;

protected:
    std::unique_ptr<KMarkerFileInterface> CreateMotionFile(const char* path) override;
    bool IsTextFormat() const override { return true; }
    // Settings 3, 4 and 6 on; the start from the time-code file when there is one and the
    // caller agrees.
    void InitOptions(KStreamOptionsMotion& options) override;

private:
    // True, keeping the error, when the time-code file at `path` could not be opened for want
    // of memory or by a failing disk.
    bool TimeCodeOpenFailed(const KString& path);
    // The time-code file whose reading failed and the system's error number; 0 when none did.
    KString mTimeCodePath;
    int mTimeCodeError = 0;
};

class KQovWriterTrc : public KQovOpticalWriter {
public:
    explicit KQovWriterTrc(KQovObjectManager* manager);

protected:
    std::unique_ptr<KMarkerFileInterface> CreateMotionFile(const char* path) override;
    // Occlusion from the curves, the single top node as root.
    void InitOptions(KStreamOptionsMotion& options) override;
    bool GetNameTerms(KQovNameTerms& terms, const std::vector<std::string>& names) const override;
};

// A time-code file's text: "h:m:s:f", a kind ("SMPTE", "EBU" or "System Clock") and a rate,
// one a line. False when it is not one or its frames do not fit its rate.
bool KTrcParseTimeCode(std::string_view text, KTime& time);
