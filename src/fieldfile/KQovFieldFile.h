#pragma once
// The QOV field file: a tree of named fields with typed values in nested blocks, written
// as ASCII text or binary records (optionally enciphered) and read back through the parser.
// This is the byte container only: what the fields mean belongs to the readers and writers.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fieldfile/KQovFieldReader.h"
#include "fieldfile/KQovHeaderInfo.h"
#include "platform/KPlatformFile.h"
#include "foundation/KBinaryReader.h"
#include "foundation/KError.h"
#include "foundation/KString.h"
#include "foundation/KTime.h"
#include "platform/KPlatformStdio.h"

class KQovStream;
class KQovFieldReader;
class KQovRecordImage;

// Work a reader has handed to other threads ahead of its read (lists decoded before the read
// reaches them), kept by the field file whose bytes it reads: the file ends it before those
// bytes go.
class KQovFieldReadAhead {
public:
    virtual ~KQovFieldReadAhead() = default;
};

class KQovFieldFile {
public:
    enum ErrorId {
        eFileCorrupted = 0,
        eVersionNotSupportedYet,
        eVersionNotSupportedAnymore,
        eFileNotOpened,
        eFileNotCreated,
        eDirectoryNotCreated,
        eCrcCheckFailed,
        eSectionDoesNotExist,
        eOperationCanceled,
        eCountError,
        eInvalidData,
        eNoSpaceLeft,
        eReadError,
        eErrorCount
    };
    enum OpenMode { eReadOnly = 0, eCreated = 1, eUpdate = 2 };
    static constexpr int kMaxDepth = 200;
    static constexpr int kWrapColumn = 120;
    static constexpr size_t kOutCapacity = 1 << 20;

    KQovFieldFile();
    virtual ~KQovFieldFile();
    KQovFieldFile(const KQovFieldFile&) = delete;
    KQovFieldFile& operator=(const KQovFieldFile&) = delete;

    // Writes the next raw value of the current field (media content) into a file named by the
    // last component of `mediaName` (the name as stored, which tells media apart) and gives
    // its path ("" for empty content). `extracted` tells whether a file was written.
    virtual bool ExtractMedia(KString& resultPath, const char* mediaName, const char* targetFolder,
                              bool& extracted);
    // Removes a file ExtractMedia made (none it found there), while its name still holds it;
    // true when it went. Its name stays this read's unless `freeName` gives it back.
    bool RemoveExtractedMedia(const char* path, bool freeName = false);
    // The folder ExtractMedia put `path` in (before a numbered folder "1/" ...); empty for
    // another path.
    std::string GetExtractedMediaFolder(const char* path) const;
    // Writes `size` bytes as the media file `name` in `folder` as ExtractMedia writes what it
    // extracts (a file made new, or a finished file there of these bytes, else the next free
    // name "1/name" ...); its path, empty when none could be written (GetMediaError then
    // tells a failure of the system's, else 0).
    KString AddMediaFile(const char* folder, const char* name, const uint8_t* content,
                         uint32_t size);
    // The system's reason why the last media that could not be written were not (0: none).
    int GetMediaError() const { return mMediaError; }

    // Creating, opening, parts.
    bool Create(const char* name, bool binary, bool encrypted, KQovHeaderInfo* info);
    // Opens for reading only, unless `update` asks to write into the file as well (then an
    // old file without identity fields gets them when it is finished).
    bool Open(const char* name, bool checkCrc, bool selectFirstPart, KQovHeaderInfo* info,
              bool update = false);
    bool FieldFileOpenFile(const char* name, bool checkCrc, bool selectFirstPart,
                           KQovHeaderInfo* info);
    void Finish();
    // False, with the read error of a file cut short, when the file was cut, written in place
    // or touched since it was opened for reading (the system is asked, for every kind of file):
    // what was read may not be the file's. Finishing a part asks too, so the answer outlives the
    // part; a reader asks before it hands out what it read.
    bool CheckFileUnchanged();
    // A created file replaces the named one only here, and only when every write succeeded;
    // false when a file being created was not put in place.
    bool FieldFileClose();
    // Closes a file being created without putting it in place: the old file stays.
    void FieldFileDiscard();
    bool FieldFileSelectPart(int index);
    bool FieldFileSelectFirstPart() { return FieldFileSelectPart(0); }
    bool FieldFileSelectPartAfter(int index);
    int GetPartVersion(int index) const;
    int GetPartCount() const { return static_cast<int>(mParts.size()); }
    int GetLastPartIndex() const { return mParts.empty() ? 0 : GetPartCount() - 1; }
    int GetCurrentPart() const { return mCurrentPart; }
    // Byte offset where a part starts, -1 out of range.
    int64_t GetPartStart(int index) const {
        return index >= 0 && index < GetPartCount() ? mParts[static_cast<size_t>(index)].start : -1;
    }
    bool FieldFileAppendPart(bool replace);

