#pragma once
// Where qovtool prints: messages on stderr and the status line on stdout, but never into a file
// that a conversion writes. A stream that is such a file (the output named /dev/stderr, or the
// shell's redirection of it to the output) gets nothing; what it would carry goes to the other
// stream, or nowhere when both are written.

#include <cstdio>
#include <string>
#include <vector>

// Marks the standard streams that are one of `files`, which the conversion writes; a stream
// marked stays marked.
void QovToolAvoidStreamsOf(const std::vector<std::string>& files);
// The stream for messages: stderr, stdout when stderr is written, else null.
std::FILE* QovToolMessageStream();
// The stream for the status line: stdout, stderr when stdout is written, else null.
std::FILE* QovToolStatusStream();
// Writes `text` with its control bytes (an escape sequence in a name read from a file) shown as
// \x1b and so on; UTF-8 text stays as it is, line breaks and tabs too unless `breaks`.
void QovToolWriteEscaped(std::FILE* stream, const char* text, size_t length, bool breaks = false);
// The name (a file's, or one read from a file) with every control byte escaped as above, line
// breaks and tabs too: it stays on its line of a message.
std::string QovToolShown(const char* text);
inline std::string QovToolShown(const std::string& text) {
    return QovToolShown(text.c_str());
}
// As QovToolShown, kept in `shown`, or the name as it is when there is no memory for the copy
// (told after memory ran out).
const char* QovToolShownIfRoom(const char* text, std::string& shown) noexcept;
// Prints on the message stream, escaped as above.
void QovToolSay(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Prints on `stream`, escaped as above: what info and the status line show of a file's names.
void QovToolPrint(std::FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
