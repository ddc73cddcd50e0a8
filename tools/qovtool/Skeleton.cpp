#include "tools/qovtool/Skeleton.h"

#include <cstdio>
#include <memory>

#include "formats/motion/asf/KQovAcclaimFiles.h"
#include "foundation/KFileStream.h"
#include "foundation/KPath.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovReader.h"
#include "tools/qovtool/Formats.h"
#include "tools/qovtool/Streams.h"

bool QovToolSkeletonFlagApplies(const char* file, const char* chosen) {
    if (!chosen || QovToolReadingIdOf(file) == kQovToolAmcReader) return true;
    QovToolSay(
        "qovtool: --skeleton is for Acclaim motion (.amc) input only, and %s is not an "
        "AMC file\n",
        file);
    return false;
}

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
        else
            error = std::string("skeleton file not found: ") + chosen;
        return false;
    }
    std::string tried;
    skeleton = KQovFindAcclaimSkeleton(file.c_str(), tried).Buffer();
    if (!skeleton.empty()) {
        // A skeleton that is the motion file itself would be read as a broken skeleton.
        error = KQovAcclaimOneFileError(skeleton.c_str(), file.c_str());
        if (error.empty()) return true;
        skeleton.clear();
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
