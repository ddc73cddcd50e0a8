#pragma once
// The file formats qovtool reads and writes, by the file name's extension, with the importer's
// reading ids; one table for the usage text, `info` and `convert`.

#include <cstdio>
#include <string>

struct QovToolFormat {
    const char* extension;
    int readingId;  // the importer's id; the kind of a QOV file picks among 0 to 2
    const char* description;
};

int QovToolFormatCount();
const QovToolFormat& QovToolGetFormat(int index);

// The name's extension, lower-cased; empty when its last dot is not in the last path element.
std::string QovToolExtensionOf(const std::string& name);
// The reading id for the name's extension, -1 when no reader takes it. Only ".qov" is read as
// QOV: the importer takes any extension holding "qov" (".myqov") for one, and then looks for a
// file of that name with ".qov" added, which the user never named.
int QovToolReadingIdOf(const std::string& name);
// The format's description for a reading id (the three QOV ids apart).
const char* QovToolDescribe(int readingId);
// Says on stderr that `flag` serves QOV files only, and `why` not here; 2, the exit of a wrong
// command line: a flag that would do nothing is refused rather than passed over.
int QovToolRefuseQovFlag(const char* flag, const std::string& why);
// Says in one line what was wrong with a command line, before its usage: "qovtool: COMMAND:
// WHAT" and the argument, quoted, when one is given.
void QovToolSayWrong(const char* command, const char* what, const char* argument = nullptr);
// What a word after the command is: "--" ends the flags and names no file; before it, a word
// that begins with '-' ("-" alone apart) is a flag, "-h" being "--help"; any other word names a
// file.
enum class QovToolWord { eEndOfFlags, eHelp, eFlag, eFile };
QovToolWord QovToolWordOf(const char* word, bool& flagsEnded);
// False, with "no reader for this extension" on stderr, when no reader takes the name.
bool QovToolCheckReadable(const std::string& name);

class KQovReader;
// The reader's error, with the findings it noted on the way.
std::string QovToolReaderError(KQovReader& reader);

// The usage text: commands, flags and the formats read and written.
void QovToolPrintUsage(std::FILE* out);
// The usage of one command (info, dump, convert); false when there is no such command.
bool QovToolPrintCommandUsage(std::FILE* out, const char* command);
