// qovtool: command-line front end to the QOV scene library.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "KQovVersion.h"
#include "animation/KFCurveSettings.h"
#include "platform/KPlatformFile.h"
#include "platform/KPlatformSignals.h"
#include "platform/KPlatformStdio.h"
#include "tools/qovtool/Commands.h"
#include "tools/qovtool/Formats.h"
#include "tools/qovtool/Streams.h"

namespace {

int RunCommand(int argc, char** argv) {
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
    const auto isHelp = [](const char* word) {
        return std::strcmp(word, "help") == 0 || std::strcmp(word, "--help") == 0 ||
               std::strcmp(word, "-h") == 0;
    };
    if (isHelp(command)) {
        // "help help" asks for help's own usage: the text of every command.
        if (argc == 2 || (argc == 3 && isHelp(argv[2]))) {
            QovToolPrintUsage(stdout);
            return 0;
        }
        // One more word names the command whose usage is asked for.
        if (argc == 3 && QovToolPrintCommandUsage(stdout, argv[2])) return 0;
        QovToolSayWrong(
            "help", argc == 3 ? "unknown command" : "one word too many:", argv[argc == 3 ? 2 : 3]);
        QovToolPrintUsage(stderr);
        return 2;
    }
    if (std::strcmp(command, "--version") == 0) {
        if (argc > 2) {
            QovToolSayWrong("--version", "one word too many:", argv[2]);
            QovToolSay("usage: qovtool --version\n");
            return 2;
        }
        std::printf("qovsdk %s\n", QOVSDK_VERSION);
        return 0;
    }
    try {
        if (std::strcmp(command, "info") == 0) return QovToolInfo(argc - 2, argv + 2);
        if (std::strcmp(command, "dump") == 0) return QovToolDump(argc - 2, argv + 2);
        if (std::strcmp(command, "convert") == 0) return QovToolConvert(argc - 2, argv + 2);
    } catch (const std::bad_alloc&) {
        // convert tells what it was reading or writing; the others read one file.
        std::string shown;
        const char* file = QovToolShownIfRoom(argc > 2 ? argv[2] : "", shown);
        QovToolSay("qovtool: %s: Out of memory while reading %s\n", file, file);
        return 1;
    }
    QovToolSay("qovtool: unknown command \"%s\"\n", QovToolShown(command).c_str());
    QovToolPrintUsage(stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // A stream the shell closed (>&-) would be the number of the next file opened.
    KPlatformHoldClosedStandardStreams();
    int code = RunCommand(argc, argv);
    // What was printed and could not be written (a full disk, a closed stream) fails the run,
    // but for a conversion's status line: its output is in place by then.
    if (const int error = KPlatformCloseStandardOutput()) {
        const bool converted = code == 0 && std::strcmp(argv[1], "convert") == 0;
        if (std::FILE* messages = QovToolMessageStream(); messages && messages != stdout)
            std::fprintf(messages, "qovtool: %sstandard output: %s\n", converted ? "warning: " : "",
                         KPlatformErrorText(error).c_str());
        if (!converted && code == 0) code = 1;
    }
    return code;
}
