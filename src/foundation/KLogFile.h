#pragma once
// Messages gathered during an import or export, written with a date line and a header to a
// text file in the plug-in folder.

#include "foundation/KString.h"
#include "foundation/KStringList.h"

class KLogFile {
public:
    // The path is the plug-in folder followed directly by `fileName`.
    KLogFile(const char* fileName, const char* header, bool append, bool writeOnDestruction);
    ~KLogFile();
    KLogFile(const KLogFile&) = delete;
    KLogFile& operator=(const KLogFile&) = delete;

    void AddMessage(const char* text) { mMessages.Add(text); }
    // Writes the file when there is at least one message; the messages stay. False when there
    // was something to write and the file could not be written.
    bool Write();

    const char* GetPath() const { return mPath.Buffer(); }
    const KStringList& GetMessages() const { return mMessages; }

private:
    KString mPath;
    KString mHeader;
    bool mAppend;
    bool mWriteOnDestruction;
    KStringList mMessages;
};