    bool CheckPassword(const char* password);
    bool FieldWritePassword(const char* password);
    bool HasPassword() const { return mPasswordStored; }

    KString GetDataFolderName(bool create);
    KString GetMediaFolderName(bool create);
    KString GetRelativeMediaPath(const char* path);
    KString GetAbsoluteMediaPath(const char* relativePath);
    static void SplitVersion(int version, int& major, int& minor, int& revision);
    // The name a file created as `name` gets: ".qov" is added to any other extension than
    // "qov" and "tmp".
    static std::string CreatedName(const char* name);
    // The project files that writing a file created as `name` removes, as they stand now: those
    // a read would take in the file's place.
    static std::vector<std::string> ProjectFilesOf(const char* name);
    // The project folder of the file a name leads to.
    static std::string ProjectFolder(const std::string& name);

    int GetFileVersion() const { return mFileVersion; }
    bool IsBinary() const { return mBinary; }
    bool IsSwapped() const { return mSwap; }
    // Files are little-endian unless their start says they are swapped.
    KByteOrder GetByteOrder() const { return mSwap ? KByteOrder::eBig : KByteOrder::eLittle; }
    bool IsEncrypted() const { return mEncrypted; }
    int GetOpenMode() const { return mOpenMode; }
    bool IsOpen() const;
    const char* GetFullName() const { return mFullName.c_str(); }
    // The file a read opened: a project file in the file's place, or the file itself.
    const char* GetOpenedName() const { return mOpenedName.c_str(); }
    // True when every value carries its type letter (binary files).
    bool HasTypedValues() const { return mBinary; }
    // The current part's file version for every block level in use, 0 out of range.
    int GetBlockVersion(int level) const;
    // The stream in use (for raw bytes after FieldWriteR).
    KQovStream* GetStream() const {
        mStreamAt = -1;  // the caller may move it
        return mStream;
    }
    // Year, month, day, hour, minute, second, millisecond of the file's creation.
    const int32_t* GetCreationTimeStamp() const { return mTimeStamp; }

