#include "io/KQovWriter.h"

#include "io/KQovReader.h"
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

KQovNode* KQovWriter::FindSingleChildRoot(KQovScene* scene) {
    KQovNode* root = scene ? scene->GetRootNode() : nullptr;
    return root && root->GetChildCount() == 1 ? root->GetChild(0) : nullptr;
}

std::vector<std::string> KQovWriter::GetCompanionFiles(const char*) const {
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
