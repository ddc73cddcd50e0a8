#include "tools/qovtool/Formats.h"
#include "tools/qovtool/Streams.h"

#include <cstring>

#include "foundation/KFileStream.h"
#include "io/KQovReader.h"

namespace {

// Every extension is read and written; the QOV kind written is chosen by convert's flags.
const QovToolFormat kFormats[] = {
    {"qov", 0, "QOV (binary, ascii or encrypted; version 6, or 5 with --v5)"},
    {"bvh", 3, "Biovision"},
    {"htr", 4, "Motion Analysis HTR"},
    {"trc", 5, "Motion Analysis TRC"},
    {"asf", 6, "Acclaim ASF"},
    {"amc", 7, "Acclaim AMC"},
    {"c3d", 8, "Vicon C3D"},
    {"aoa", 9, "Adaptive Optics AOA"},
    {"mcd", 10, "Superfluo MCD"},
    {"vpm", 11, "Puppeteer VPM"},
    {"mov", 12, "Wavefront MOV"},
    {"brd", 13, "Ascension BRD"},
    {"dxf", 14, "Autocad DXF"},
    {"3ds", 15, "3D Studio 3DS"},
    {"obj", 16, "Velto OBJ"},
};
constexpr int kFormatCount = int(sizeof kFormats / sizeof kFormats[0]);

const char* const kQovKinds[3] = {"QOV binary", "QOV ascii", "QOV encrypted"};

}  // namespace

int QovToolFormatCount() {
    return kFormatCount;
}

const QovToolFormat& QovToolGetFormat(int index) {
    return kFormats[index];
}

std::string QovToolExtensionOf(const std::string& name) {
    const size_t slash = name.rfind('/');
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string extension = name.substr(dot + 1);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return extension;
}

int QovToolReadingIdOf(const std::string& name) {
    const std::string extension = QovToolExtensionOf(name);
    for (const QovToolFormat& format : kFormats)
        if (extension == format.extension) return format.readingId;
    return -1;
}

const char* QovToolDescribe(int readingId) {
    if (readingId >= 0 && readingId <= 2) return kQovKinds[readingId];
    for (const QovToolFormat& format : kFormats)
        if (format.readingId == readingId) return format.description;
    return "unknown";
}

int QovToolRefuseQovFlag(const char* flag, const std::string& why) {
    QovToolSay("qovtool: %s is for QOV files only, and %s\n", flag, why.c_str());
    return 2;
}

void QovToolSayWrong(const char* command, const char* what, const char* argument) {
    if (argument)
        QovToolSay("qovtool: %s: %s \"%s\"\n", command, what, QovToolShown(argument).c_str());
    else
        QovToolSay("qovtool: %s: %s\n", command, what);
}

QovToolWord QovToolWordOf(const char* word, bool& flagsEnded) {
    if (flagsEnded || word[0] != '-' || word[1] == '\0') return QovToolWord::eFile;
    if (std::strcmp(word, "--") == 0) {
        flagsEnded = true;
        return QovToolWord::eEndOfFlags;
    }
    if (std::strcmp(word, "-h") == 0 || std::strcmp(word, "--help") == 0)
        return QovToolWord::eHelp;
    return QovToolWord::eFlag;
}

bool QovToolCheckReadable(const std::string& name) {
    if (QovToolReadingIdOf(name) >= 0) return true;
    QovToolSay("qovtool: %s: %s\n", QovToolShown(name).c_str(),
               KIsFolder(name.c_str()) ? "a folder, not a file" : "no reader for this extension");
    return false;
}

namespace {

const char* const kFlagsText =
    "flags:\n"
    "  --binary     a version-6 binary QOV file (the default)\n"
    "  --ascii      a version-6 ASCII QOV file\n"
    "  --encrypted  a version-6 encrypted QOV file; without --password anyone\n"
    "               can read it\n"
    "  --v5         a version-5 binary QOV file\n"
    "  --password P the password of a QOV file read or written; a binary file\n"
    "               written with one (--binary, --v5) asks for it but is not\n"
    "               encrypted, an ASCII one ignores it\n"
    "  --skeleton FILE\n"
    "               the ASF skeleton of an AMC file read (else the .asf beside it)\n"
    "  -h, --help   the command's usage\n"
    "  --           ends the flags: each word after it names a file\n"
    "  (--ascii, --encrypted or --v5 with an output that is not QOV, two\n"
    "  different ones together, and --password with no QOV file, exit with 2)\n";

// Each command's own usage: its line, what it does, and whether the flags and formats concern it.
const struct {
    const char* name;
    const char* usage;
    bool formats;
} kCommandUsages[] = {
    {"info",
     "usage: qovtool info FILE [--password P] [--skeleton FILE]\n"
     "the file's format, takes, nodes, meshes, materials and textures; for a QOV file its\n"
     "header as well\n",
     true},
    {"dump", "usage: qovtool dump FILE\nthe header and field tree of a QOV file\n", false},
    {"convert",
     "usage: qovtool convert IN OUT [--ascii|--binary|--encrypted|--v5] [--password P] "
     "[--skeleton FILE]\n"
     "reads IN and writes it as OUT's extension says\n",
     true},
};

void PrintFormats(std::FILE* out) {
    std::fputs("formats read and written, by the file's extension:\n", out);
    for (const QovToolFormat& format : kFormats)
        std::fprintf(out, "  %-5s%s\n", format.extension, format.description);
}

}  // namespace

bool QovToolPrintCommandUsage(std::FILE* out, const char* command) {
    for (const auto& entry : kCommandUsages) {
        if (std::strcmp(entry.name, command) != 0) continue;
        std::fputs(entry.usage, out);
        if (entry.formats) {
            std::fputs(kFlagsText, out);
            PrintFormats(out);
        }
        return true;
    }
    return false;
}

void QovToolPrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: qovtool <command> [arguments]\n"
                 "commands:\n"
                 "  info FILE [--password P] [--skeleton FILE]\n"
                 "               the file's format, takes, nodes, meshes, materials and\n"
                 "               textures; for a QOV file its header as well\n"
                 "  dump FILE    the header and field tree of a QOV file\n"
                 "  convert IN OUT [--ascii|--binary|--encrypted|--v5] [--password P]\n"
                 "                 [--skeleton FILE]\n"
                 "               reads IN and writes it as OUT's extension says\n"
                 "  help, -h, --help   this text\n"
                 "  help COMMAND, COMMAND -h, COMMAND --help\n"
                 "                     the command's own usage\n"
                 "  --version          the library's version\n");
    std::fputs(kFlagsText, out);
    PrintFormats(out);
}

std::string QovToolReaderError(KQovReader& reader) {
    std::string error = reader.GetLastErrorString();
    KString status;
    reader.GetStatusText(status);
    std::string said = status.Trim(0).Buffer();
    // One line: the status's lines end with line breaks of their own.
    for (char& c : said)
        if (c == '\n') c = ' ';
    if (!said.empty()) error += " (" + said + ")";
    return error;
}