    // Writing records.
    bool FieldWriteBegin(const char* name);
    bool FieldWriteEnd();
    bool FieldWriteBlockBegin();
    bool FieldWriteBlockEnd();
    bool FieldWriteCh(char value) { return PutHostValue('C', &value, 1) || WriteChar(value); }
    bool FieldWriteI(int32_t value) { return PutHostValue('I', &value, 4) || WriteInt(value); }
    bool FieldWriteLL(int64_t value) { return PutHostValue('L', &value, 8) || WriteLong(value); }
    bool FieldWriteD(double value) { return PutHostValue('D', &value, 8) || WriteDouble(value); }
    // Whole arrays as values of the current field: the bytes of one value call each, in one
    // pass into the output buffer where the file is binary in host order.
    bool FieldWriteIn(const int32_t* values, size_t count);
    bool FieldWriteDn(const double* values, size_t count);
    // Values the caller encoded itself (each a type letter and its payload in this host's
    // byte order), `count` of them in `size` bytes, appended to the open field as they are;
    // only while CanWriteEncoded().
    bool FieldWriteEncoded(const uint8_t* bytes, size_t size, size_t count);
    bool CanWriteEncoded() const { return FastBinaryValue() && GetByteOrder() == kHostByteOrder; }
    // The same written in place: room for `size` bytes of encoded values in the output buffer
    // (null when the file takes no encoded values or the size exceeds the buffer), filled by
    // the caller and then added to the open field, `count` values in `size` bytes.
    uint8_t* FieldWriteEncodedRoom(size_t size);
    bool FieldWriteEncodedCommit(size_t size, size_t count);
    bool FieldWriteC(const char* text);
    bool FieldWriteC(const char* name, const char* text);
    // A whole field without a block, as FieldWriteBegin, the values and FieldWriteEnd would
    // write it: the name and leading values `head` holds, then `count` more values the caller
    // encoded (each a type letter and its payload in this host's byte order) in `size` bytes.
    // A binary file in host order takes it in one piece; any other goes value by value.
    bool FieldWriteRecord(const KQovRecordImage& head, const uint8_t* values = nullptr,
                          size_t size = 0, size_t count = 0);
    // Records written once and copied for the next time: FieldWriteMark, between fields of a
    // binary file in host order, gives where the next field starts (-1 elsewhere); after whole
    // fields of that level, FieldWriteCopySince gives their bytes, `size` of them, still in the
    // output (null once they went out, or when the level changed). FieldWriteRecords writes
    // such bytes again, copied from a file at `origin`, their record ends moved to where they
    // land now; false, with nothing written, where the file takes no copy or the bytes are not
    // whole records.
    int64_t FieldWriteMark();
    const uint8_t* FieldWriteCopySince(int64_t mark, size_t& size);
    bool FieldWriteRecords(const uint8_t* bytes, size_t size, int64_t origin);
    // Only the 'R' letter and the length: the caller writes the bytes to GetStream() next.
    bool FieldWriteR(uint32_t size);
    // The bytes of the file `fileName` (else `otherFileName`) as a raw value. False, with no
    // error, when neither is there as a file; false with a read error when one is there and the
    // system does not let it be read (its media are not silently left out).
    bool FieldWriteFileContent(const char* fileName, const char* otherFileName);
    // The system's error number for a file there that cannot be opened for reading; 0 for one
    // that opens, is missing, is a folder, or is a pipe, socket or device.
    static int UnreadableFileError(const char* fileName);
    bool FieldWriteComment(const char* text);

    // Reading records of the selected part.
    bool FieldReadBegin(const char* name);
    bool FieldReadBegin(const char* name, int occurrence);
    bool FieldReadBeginByIndex(int nameIndex, int occurrence);
    void FieldReadEnd();
    // Which occurrence of its name the open field is (for FieldReadBegin(name, occurrence));
    // -1 without one.
    int FieldReadGetOccurrence() const;
    int FieldReadGetOccurrenceCount(const char* name) const;
    int FieldReadGetNameCount() const;
    const char* FieldReadGetName(int index) const;
    void FieldReadRewind();
    bool FieldReadBlockBegin();
    void FieldReadBlockEnd();
    int FieldReadGetCount() const;
    int FieldReadGetRemain() const {
        // None is left in a file found cut short under the read: values that no longer
        // decode are never taken, and a loop over what remains must end.
        return CurrentRecordValid() && !mTree->ValuesFoundLost()
                   ? static_cast<int>(mValues.valueCount - mValues.cursorIndex)
                   : 0;
    }
    char FieldReadGetType() const {
        KQovFieldReader::Value value;
        if (!CurrentRecordValid() || !mTree->PeekValue(mValues, value)) return 'S';
        return mTree->ReportedType(value);
    }
    // Reading the values of the current field; the neutral value when none is left.
    char FieldReadCh() {
        KQovFieldReader::Value value;
        return NextReadValue(value) ? mTree->ToChar(value) : 0;
    }
    const char* FieldReadC();
    int32_t FieldReadI() {
        KQovFieldReader::Value value;
        return NextReadValue(value) ? static_cast<int32_t>(mTree->ToInt64(value)) : 0;
    }
    int64_t FieldReadLL() {
        KQovFieldReader::Value value;
        return NextReadValue(value) ? mTree->ToInt64(value) : 0;
    }
    double FieldReadD() {
        KQovFieldReader::Value value;
        return NextReadValue(value) ? mTree->ToDouble(value) : 0.0;
    }
    const uint8_t* FieldReadR(uint32_t& size);
    void FieldReadDn(double* out, int count);
    // The next `count` values straight into `out`, converted as FieldReadI/FieldReadD would;
    // the number read (fewer when the field holds fewer).
    size_t FieldReadIn(int32_t* out, size_t count);
    size_t FieldReadDoubles(double* out, size_t count);
    // The next values of a binary file's field as stored, at most `count`, up to the first
    // text or raw value (read those one at a time); convert them through GetTree(). They stay
    // valid until the field ends.
    size_t FieldReadStored(KQovFieldReader::Value* out, size_t count) {
        return out && CurrentRecordValid() ? mTree->ReadStored(mValues, out, count) : 0;
    }
    // The version of the part in use, which decides how times are stored.
    int GetPartVersionInUse() const { return CurrentPartVersion(); }
    char FieldReadCh(const char* name, char defaultValue);
    const char* FieldReadC(const char* name, const char* defaultValue);
    int32_t FieldReadI(const char* name, int32_t defaultValue);
    double FieldReadD(const char* name, double defaultValue);
    void FieldReadDn(const char* name, double* out, const double* defaults, int count);

