#pragma once
// Base of the readers that open their file only when reading it: opening checks that the
// path can be read and keeps it; closing forgets it.

#include "foundation/KString.h"
#include "io/KQovReader.h"

class KQovPathReader : public KQovReader {
public:
    explicit KQovPathReader(KQovObjectManager* manager) : KQovReader(manager) {}
    ~KQovPathReader() override;

    bool FileOpen(const char* fileName) override;
    bool FileClose() override;
    bool IsFileOpen() override { return mOpen; }

protected:
    KString mFileName;
    bool mOpen = false;
};
