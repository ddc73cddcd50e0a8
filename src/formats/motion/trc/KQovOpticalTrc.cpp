#include "formats/motion/trc/KQovOpticalTrc.h"

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "formats/motion/trc/KMotionFileTrc.h"
#include "foundation/KFileStream.h"
#include "foundation/KLocale.h"
#include "foundation/KPath.h"
#include "foundation/KQuotedText.h"
#include "foundation/KTextCursor.h"
#include "foundation/KTextLineReader.h"
#include "io/KQovWrittenNames.h"
#include "io/KStreamOptionsMotion.h"
#include "platform/KPlatformStdio.h"

namespace {

constexpr size_t kTimeCodeLine = 255;
constexpr uint32_t kTimeCodeFileLimit = 3 * 1024;

std::unique_ptr<KMarkerFileInterface> OpenTrc(const char* path, const char* mode) {
    auto file = std::make_unique<KMotionFileTrc>();
    if (file->Open(path, mode) != 0) return nullptr;
    return file;
}

// Hours, minutes, seconds and frames separated by ':'.
bool ParseClock(std::string_view line, int64_t values[4]) {
    KTextCursor cursor(line);
    for (int i = 0; i < 4; ++i) {
        char colon = 0;
        if (i > 0 && !(cursor.Peek(colon) && colon == ':')) return false;
        if (i > 0) cursor.SetPosition(cursor.GetPosition() + 1);
        int value = 0;
        if (!cursor.ReadInt(value)) return false;
        values[i] = value;
    }
    return true;
}

// The time mode of a whole number of frames per second; 0 when none has it.
int TimeModeOfRate(double rate) {
    static const struct {
        double rate;
        int mode;
    } kModes[] = {{24, KTime::eFRAMES24},   {25, KTime::ePAL},       {29, KTime::eNTSC_DROP_FRAME},
                  {30, KTime::eFRAMES30},   {50, KTime::eFRAMES50},  {60, KTime::eFRAMES60},
                  {100, KTime::eFRAMES100}, {120, KTime::eFRAMES120}};
    const double whole = std::floor(rate);
    for (const auto& m : kModes)
        if (whole == m.rate) return m.mode;
    return KTime::eDEFAULT_MODE;
}

}  // namespace

bool KTrcParseTimeCode(std::string_view text, KTime& time) {
    std::string_view lines[3];
    KTextLineReader reader;
    reader.SetText(text);
    for (std::string_view& line : lines) {
        if (!reader.ReadLine(line)) return false;
        line = line.substr(0, kTimeCodeLine);
    }
    int64_t clock[4];
    double rate = 0.0;
    KTextCursor rateCursor(lines[2]);
    if (!ParseClock(lines[0], clock) || !rateCursor.ReadDouble(rate)) return false;
    const int64_t frames = clock[3];
    int mode = TimeModeOfRate(rate);
    const std::string kind(lines[1]);
    if (kind.compare(0, 5, "SMPTE") == 0) {
        if (frames < 0 || double(frames) > rate) return false;
    } else if (kind.compare(0, 3, "EBU") == 0) {
        if (frames < 0 || frames > 24) return false;
        mode = KTime::ePAL;
    } else if (KStrNCaseCmp(kind.c_str(), "System Clock", 12) == 0) {
        if (double(frames) > rate || mode == KTime::eDEFAULT_MODE) return false;
    } else {
        return false;
    }
    time.SetTime(clock[0], clock[1], clock[2], frames, 0, mode);
    return true;
}

KQovReaderTrc::KQovReaderTrc(KQovObjectManager* manager) : KQovOpticalReader(manager) {
    mDescription = "Motion Analysis TRC File Importer";
    mPrefix = "TRC";
}

std::unique_ptr<KMarkerFileInterface> KQovReaderTrc::CreateMotionFile(const char* path) {
    return OpenTrc(path, "r");
}

KStreamOptions* KQovReaderTrc::GetReadOptions(bool allowScan) {
    mTimeCodeError = 0;
    std::unique_ptr<KStreamOptions> options(KQovOpticalReader::GetReadOptions(allowScan));
    if (!options || mTimeCodeError == 0) return options.release();
    mError.SetErrorWithText(
        eFileNotOpened,
        (mTimeCodeError == ENOMEM
             ? "Out of memory while reading " + KQovMessageText(mTimeCodePath.Buffer())
             : KReadFileError(mTimeCodePath.Buffer(), mTimeCodeError))
            .c_str());
    return nullptr;
}

bool KQovReaderTrc::TimeCodeOpenFailed(const KString& path) {
    // Memory or the disk failing is no file missing and no file refused to the user.
    const int error = KPlatformReadOpenError(path.Buffer());
    if (error != ENOMEM && error != EIO) return false;
    mTimeCodePath = path;
    mTimeCodeError = error;
    return true;
}

void KQovReaderTrc::InitOptions(KStreamOptionsMotion& options) {
    for (int setting : {3, 4, 6}) options.SetSetting(setting, 1);
    const KString path = KChangeFileExtension(mFileName.Buffer(), ".tc");
    if (!KFileExists(path.Buffer())) {
        TimeCodeOpenFailed(path);
        return;
    }
    const KString name = KExtractFileName(path.Buffer(), true);
    const char* title = "Time Code File";
    if (options.Question(title, (KString("Load ") + name + "?").Buffer(), "Yes", "No", nullptr,
                         1) != 1)
        return;
    // A file the read opened is one a write from it must not replace.
    NoteFileRead(path.Buffer());
    KFileStream stream;
    if (!stream.Open(path.Buffer(), "rb")) {
        if (TimeCodeOpenFailed(path)) return;
        options.Question(title, (KString("Unable to open ") + name).Buffer(), "Ok");
        return;
    }
    // Three short lines: anything past a few kilobytes is not a time-code file.
    std::string text(kTimeCodeFileLimit, '\0');
    text.resize(stream.Read(&text[0], kTimeCodeFileLimit));
    if (const int error = stream.GetReadError()) {
        mTimeCodePath = path;
        mTimeCodeError = error;
        return;
    }
    KTime start;
    if (KTrcParseTimeCode(text, start))
        options.SetStartTime(start);
    else
        options.Question(title, (name + " is invalid").Buffer(), "Ok");
}

KQovWriterTrc::KQovWriterTrc(KQovObjectManager* manager) : KQovOpticalWriter(manager) {
    mDescription = "Motion Analysis TRC File Exporter";
    mFormat = "a TRC";
}

std::unique_ptr<KMarkerFileInterface> KQovWriterTrc::CreateMotionFile(const char* path) {
    return OpenTrc(path, "w");
}

void KQovWriterTrc::InitOptions(KStreamOptionsMotion& options) {
    options.SetSetting(3, 1);
    options.SetSetting(11, 0);
    options.SetSetting(13, 0);
}

bool KQovWriterTrc::GetNameTerms(KQovNameTerms& terms, const std::vector<std::string>&) const {
    terms = KMotionFileTrc::LabelTerms();
    return true;
}