    // Times: ticks ('L') from part version 2001 on, else seconds as doubles.
    bool FieldWriteT(const KTime& time) {
        if (CurrentPartVersion() >= 2001) return FieldWriteLL(time.Get());
        return FieldWriteD(time.GetSecondDouble());
    }
    bool FieldWriteTS(const KTime& start, const KTime& stop);
    KTime FieldReadT() {
        // Ticks of a binary file, the common case, decoded here.
        KQovFieldReader::Value value;
        if (mBinary && CurrentRecordValid() && mTree->PeekValue(mValues, value) &&
            value.type == 'L')
            return KTime(FieldReadLL());
        return FieldReadTimeAnyType();
    }
    KTime FieldReadT(const char* name);
    void FieldReadTS(const char* name, KTime& start, KTime& stop);

    KError& GetError() { return mError; }
    int GetLastErrorID() const { return mError.GetErrorCode(); }
    // The system's error number for the first read of the file that failed (EIO for a failing
    // disk, also under a mapped part), 0 while none did; the error of the read that met it is
    // eReadError.
    int GetSystemReadError() const;
    const char* GetLastErrorString() const { return mError.GetErrorText(); }

    // The parsed tree of the selected part (for tools that walk every field), or null.
    KQovFieldReader* GetTree() const { return mTree; }
    // Work done ahead of the read of the selected part; any earlier one is ended first. The
    // file ends it itself when the part's tree goes.
    void SetReadAhead(std::unique_ptr<KQovFieldReadAhead> ahead) {
        mReadAhead.reset();
        mReadAhead = std::move(ahead);
    }
    KQovFieldReadAhead* GetReadAhead() const { return mReadAhead.get(); }

protected:
    // Version recorded for the part in use.
    int CurrentPartVersion() const {
        if (mCurrentPart >= 0 && mCurrentPart < GetPartCount())
            return mParts[static_cast<size_t>(mCurrentPart)].version;
        return mFileVersion;
    }
    void SetError(int id, const char* text = nullptr);
    bool HasError() const { return mError.GetErrorCode() != -1; }

