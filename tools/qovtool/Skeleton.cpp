#include "tools/qovtool/Skeleton.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "formats/motion/asf/KQovAcclaimFiles.h"
#include "foundation/KFileStream.h"
#include "foundation/KPath.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovReader.h"
#include "platform/KPlatformFile.h"
#include "platform/KPlatformStdio.h"
#include "tools/qovtool/Formats.h"
#include "tools/qovtool/Streams.h"

bool QovToolSkeletonFlagApplies(const char* file, const char* chosen) {
    if (!chosen || QovToolReadingIdOf(file) == kQovToolAmcReader) return true;
    QovToolSay(
        "qovtool: --skeleton is for Acclaim motion (.amc) input only, and %s is not an "
        "AMC file\n",
        QovToolShown(file).c_str());
    return false;
}

namespace {

// A skeleton that is there but cannot be opened (denied, too many open files) is no missing one:
// "X: cause", or "" when it opens or is not there.
std::string WhyNotOpened(const char* path) {
    const int why = KPlatformReadOpenError(path);
    if (why == 0 || why == ENOENT) return "";
    return std::string(path) + ": " + KPlatformErrorText(why);
}

}  // namespace

bool QovToolFindSkeleton(const std::string& file, int readId, const char* chosen,
                         std::string& skeleton, std::string& error) {
    skeleton.clear();
    if (readId != kQovToolAmcReader) {
        if (!chosen) return true;
        error = "--skeleton applies to an Acclaim motion (.amc) input only";
        return false;
    }
    if (chosen) {
        if (KFileExists(chosen)) {
            error = KQovAcclaimOneFileError(chosen, file.c_str());
            if (!error.empty()) return false;
            skeleton = chosen;
            return true;
        }
        if (KIsFolder(chosen))
            error = std::string("the skeleton named is a folder, not a file: ") + chosen;
        else if (KIsSpecialFile(chosen))
            error = std::string("the skeleton named is not a regular file: ") + chosen;
        else if (const std::string why = WhyNotOpened(chosen); !why.empty())
            error = "skeleton file not opened: " + why;
        else
            error = std::string("skeleton file not found: ") + chosen;
        return false;
    }
    std::string tried;
    skeleton = KQovFindAcclaimSkeleton(file.c_str(), tried, &error).Buffer();
    // The motion file's header could not be read: no word on where a skeleton may lie.
    if (skeleton.empty() && !error.empty()) return false;
    if (!skeleton.empty()) {
        // A skeleton that is the motion file itself would be read as a broken skeleton.
        error = KQovAcclaimOneFileError(skeleton.c_str(), file.c_str());
        if (error.empty()) return true;
        skeleton.clear();
        return false;
    }
    for (const KString& candidate : KQovAcclaimSkeletonCandidates(file.c_str()))
        if (const std::string why = WhyNotOpened(candidate.Buffer()); !why.empty()) {
            error = "skeleton file not opened: " + why;
            return false;
        }
    error = "no skeleton file for this motion file (looked for " + tried +
            "; name one with --skeleton FILE)";
    return false;
}

bool QovToolReadSkeleton(KQovObjectManager& manager, KQovScene* scene,
                         const std::string& skeleton, KStreamOptions* options, std::string& error) {
    std::unique_ptr<KQovReader> reader(KQovMakeFormatReader(kQovToolAsfReader, &manager));
    if (!reader) {
        error = "no reader for this format";
        return false;
    }
    if (!reader->FileOpen(skeleton.c_str()) || !reader->Read(scene, options)) {
        error = QovToolReaderError(*reader);
        return false;
    }
    return true;
}
