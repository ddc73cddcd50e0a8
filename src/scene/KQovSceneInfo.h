#pragma once
// Document information of a scene (its "SceneInfo" block). Copies by value;
// it only points at its thumbnail, which the object manager owns.

#include "foundation/KString.h"

class KQovThumbnail;

struct KQovSceneInfo {
    void CopyFrom(const KQovSceneInfo& other) { *this = other; }
    // Empties the six texts and forgets the thumbnail.
    void Clear() { *this = KQovSceneInfo(); }
    void SetThumbnail(KQovThumbnail* thumbnailToShow) { thumbnail = thumbnailToShow; }
    KQovThumbnail* GetThumbnail() const { return thumbnail; }

    KString title;
    KString subject;
    KString author;
    KString keywords;
    KString revision;
    KString comment;
    KQovThumbnail* thumbnail = nullptr;
};