    std::set<std::string> mEmbeddedNames;
    std::map<std::string, std::string> mExtracted;         // media name -> where it went
    std::map<std::string, std::string> mExtractedFolders;  // where it went -> the folder asked
    std::string mTempMediaFolder;  // made for media the file's own media folder cannot take
    std::map<std::string, KPlatformNewFile> mMadeMedia;  // by path: files extraction made
    std::vector<std::string> mMadeFolders;  // numbered folders made for media ("1/" ...)
    // By folder and name, within one read or write: where the search for a free numbered name
    // starts, the numbers below it given back, and those another file held by the length and
    // a hash of the head of its bytes (only media of that key can take one): each medium costs
    // what a search from 0 would find, not the search.
    struct MediaNumbers {
        int next = 0;
        std::set<int> recheck;
        std::map<std::pair<uint64_t, uint64_t>, std::set<int>> held;
    };
    std::map<std::pair<std::string, std::string>, MediaNumbers> mMediaNumbers;
    std::map<std::string, std::pair<MediaNumbers*, int>> mMediaNumberOf;  // by path placed
    int mMediaError = 0;                    // see GetMediaError
    bool mMediaRefused = false;             // a file placed was refused its permissions
    std::vector<int> mFolderSlots;          // folders made, kept for removal on a signal
    std::string mFolder;                    // with a trailing '/', or empty

private:
    // A folder of its own in the temporary folder, made once; empty when it cannot be made.
    std::string TempMediaFolder();
    // The path of `name` in `folder` (n 0) or in its numbered folder n, which is made; empty
    // when it cannot be.
    std::string NumberedMediaPath(const std::string& folder, const std::string& name, int n);
    // At the end: the media made in the temporary folder go, and the folder with them, and so
    // does every numbered folder made that holds nothing. Names the texts of a read's scene
    // held no longer name files then.
    void RemoveTempMedia();
    // Writes the media under `name` in `folder` as a file made new, or finds them there
    // already; the next free name ("1/name" ...) when another file has the name.
    bool PlaceMedia(const std::string& folder, const std::string& name, const uint8_t* content,
                    uint32_t size, std::string& path);
    // PlaceMedia at number n: 1 placed, 0 the name is taken, -1 failed.
    int PlaceMediaAt(const std::string& folder, const std::string& name, const uint8_t* content,
                     uint32_t size, int n, std::string& path, MediaNumbers& numbers);
    bool CountEncoded(size_t size, size_t count);
    struct RecordEntry {
        int64_t header = -1;  // -1: no record at this depth yet
        uint64_t count = 0;
        uint64_t length = 0;
    };
    struct Part {
        int64_t start;
        int32_t version;
    };
    struct ReadLevel {
        int32_t block;
        int32_t record;
        KQovFieldReader::Record values;
    };

    void Reset();
    // After a new file was dropped: a failure told as no room that had another reason (the
    // system's, kept by the dropped file) says that reason.
    void TellWhyNotWritten();
    // After a new file took its place: the project files set aside go (their folder stays);
    // what stays is told as an error.
    void RemoveProjectFiles(KPlatformSetAside& project);
    // Why a project file, or the project folder, that a read would take in the file's place
    // stayed.
    std::string ProjectProblem(const KPlatformSetAside& project) const;
    // "the old project file stays under the hidden name <name>: <why>" of each one left aside,
    // joined by "; " (empty for none).
    static std::string LeftAside(const KPlatformSetAside& project);
    bool CanWrite();
    void Emit(const void* data, size_t size);
    bool WriteDouble(double value);
    bool WriteInt(int32_t value);
    bool WriteChar(char value);
    bool NextReadValue(KQovFieldReader::Value& value) {
        return mTree && mRecord >= 0 && mTree->NextValue(mValues, value);
    }
    bool WriteLong(int64_t value);
    // Fixed-size values of one type from an array; `store` puts one value's payload.
    template <class T, class Store>
    bool WriteArray(char type, const T* values, size_t count, Store store);
    // The common case inline: a binary field open, room in the buffer, the host byte order.
    bool PutHostValue(char type, const void* payload, size_t size) {
        if (!FastBinaryValue() || GetByteOrder() != kHostByteOrder || !mOut ||
            mOutSize + 1 + size > kOutCapacity)
            return false;
        uint8_t* at = mOut.get() + mOutSize;
        at[0] = static_cast<uint8_t>(type);
        std::memcpy(at + 1, payload, size);
        mOutSize += 1 + size;
        RecordEntry& entry = mRecordTable[static_cast<size_t>(mDepth)];
        entry.count += 1;
        entry.length += 1 + size;
        ++mValueCounter;
        return true;
    }
    // Values go straight to the buffer while a binary field is open and all is well.
    bool FastBinaryValue() const {
        return mBinary && mValueCounter != 0 && mStreamOpen && mError.GetErrorCode() == -1;
    }
    void EmitText(const std::string& text) { Emit(text.data(), text.size()); }
    bool WriteEncodedValues(const uint8_t* values, size_t size);
    // Between fields of a binary file in host order, all well.
    bool CanCopyRecords() const {
        return mBinary && GetByteOrder() == kHostByteOrder && mValueCounter == 0 && mStreamOpen &&
               mError.GetErrorCode() == -1;
    }
    void EmitU32(uint32_t value);
    void Flush();
    int64_t Position();
    // The stream position known after a write of `requested` bytes that put `written`.
    void Advance(int64_t requested, int64_t written);
    bool CloseRecord(int depth);
    void Patch(int64_t position, const void* data, size_t size);
    bool BeginValue();
    void EndAsciiValue(const std::string& text, bool isString);
    void AddBinaryValue(char type, const void* payload, uint32_t size, uint64_t extra = 0);
    std::string QuoteFieldName(const char* name) const;

