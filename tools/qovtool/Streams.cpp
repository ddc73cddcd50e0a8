#include "tools/qovtool/Streams.h"

#include <cstdarg>

#include "platform/KPlatformSameFile.h"

namespace {
bool gOutputWritten = false;
bool gErrorWritten = false;
}  // namespace

void QovToolAvoidStreamsOf(const std::vector<std::string>& files) {
    for (const std::string& file : files) {
        gOutputWritten = gOutputWritten || KPlatformIsStandardStream(file.c_str(), stdout);
        gErrorWritten = gErrorWritten || KPlatformIsStandardStream(file.c_str(), stderr);
    }
}

std::FILE* QovToolMessageStream() {
    return !gErrorWritten ? stderr : !gOutputWritten ? stdout : nullptr;
}

std::FILE* QovToolStatusStream() {
    return !gOutputWritten ? stdout : !gErrorWritten ? stderr : nullptr;
}

void QovToolSay(const char* format, ...) {
    std::FILE* stream = QovToolMessageStream();
    if (!stream) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stream, format, args);
    va_end(args);
}
