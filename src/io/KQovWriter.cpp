#include "io/KQovWriter.h"

#include "io/KQovReader.h"

namespace {
const char* const kWriterMessages[KQovWriter::eErrorCount] = {
    "File is corrupted", "File not opened",        "File not created",
    "Out of disk space", "Stream options not set", "Unidentified error"};
}

KQovWriter::KQovWriter(KQovObjectManager* manager)
    : mManager(manager), mError(kWriterMessages, eErrorCount) {}

KQovWriter::~KQovWriter() = default;

bool KQovWriter::CheckNodeNames(KQovNode* root, KString& message) {
    return KQovAppendDuplicateNames(root, message);
}