    // Framing steps.
    bool OpenWith(const std::vector<std::string>& candidates, bool strict, bool checkCrc,
                  bool selectFirstPart, KQovHeaderInfo* info, bool update);
    bool ReadStart(bool strict, bool checkCrc, bool selectFirstPart, KQovHeaderInfo* info);
    bool ReadAsciiFirstLine();
    bool ReadHeaderExtension(KQovHeaderInfo* info, bool& endedByNull);
    void WriteStart(KQovHeaderInfo* info);
    void WriteHeaderExtension(KQovHeaderInfo* info);
    void WriteIdentity();
    void WriteNullRecord();
    void WriteEndBlock(int64_t backOffset, int32_t version);
    bool FindEndBlock(int64_t size, uint32_t& backOffset, uint32_t& version, int64_t& blockStart);
    void BuildPartList(int64_t firstStart);
    bool CheckIdentity(int part);
    void ReadPassword();
    void FreeTrees();
    void EndBlockId(uint8_t out[16]) const;
    void FileIdValue(uint8_t out[16]) const;
    void TimeText(char out[17]) const;
    bool FinishUpdate();
    bool CurrentRecordValid() const { return mTree && mRecord >= 0; }
    KTime FieldReadTimeAnyType();

    int32_t mFileVersion = 6000;
    int mOpenMode = eReadOnly;
    std::unique_ptr<KQovStream> mOwnedStream;
    KQovStream* mStream = nullptr;  // the owned stream or the encrypting layer over it
    std::unique_ptr<KQovStream> mCipherStream;
    bool mBinary = false;
    bool mSwap = false;
    bool mEncrypted = false;
    std::string mFullName;
    // The project folder beside a file being created, named before the file takes its place.
    std::string mProjectFolder;
    std::string mFileName;
    std::string mOpenedName;
    int64_t mOriginalSize = -1;  // size of the file when it was opened
    // The file opened for reading as it was then; mStamped false when the system did not tell.
    KPlatformFileStamp mOpenedStamp;
    bool mStamped = false;
    bool FileChangedSinceOpen();
    // The read error of values found lost under the read: the disk's, or the file's cut.
    void SetLostValuesError();
    std::vector<Part> mParts;
    int mCurrentPart = -1;
    int mPartWriting = 0;
    int32_t mTimeStamp[7] = {};
    bool mPasswordStored = false;
    std::string mPassword;      // scrambled, with its own length
    bool mHasIdentity = false;  // the part being read carries FileId/Source or CreationTime
    bool mCutShort = false;     // a part read was found cut short or rewritten under it
    int mMappedReadError = 0;   // a mapped part's page the disk failed to give, part since gone

    // Reading state.
    KQovFieldReader* mTree = nullptr;
    std::unique_ptr<KQovFieldReader> mFirstTree;  // part 0 stays loaded once parsed
    std::unique_ptr<KQovFieldReader> mOtherTree;
    // Reads the trees' bytes: declared after them, so it ends first.
    std::unique_ptr<KQovFieldReadAhead> mReadAhead;
    int32_t mBlock = -1;
    int32_t mRecord = -1;
    KQovFieldReader::Record mValues;  // the current record, with its value cursor
    bool mRawHandedOut = false;       // FieldReadR gave out a pointer into the current record
    std::vector<ReadLevel> mReadLevels;

    // Writing state.
    int mValueCounter = 0;
    int mDepth = 0;
    int mMarkDepth = -1;  // the level and place of the last FieldWriteMark
    int64_t mMarkAt = -1;
    std::vector<RecordEntry> mRecordTable;
    int mIndent = 0;
    int mContinuationIndent = 0;
    int mLineLength = 0;
    // Output waits here so that values do not each cost a stream call.
    std::unique_ptr<uint8_t[]> mOut;
    size_t mOutSize = 0;
    // Where the stream stands, -1 until asked: what it wrote is counted, so records do not
    // each ask it. Anything that moves the stream other than the writes here forgets it.
    mutable int64_t mStreamAt = -1;
    bool mStreamOpen = false;

