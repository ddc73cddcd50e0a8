#include "formats/geometry/KQovPathReader.h"

#include <string>

#include "foundation/KFileStream.h"

KQovPathReader::~KQovPathReader() {
    FileClose();
}

bool KQovPathReader::FileOpen(const char* fileName) {
    FileClose();
    KFileStream probe;
    if (!fileName || !probe.Open(fileName, "rb")) {
        mError.SetErrorWithText(eFileNotOpened, KOpenForReadError(fileName).c_str());
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
