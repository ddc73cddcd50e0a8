#include "formats/motion/optical/KMarkerTextFile.h"

#include "foundation/KFileStream.h"
#include "foundation/KLocale.h"

KMarkerTextFile::KMarkerTextFile(const char* formatName, const char* separators)
    : KMotionFile(formatName, separators, nullptr, true, false) {}

KMarkerTextFile::~KMarkerTextFile() = default;

int KMarkerTextFile::Open(const char* path, const char* mode) {
    mWriteFailed = false;
    mEndResult = -1;
    mFileSize = 0;
    if (path && mode && mode[0] == 'r') {
        KFileStream probe;
        if (probe.Open(path, "rb") && probe.Seek(2, 0) == 0) mFileSize = probe.Tell();
    }
    return KMotionFile::Open(path, mode);
}

int KMarkerTextFile::Close() {
    if (IsOpen()) return KMotionFile::Close();
    const int result = mEndResult < 0 ? 1 : mEndResult;
    mEndResult = -1;
    return result;
}

std::string KMarkerTextFile::GetLocation() const {
    return GetLineNumber() > 0 ? "line " + std::to_string(GetLineNumber()) : std::string();
}

void KMarkerTextFile::Discard() {
    KMotionFile::Discard();
    mEndResult = -1;
}

bool KMarkerTextFile::EndWrite() {
    if (!IsOpen()) return false;
    // Every byte goes out here, so a full disk shows in the write; the file is put in place
    // only by Close.
    if (mWriteFailed || !Flush()) {
        KMotionFile::Discard();
        mEndResult = 1;
        return false;
    }
    return true;
}

bool KMarkerTextFile::Put(const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (!KFileNumbersOnly(format, args))
        FailNumber();
    else if (VPrintf(0, format, args) < 0)
        mWriteFailed = true;
    va_end(args);
    return !mWriteFailed;
}