    KError mError;

public:
    // The current field's values from its cursor on as a binary file in this host's byte order
    // stores them (each a type letter and its payload), `size` bytes holding FieldReadGetRemain()
    // values; null otherwise. They stay valid until the field ends; FieldReadSkipStored then
    // moves the cursor over the values the caller took from them.
    const uint8_t* FieldReadStoredBytes(size_t& size) const;
    void FieldReadSkipStored(int values, size_t bytes);
};

// Runs `body` inside every `name` field of the current block whose block opens; a field
// without a block is passed over, not taken for the end of the list.
template <class Body>
void ForEachBlock(KQovFieldFile* file, const char* name, Body body) {
    while (file->FieldReadBegin(name)) {
        if (file->FieldReadBlockBegin()) {
            body();
            file->FieldReadBlockEnd();
        }
        file->FieldReadEnd();
    }
}

// How many of `count` groups of `Width` values the open field's stored bytes (`size` of them)
// can hold.
template <int Width>
size_t KQovStoredGroups(const KQovFieldFile& file, size_t count, size_t size) {
    return std::min<size_t>({count, size / (9 * Width), size_t(file.FieldReadGetRemain()) / Width});
}

// Groups of `Width` doubles as a binary file stores them in this host's byte order, `whole`
// groups of 9-byte values at `bytes`, each handed to put(group, values) with its type letters
// checked; the number of groups taken, up to the first that holds another type. Touches
// nothing but the bytes and what `put` does: it may run on a thread of its own.
template <int Width, class Put>
size_t KQovDecodeDoubleGroups(const uint8_t* bytes, size_t whole, Put put) {
    constexpr size_t kStride = 9 * Width;
    double group[Width];
    size_t done = 0;
    for (const uint8_t* at = bytes; done < whole; ++done, at += kStride) {
        bool doubles = true;
        for (int k = 0; k < Width; ++k) {
            doubles &= at[9 * k] == 'D';
            std::memcpy(group + k, at + 9 * k + 1, 8);
        }
        if (!doubles) break;
        put(done, group);
    }
    return done;
}

// The current field's values `Width` at a time: `count` groups, each handed to
// put(group, values) from a small buffer; values the field lacks read as 0.
template <int Width, class Put>
void KQovReadDoubleGroups(KQovFieldFile& file, size_t count, Put put) {
    size_t done = 0;
    // Doubles as this host stores them are taken straight from the file's bytes, a group
    // at a time with its type letters checked; the rest, and other types, converted below.
    size_t size = 0;
    if (const uint8_t* bytes = file.FieldReadStoredBytes(size)) {
        done = KQovDecodeDoubleGroups<Width>(bytes, KQovStoredGroups<Width>(file, count, size),
                                             put);
        file.FieldReadSkipStored(int(done * Width), done * 9 * Width);
    }
    constexpr size_t kGroups = 512;
    double chunk[kGroups * Width];
    while (done < count) {
        const size_t n = count - done < kGroups ? count - done : kGroups;
        const size_t got = file.FieldReadDoubles(chunk, n * Width);
        for (size_t i = got; i < n * Width; ++i) chunk[i] = 0.0;
        for (size_t g = 0; g < n; ++g) put(done + g, chunk + g * Width);
        done += n;
    }
}

// The current field's next `count` integers appended to `out` (values it lacks read as 0);
// false when the array cannot grow.
template <class IntArray>
bool KQovAppendInts(KQovFieldFile& file, IntArray& out, int count) {
    if (count <= 0) return true;
    int32_t* at = out.AppendUninitialised(count);
    if (!at) return false;
    const size_t got = file.FieldReadIn(at, static_cast<size_t>(count));
    for (size_t i = got; i < static_cast<size_t>(count); ++i) at[i] = 0;
    return true;
}

// Values of the open field gathered in memory and written a run at a time where the file
// takes encoded values, else one call each: the same bytes either way. The field stays open
// while the object lives; the run goes out when it ends (or at Flush).
class KQovValueRun {
public:
    explicit KQovValueRun(KQovFieldFile& file) : mFile(file), mDirect(file.CanWriteEncoded()) {}
    ~KQovValueRun() { Flush(); }
    KQovValueRun(const KQovValueRun&) = delete;
    KQovValueRun& operator=(const KQovValueRun&) = delete;

