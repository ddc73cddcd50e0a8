#pragma once
// A marker file kept as motion text: opening and closing through the text file, and writes
// whose failure is remembered, so that a full disk is reported instead of taken for success.

#include "formats/motion/KMotionFile.h"
#include "formats/motion/optical/KMarkerFileInterface.h"

class KMarkerTextFile : public KMotionFile, public KMarkerFileInterface {
public:
    // Reporting is off: the marker readers carry failures in their error codes.
    KMarkerTextFile(const char* formatName, const char* separators);
    ~KMarkerTextFile() override;

    int Open(const char* path, const char* mode) override;
    // As the text file's Close; 1 after an EndWrite that failed (and dropped the file).
    int Close() override;
    void Discard() override;
    bool EndWrite() override;
    std::string GetLocation() const override;
    // A read that met a line too long is no result, whatever came of the lines before.
    bool EndRead() override { return !StoppedShort(); }
    int GetReadError() const override { return KMotionFile::GetReadError(); }
    bool IsNumberRefused() const override { return KMotionFile::IsNumberRefused(); }

protected:
    // Bytes of the file opened for reading, for bounding the counts a header claims.
    int64_t GetFileSize() const { return mFileSize; }
    // Printf without indent; false once anything failed to be written (a number that is no
    // file number too).
    bool Put(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // For text formatted without Put: fails the file as Put fails it on such a number.
    bool FailNumber() {
        RefuseNumber();
        mWriteFailed = true;
        return false;
    }

private:
    int64_t mFileSize = 0;
    bool mWriteFailed = false;
    int mEndResult = -1;
};
