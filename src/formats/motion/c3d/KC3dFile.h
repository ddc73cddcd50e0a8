#pragma once
// The low-level C3D file: the 512-byte header block, the parameter section's records and
// the 3D points of the data section, in the Intel, DEC or MIPS number forms. A file is read
// whole into memory and decoded through a bounded reader; writing goes straight to a stream.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "formats/motion/c3d/KC3dParameter.h"
#include "foundation/KBinaryReader.h"
#include "foundation/KBinaryWriter.h"
#include "foundation/KError.h"

class KFileStream;

enum KC3dProcessor { eC3dIntel = 1, eC3dDec = 2, eC3dMips = 3 };

struct KC3dHeader {
    uint16_t parameterBlock = 2;  // 1-based
    uint16_t pointCount = 0;
    uint16_t analogPerFrame = 0;  // analog measurements per 3D frame
    uint16_t firstFrame = 0;
    uint16_t lastFrame = 0;
    uint16_t maxGap = 0;
    float scaleFactor = -1.0f;  // negative: float points; else 16-bit points times it
    uint16_t dataBlock = 0;     // 1-based
    uint16_t analogSamplesPerFrame = 1;
    float frameRate = 30.0f;
    // The rate as the header holds it; frameRate is 30 where no system records this one.
    float headerRate = 30.0f;
    uint16_t eventCount = 0;
};

struct KC3dPoint {
    double x = 0, y = 0, z = 0;
    double residual = 0;
    uint8_t cameras = 0;
    bool valid = true;
};

// Where a word went, to be rewritten once its value is known.
struct KC3dPatch {
    int64_t position = -1;
    uint16_t value = 0;
    KByteOrder order = KByteOrder::eLittle;
};

class KC3dFile {
public:
    static constexpr size_t kBlockSize = 512;
    enum Error {
        eReadFailed,
        eHeaderInvalid,
        eEndOfFile,
        eWriteFailed,
        eRecordInvalid,
        eTooLarge,
        eNumberInvalid,  // a point not finite or beyond kMaxFileNumber, refused
        eOutOfReach,     // a seen point beyond what the 16-bit integers hold, refused
        eNotSeekable,    // an output that cannot go back to a byte written (a pipe), refused
        eSectionFull,    // records beyond the parameter section's 255 blocks, refused
        eErrorCount
    };
    // A file is read whole into memory: larger ones are refused rather than loaded.
    static constexpr uint64_t kMaxFileSize = uint64_t(1) << 31;

    KC3dFile();
    virtual ~KC3dFile();
    KC3dFile(const KC3dFile&) = delete;
    KC3dFile& operator=(const KC3dFile&) = delete;

    KError& GetError() { return mError; }
    const KError& GetError() const { return mError; }
    KC3dHeader& Header() { return mHeader; }
    int GetFileProcessorType() const { return mProcessor; }
    // The type the writer produces (DEC unless set).
    void SetFileProcessorType(int type);

    // Reading: the whole stream (from its start) or a copy of the bytes.
    bool Load(KFileStream& stream);
    bool Load(const void* data, size_t size);
    // The type named by the parameter section's fourth byte; 1 when it names none.
    int GetProcessorType() const;
    // Header block 1; the processor type is taken from the parameter section first.
    bool ReadHeader();
    // 0-based block; false past the end of the file.
    bool SeekBlock(int64_t block);
    bool ReadByte(uint8_t& out);
    bool ReadWord(uint16_t& out);
    bool ReadFloat(float& out);
    size_t SkipBytes(size_t count);
    bool ReadText(size_t count, std::string& out);
    bool IsEof() const { return mEof; }
    uint64_t Tell() const { return mReader.Position(); }
    // The next record of the parameter section, none at its end.
    std::unique_ptr<KC3dParameter> ReadParameterRecord();
    // One point in scene units (unit scale = scene units per file unit). A seen point beyond
    // kMaxFileNumber in the file or kMaxSceneNumber in the scene (or not a number) is
    // refused; an unseen one's coordinates become 0.
    bool ReadPoint(KC3dPoint& out, float scaleFactor, size_t skipAfter, double unitScale);

    // Writing to a stream positioned where the file starts.
    void BeginWrite(KFileStream& stream);
    bool WriteHeader();
    // The 4-byte section header; EndParameters pads the section to whole blocks, stores
    // its block count there and gives the data section's first block (1-based).
    bool BeginParameters();
    bool WriteParameterRecord(const KC3dParameter& record);
    bool EndParameters(uint16_t& dataBlock);
    // A 16-bit point is rounded to the nearest step; one out of range is clamped and marked
    // unseen (the scene's writer refuses a seen one first). A float point beyond
    // kMaxFileNumber (or not a number) is refused with eNumberInvalid.
    bool WritePoint(const KC3dPoint& point, float scaleFactor, double unitScale);
    bool PatchWord(const KC3dPatch& patch, uint16_t value);
    bool WriteZeros(size_t count);
    // Checks that every byte reached the stream; false (with the error set) when not.
    bool EndWrite();
    static int64_t RoundUp(int64_t position, int64_t multiple);
    bool Fail(Error code);

    KC3dPatch mParameterWordPatch, mDataWordPatch;

private:
    KByteOrder FileOrder() const;
    bool WriteFloat(KBinaryWriter& w, float value) const;
    int64_t WritePosition() const;

    KError mError;
    KC3dHeader mHeader;
    int mProcessor = eC3dIntel;
    std::vector<uint8_t> mBytes;
    KBinaryReader mReader;
    uint64_t mSectionEnd = 0;
    bool mEof = false;

    KFileStream* mStream = nullptr;
    std::unique_ptr<KBinarySink> mSink;
    std::unique_ptr<KBinaryWriter> mWriter;
    int64_t mStart = 0, mParameterStart = -1;
};
