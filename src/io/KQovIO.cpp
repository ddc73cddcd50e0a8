#include "io/KQovIO.h"

#include "io/KStreamOptions.h"

namespace {
const char* const kIOMessages[KQovIO::eErrorCount] = {
    "File is corrupted",
    "File version is not supported yet",
    "File version is not supported anymore",
    "File not opened",
    "File not created",
    "Out of disk space",
    "Uninitialized filename, use method Initialize(kCharPtr pFilename) first",
    "Unidentified error",
    "Index out of range",
    "Password error",
    "Stream options not set"};
}  // namespace

KQovIO::KQovIO(KQovObjectManager* manager)
    : mError(kIOMessages, eErrorCount), mFileName(""), mManager(manager), mStatus("") {}

KQovIO::~KQovIO() = default;

bool KQovIO::Initialize(const char* fileName) {
    mFileName = fileName ? fileName : "";
    return true;
}

void KQovIO::Report(int first, const char* text, const char* detail, float percent) {
    if (!mOptionsInUse) return;
    KString message(text ? text : "");
    if (detail && *detail) {
        message += " - ";
        message += detail;
    }
    mOptionsInUse->Progress(first, text ? message.Buffer() : nullptr, percent);
}
