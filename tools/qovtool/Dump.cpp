// qovtool dump: the header information of a QOV file, then its field tree, one field a
// line, values as the ASCII writer writes them.
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "fieldfile/KQovFieldFile.h"
#include "fieldfile/KQovFieldReader.h"
#include "foundation/KLocale.h"
#include "tools/qovtool/Commands.h"
#include "tools/qovtool/Formats.h"
#include "tools/qovtool/Streams.h"

namespace {

std::string ValueText(KQovFieldReader& tree, const KQovFieldReader::Value& value) {
    switch (value.type) {
        case 'C':
            return KQovCharText(static_cast<char>(value.data[0]));
        case 'I':
        case 'L':
            return KFormatC("%lld", static_cast<long long>(tree.ToInt64(value)));
        case 'F':
            return KShortestText(static_cast<float>(tree.ToDouble(value)));
        case 'D':
            return KShortestText(tree.ToDouble(value));
        case 'S':
            return "\"" + KQovEscapeText(tree.ToText(value)) + "\"";
        case 'R':
            return KFormatC("<%u bytes>", value.size);
        default:
            return tree.ToText(value);  // a bare ASCII token, as it stood
    }
}

void DumpBlock(KQovFieldReader& tree, int32_t blockIndex, int depth) {
    const std::string indent(static_cast<size_t>(depth) * 4, ' ');
    const KQovFieldReader::Block& block = tree.GetBlock(blockIndex);
    // The tree knows a record's name by the name's chain of records: map them back.
    std::unordered_map<uint32_t, int32_t> names;
    for (int32_t n = 0; static_cast<size_t>(n) < block.names.size(); ++n)
        for (uint32_t k = 0; k < block.names[static_cast<size_t>(n)].count; ++k)
            names[tree.GetOccurrence(blockIndex, n, k)] = n;
    const uint32_t end = block.endRecord;
    for (uint32_t index = block.firstRecord; index < end; index = tree.NextSibling(index)) {
        KQovFieldReader::Record record = tree.GetRecord(index);
        const char* name = tree.GetNameText(blockIndex, names[index]);
        std::string line = indent + KQovQuoteFieldName(name) + ":";
        KQovFieldReader::Value value;
        for (uint32_t i = 0; tree.NextValue(record, value); ++i) {
            std::string text = ValueText(tree, value);
            line += i == 0 ? " " : text[0] == '"' && value.type != 'N' ? ", " : ",";
            line += text;
        }
        if (record.child >= 0) line += " {";
        // A name or text of the file may hold control bytes (a title for the terminal), a tab
        // too: a field keeps to its line.
        QovToolWriteEscaped(stdout, line.data(), line.size(), true);
        std::fputc('\n', stdout);
        if (record.child >= 0) {
            DumpBlock(tree, record.child, depth + 1);
            std::printf("%s}\n", indent.c_str());
        }
    }
}

std::string VersionText(int version) {
    int major, minor, revision;
    KQovFieldFile::SplitVersion(version, major, minor, revision);
    return KFormatC("%d.%d.%d (%d)", major, minor, revision, version);
}

}  // namespace

int QovToolDump(int argc, char** argv) {
    // Help wherever it is asked for before "--"; a file of that name is read as ./--help or
    // after "--".
    std::vector<const char*> files;
    const char* unknown = nullptr;
    bool flagsEnded = false;
    for (int i = 0; i < argc; ++i) {
        const QovToolWord word = QovToolWordOf(argv[i], flagsEnded);
        if (word == QovToolWord::eHelp) {
            QovToolPrintCommandUsage(stdout, "dump");
            return 0;
        }
        if (word == QovToolWord::eFlag && !unknown) unknown = argv[i];
        if (word == QovToolWord::eFile) files.push_back(argv[i]);
    }
    if (unknown || files.size() != 1) {
        if (unknown)
            QovToolSayWrong("dump", "unknown flag", unknown);
        else if (files.empty())
            QovToolSayWrong("dump", "no file named");
        else
            QovToolSayWrong("dump", "one file too many:", files[1]);
        QovToolSay("usage: qovtool dump FILE\n");
        return 2;
    }
    const char* path = files[0];
    const std::string name = QovToolShown(path);
    KQovFieldFile file;
    KQovHeaderInfo info;
    if (!file.FieldFileOpenFile(path, false, false, &info)) {
        QovToolSay("qovtool: %s: %s\n", name.c_str(),
                   QovToolShown(file.GetLastErrorString()).c_str());
        return 1;
    }
    // Part 0 is parsed before anything is printed, so a file that is no QOV file gives only
    // the error.
    if (!file.FieldFileSelectPart(0)) {
        QovToolSay("qovtool: %s: %s\n", name.c_str(),
                   QovToolShown(file.GetLastErrorString()).c_str());
        return 1;
    }
    file.Finish();
    QovToolPrint(stdout, "File: %s\n", name.c_str());
    std::printf("Kind: %s\n", file.IsBinary() ? "binary" : "ASCII");
    std::printf("Version: %s\n", VersionText(file.GetFileVersion()).c_str());
    if (file.IsBinary())
        std::printf("Byte order: %s\n", file.IsSwapped() ? "swapped" : "as written");
    std::printf("Encryption: %s\n", file.IsEncrypted() ? "Twofish-128" : "none");
    if (info.timeStampPresent) {
        const int32_t* t = info.timeStamp;
        std::printf("Created: %04d-%02d-%02d %02d:%02d:%02d.%03d\n", t[0], t[1], t[2], t[3], t[4],
                    t[5], t[6]);
    }
    if (info.cameraResolutionPresent)
        QovToolPrint(stdout, "Camera: %s, %s, %gx%g\n",
                     QovToolShown(info.cameraName.Buffer()).c_str(),
                     QovToolShown(info.resolutionMode.Buffer()).c_str(), info.width, info.height);
    if (!info.creator.IsEmpty())
        QovToolPrint(stdout, "Creator: %s\n", QovToolShown(info.creator.Buffer()).c_str());
    std::printf("Parts: %d\n", file.GetPartCount());
    for (int part = 0; part < file.GetPartCount(); ++part) {
        if (!file.FieldFileSelectPart(part)) {
            QovToolSay("qovtool: %s: part %d: %s\n", name.c_str(), part,
                       QovToolShown(file.GetLastErrorString()).c_str());
            return 1;
        }
        std::printf("\nPart %d, version %s%s\n", part,
                    VersionText(file.GetPartVersion(part)).c_str(),
                    file.HasPassword() ? ", password protected" : "");
        DumpBlock(*file.GetTree(), file.GetTree()->GetRoot(), 0);
        file.Finish();
    }
    return 0;
}
