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
        if (fileName && KIsSpecialFile(fileName)) {
            const KString text = KString("Cannot read \"") + fileName + "\": not a regular file";
            mError.SetErrorWithText(eFileNotOpened, text.Buffer());
        } else {
            mError.SetErrorWithText(
                eFileNotOpened,
                (std::string("File not opened: ") + (fileName ? fileName : "")).c_str());
        }
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
