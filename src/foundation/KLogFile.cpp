#include "foundation/KLogFile.h"

#include <cstdio>

#include "foundation/KPath.h"
#include "platform/KPlatformFile.h"
#include "platform/KPlatformSystem.h"

KLogFile::KLogFile(const char* fileName, const char* header, bool append, bool writeOnDestruction)
    : mPath(KString(KGetPluginFolder()) + (fileName ? fileName : "")),
      mHeader(header ? header : ""),
      mAppend(append),
      mWriteOnDestruction(writeOnDestruction) {}

KLogFile::~KLogFile() {
    if (mWriteOnDestruction) Write();
}

bool KLogFile::Write() {
    if (mMessages.GetCount() == 0) return true;
    FILE* file = KPlatformOpenFile(mPath.Buffer(), mAppend ? "a+" : "w");
    if (!file) return false;
    KPlatformLocalTime now;
    KPlatformGetLocalTime(now);
    bool ok = true;
    if (mAppend) ok = fputs("\n\n", file) >= 0;
    ok = fprintf(file, "Date: %d/%d/%d %d:%d\n", now.day, now.month, now.year, now.hour,
                 now.minute) >= 0 &&
         ok;
    ok = fprintf(file, "%s\n\n", mHeader.Buffer()) >= 0 && ok;
    for (int i = 0; i < mMessages.GetCount(); ++i)
        ok = fprintf(file, "\t%s\n", mMessages.GetAt(i)) >= 0 && ok;
    ok = fclose(file) == 0 && ok;
    return ok;
}
