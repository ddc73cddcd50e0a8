// qovtool: command-line front end to the QOV scene library.
#include <cstdio>
#include <cstring>

#include "tools/qovtool/Commands.h"

static int Usage() {
    std::fprintf(stderr,
                 "usage: qovtool <command> [arguments]\n"
                 "commands:\n"
                 "  info         what the library holds\n"
                 "  dump FILE    the header and field tree of a QOV file\n"
                 "  convert IN OUT [--ascii|--binary|--encrypted|--v5] [--password P]\n"
                 "               reads IN and writes it as OUT's extension says\n");
    return 2;
}

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const char* command = argv[1];
    if (std::strcmp(command, "info") == 0) return QovToolInfo(argc - 2, argv + 2);
    if (std::strcmp(command, "dump") == 0) return QovToolDump(argc - 2, argv + 2);
    if (std::strcmp(command, "convert") == 0) return QovToolConvert(argc - 2, argv + 2);
    return Usage();
}
