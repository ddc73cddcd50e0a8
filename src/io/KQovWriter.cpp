#include "io/KQovWriter.h"

#include "attributes/KQovMesh.h"
#include "foundation/KLocale.h"
#include "foundation/KQuotedText.h"
#include "io/KQovReader.h"
#include "scene/KQovNodeWalk.h"
#include "scene/KQovNode.h"
#include "scene/KQovScene.h"

namespace {
const char* const kWriterMessages[KQovWriter::eErrorCount] = {
    "File is corrupted", "File not opened",        "File not created",
    "Out of disk space", "Stream options not set", "Unidentified error"};
}

KQovWriter::KQovWriter(KQovObjectManager* manager)
    : mManager(manager), mError(kWriterMessages, eErrorCount) {}

KQovWriter::~KQovWriter() = default;

bool KQovWriter::FileCreate(const char* fileName) {
    // Only FileClose puts a file in place, never the next one begun.
    FileDiscard();
    // Kept for a second try after a failed Write, which begins the file afresh.
    mFileName.assign(fileName ? fileName : "");
    // The words of a file written before are not this one's.
    mStatus = "";
    const bool created = DoFileCreate(fileName);
    mBegun = created ? Begun::eCreated : Begun::eNone;
    return created;
}

bool KQovWriter::Write(KQovScene* scene, KStreamOptions* options) {
    if (mBegun == Begun::eWritten) {
        // A second scene would follow the first in one file, which no reader takes back.
        mError.SetErrorWithText(eFileNotCreated,
                                "File not created: the file begun holds a Write already; "
                                "FileCreate begins the next one");
        mBegun = Begun::eFailed;
        return false;
    }
    if (mBegun == Begun::eNone || mBegun == Begun::eNoFile) {
        // With no file begun there is nothing to write into: the format says so, and a close
        // keeps what it said.
        mBegun = Begun::eNoFile;
        return DoWrite(scene, options);
    }
    if (mBegun == Begun::eFailed) {
        // A second try begins the file afresh: nothing a failed Write left in it may stay, and
        // a format that dropped its file on the failure has one again.
        DoFileDiscard();
        if (!DoFileCreate(mFileName.c_str())) {
            mBegun = Begun::eFailed;
            return false;
        }
    }
    // Set first so that a write cut short by an exception counts as failed too.
    mBegun = Begun::eFailed;
    const bool written = DoWrite(scene, options);
    mBegun = written ? Begun::eWritten : Begun::eFailed;
    return written;
}

bool KQovWriter::FileClose() {
    const Begun begun = mBegun;
    if (begun == Begun::eWritten) {
        mBegun = Begun::eNone;
        return DoFileClose();
    }
    FileDiscard();
    if (begun == Begun::eNone)
        mError.SetError(eFileNotOpened);
    else if (begun == Begun::eCreated)
        mError.SetErrorWithText(eFileNotCreated,
                                "File not created: it was closed before a Write filled it");
    return false;
}

void KQovWriter::FileDiscard() {
    mBegun = Begun::eNone;
    DoFileDiscard();
}

KQovNode* KQovWriter::FindSingleChildRoot(KQovScene* scene) {
    KQovNode* root = scene ? scene->GetRootNode() : nullptr;
    return root && root->GetChildCount() == 1 ? root->GetChild(0) : nullptr;
}

std::vector<std::string> KQovWriter::GetCompanionFiles(const char*, const KStreamOptions*) const {
    return {};
}

bool KQovWriter::CheckNodeNames(KQovNode* root, KString& message) {
    return KQovAppendDuplicateNames(root, message);
}

bool KQovWriter::FailNothingToWrite(const char* format, const char* holds) {
    const KString text = KString("Nothing to write: ") + format + " file holds " + holds +
                         " only, and the scene holds none";
    mError.SetErrorWithText(eFileNotCreated, text.Buffer());
    return false;
}

bool KQovWriter::RefuseMeshesMissingPoints(KQovNode* root) {
    if (!root) return true;
    for (KQovNode* node : KQovListNodes(root)) {
        const KQovMesh* mesh = node->GetMesh();
        int polygon = 0, point = 0;
        if (!mesh || !mesh->FindMissingPoint(polygon, point)) continue;
        const std::string text = KFormatC(
            "The mesh of node \"%s\" names control point %d in polygon %d but has %d control "
            "points",
            KQovMessageText(node->GetNameWithoutPrefix().Buffer()).c_str(), point, polygon,
            mesh->GetControlPointsCount());
        mError.SetErrorWithText(eFileNotCreated, text.c_str());
        return false;
    }
    return true;
}
