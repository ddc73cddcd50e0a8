#include "tools/qovtool/Skeleton.h"

#include "formats/motion/asf/KQovAcclaimFiles.h"
#include "foundation/KPath.h"

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
            skeleton = chosen;
            return true;
        }
        error = std::string("skeleton file not found: ") + chosen;
        return false;
    }
    std::string tried;
    for (const KString& candidate : KQovAcclaimSkeletonCandidates(file.c_str())) {
        if (KFileExists(candidate.Buffer())) {
            skeleton = candidate.Buffer();
            return true;
        }
        if (tried.find(candidate.Buffer()) == std::string::npos)
            tried += (tried.empty() ? "" : ", ") + std::string(candidate.Buffer());
    }
    error = "no skeleton file for this motion file (looked for " + tried +
            "; name one with --skeleton FILE)";
    return false;
}