    void Ch(char value) { mDirect ? Put('C', &value, 1) : void(mFile.FieldWriteCh(value)); }
    void I(int32_t value) { mDirect ? Put('I', &value, 4) : void(mFile.FieldWriteI(value)); }
    void LL(int64_t value) { mDirect ? Put('L', &value, 8) : void(mFile.FieldWriteLL(value)); }
    void D(double value) { mDirect ? Put('D', &value, 8) : void(mFile.FieldWriteD(value)); }
    void Flush() {
        if (mAt == mBytes) return;
        mFile.FieldWriteEncoded(mBytes, size_t(mAt - mBytes), mCount);
        mAt = mBytes;
        mCount = 0;
    }

private:
    void Put(char type, const void* payload, size_t size) {
        if (mAt + 1 + size > mBytes + sizeof mBytes) Flush();
        mAt[0] = static_cast<uint8_t>(type);
        std::memcpy(mAt + 1, payload, size);
        mAt += 1 + size;
        ++mCount;
    }

    KQovFieldFile& mFile;
    const bool mDirect;
    uint8_t mBytes[8192];
    uint8_t* mAt = mBytes;
    size_t mCount = 0;
};

// A text value as a binary file stores it, payload only: "A::B" goes as "B", 0x00, 0x01, "A"
// (the same length). `out` takes `size` bytes.
void KQovEncodeText(uint8_t* out, const char* text, size_t size);

// A field's name and leading values encoded once, as a binary file in this host's byte order
// stores them, for a field written many times (KQovFieldFile::FieldWriteRecord).
class KQovRecordImage {
public:
    explicit KQovRecordImage(const char* name);
    KQovRecordImage& Ch(char value) { return Put('C', &value, 1); }
    KQovRecordImage& I(int32_t value) { return Put('I', &value, 4); }
    KQovRecordImage& LL(int64_t value) { return Put('L', &value, 8); }
    KQovRecordImage& D(double value) { return Put('D', &value, 8); }
    KQovRecordImage& C(const char* text);

    // False when a binary file could not take it (a name past 255 bytes, a null text).
    bool IsValid() const { return mValid; }
    bool HasNullText() const { return mNullText; }
    const std::string& GetName() const { return mName; }
    // The record from its header (end, count and length left 0) to its last value.
    const uint8_t* GetBytes() const { return mBytes.data(); }
    size_t GetSize() const { return mBytes.size(); }
    size_t GetValueCount() const { return mCount; }
    // Where the values start in GetBytes().
    size_t GetValuesAt() const { return mValuesAt; }

private:
    KQovRecordImage& Put(char type, const void* payload, size_t size);

    std::string mName;
    std::vector<uint8_t> mBytes;
    size_t mValuesAt = 0;
    size_t mCount = 0;
    bool mValid = true;
    bool mNullText = false;
};

// One value encoded at `at` (a type letter and its payload in this host's byte order); the
// byte after it.
inline uint8_t* KQovPutEncoded(uint8_t* at, char type, const void* payload, size_t size) {
    at[0] = static_cast<uint8_t>(type);
    std::memcpy(at + 1, payload, size);
    return at + 1 + size;
}

// `count` groups of `Width` doubles, each filled by get(group, values), written as values of
// the current field through a small buffer.
template <int Width, class Get>
bool KQovWriteDoubleGroups(KQovFieldFile& file, size_t count, Get get) {
    constexpr size_t kGroups = 512;
    double chunk[kGroups * Width];
    bool ok = true;
    for (size_t done = 0; done < count && ok;) {
        const size_t n = count - done < kGroups ? count - done : kGroups;
        for (size_t g = 0; g < n; ++g) get(done + g, chunk + g * Width);
        ok = file.FieldWriteDn(chunk, n * Width);
        done += n;
    }
    return ok;
}

// Field names that need quoting in ASCII files get them; others are left alone.
std::string KQovQuoteFieldName(const char* name);
// The ASCII escape of quoted texts and comments: '"', CR, LF, and '\' before those.
std::string KQovEscapeText(const char* text);
// A character value as the ASCII writer writes it: bare, quoted when it could not stand
// bare, or \xHH (two upper-case hex digits) for a byte outside printable ASCII.
std::string KQovCharText(char value);
