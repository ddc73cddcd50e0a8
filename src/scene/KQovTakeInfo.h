#pragma once
// Take information record: the name, comment and time spans of one take, as a
// file's "Takes" section stores them. Copies by value; the thumbnail is only
// pointed at (the object manager owns it), so copies share it.

#include "foundation/KString.h"
#include "foundation/KTime.h"

class KQovThumbnail;

struct KQovTakeInfo {
    // The take's values from another record; this record's thumbnail and time
    // offset stay as they are.
    void CopyValues(const KQovTakeInfo& other) {
        name = other.name;
        secondName = other.secondName;
        comment = other.comment;
        select = other.select;
        localTimeSpan = other.localTimeSpan;
        referenceTimeSpan = other.referenceTimeSpan;
    }
    KQovThumbnail* GetTakeThumbnail() const { return thumbnail; }

    KString name;
    KString secondName;  // set to the take's name by the file readers
    KString comment;     // the take's "Comments" text
    bool select = true;  // the take an import is to read
    KTimeSpan localTimeSpan;
    KTimeSpan referenceTimeSpan;
    KTime offset;             // shift applied when takes are aligned in time
    bool offsetGiven = true;  // whether offset was set by the caller
    KQovThumbnail* thumbnail = nullptr;
};
