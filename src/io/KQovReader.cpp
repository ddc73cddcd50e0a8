#include "io/KQovReader.h"

#include <algorithm>
#include <set>
#include <string>

#include "foundation/KQuotedText.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeWalk.h"

namespace {

const char* const kReaderMessages[KQovReader::eErrorCount] = {
    "File is corrupted",
    "File version is not supported yet",
    "File version is not supported anymore",
    "File not opened",
    "File not created",
    "Wrong password",
    "Stream options not set",
    "Unidentified error"};

void CollectDuplicates(KQovNode* root, std::set<std::string>& seen, std::set<std::string>& reported,
                       KString& message) {
    for (KQovNode* child : KQovListDescendants(root)) {
        std::string name = child->GetName();
        // On the message's one line: each name quoted, after a blank or a comma.
        if (!seen.insert(name).second && reported.insert(name).second) {
            message += reported.size() == 1 ? " \"" : ", \"";
            message += KQovMessageText(name).c_str();
            message += "\"";
        }
    }
}

}  // namespace

KQovReader::KQovReader(KQovObjectManager* manager)
    : mManager(manager), mError(kReaderMessages, eErrorCount) {}

KQovReader::~KQovReader() = default;

void KQovReader::NoteFileRead(const std::string& name) {
    NoteFileRead(name, KPlatformFindAsRead(name.c_str()));
}

void KQovReader::NoteFileRead(const std::string& name, const KPlatformFileFound& found) {
    if (std::find(mOtherFilesRead.begin(), mOtherFilesRead.end(), name) != mOtherFilesRead.end())
        return;
    // The two lists stay in step when memory runs out: the last push cannot throw.
    KPlatformFileFound copy = found;
    mOtherFilesFound.reserve(mOtherFilesRead.size() + 1);
    mOtherFilesRead.push_back(name);
    mOtherFilesFound.push_back(std::move(copy));
}

void KQovReader::ForgetFilesRead() {
    mOtherFilesRead.clear();
    mOtherFilesFound.clear();
}

bool KQovReader::CheckDuplicateNames(KQovNode* node, KString& message) {
    return KQovAppendDuplicateNames(node, message);
}

bool KQovAppendDuplicateNames(KQovNode* node, KString& message) {
    if (!node) return true;
    std::set<std::string> seen, reported;
    CollectDuplicates(node, seen, reported, message);
    return reported.empty();
}
