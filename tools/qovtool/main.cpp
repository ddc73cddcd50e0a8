// qovtool: command-line front end to the QOV scene library.
#include <cstdio>
#include <cstring>
#include <new>

#include "KQovVersion.h"
#include "animation/KFCurveSettings.h"
#include "platform/KPlatformSignals.h"
#include "tools/qovtool/Commands.h"
#include "tools/qovtool/Formats.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        QovToolPrintUsage(stderr);
        return 2;
    }
    // Interrupted, terminated or hung up, no half-written file is left beside its target.
    KPlatformRemoveKeptFilesOnSignals();
    // A file-size limit (ulimit -f) fails the write as a full disk does, with its message.
    KPlatformFailWritesPastFileSizeLimit();
    // A conversion carries every recorded sample: no constant keys are thinned on read.
    SetApplyConstantKeyReducer(false);
    const char* command = argv[1];
    if (std::strcmp(command, "help") == 0 || std::strcmp(command, "--help") == 0 ||
        std::strcmp(command, "-h") == 0) {
        QovToolPrintUsage(stdout);
        return 0;
    }
    if (std::strcmp(command, "--version") == 0) {
        std::printf("qovsdk %s\n", QOVSDK_VERSION);
        return 0;
    }
    try {
        if (std::strcmp(command, "info") == 0) return QovToolInfo(argc - 2, argv + 2);
        if (std::strcmp(command, "dump") == 0) return QovToolDump(argc - 2, argv + 2);
        if (std::strcmp(command, "convert") == 0) return QovToolConvert(argc - 2, argv + 2);
    } catch (const std::bad_alloc&) {
        // convert tells what it was reading or writing; the others read one file.
        std::fprintf(stderr, "qovtool: %s: Out of memory while reading %s\n",
                     argc > 2 ? argv[2] : "", argc > 2 ? argv[2] : "");
        return 1;
    }
    std::fprintf(stderr, "qovtool: unknown command \"%s\"\n", command);
    QovToolPrintUsage(stderr);
    return 2;
}
