#include "formats/geometry/KQovPathReader.h"

#include "foundation/KFileStream.h"

KQovPathReader::~KQovPathReader() {
    FileClose();
}

bool KQovPathReader::FileOpen(const char* fileName) {
    FileClose();
    KFileStream probe;
    if (!fileName || !probe.Open(fileName, "rb")) {
        mError.SetError(eFileNotOpened);
        return false;
    }
    mFileName = fileName;
    mOpen = true;
    return true;
}

bool KQovPathReader::FileClose() {
    mOpen = false;
    mFileName = "";
    return true;
}
