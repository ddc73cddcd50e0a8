#include "formats/motion/c3d/KC3dFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/KFileStream.h"
#include "foundation/KLocale.h"

namespace {

const char* const kC3dErrors[] = {
    "Could not read the file",
    "The C3D header is invalid",
    "The file ends early",
    "Could not write the file",
    "The parameter record cannot be stored",
    "The file is too large",
    kFileNumberError,
    "A marker lies farther from the origin than the 16-bit integers of a C3D file hold (32,767 "
    "m at the largest scale): write the file with floats.",
    "A C3D file is written out of order: its output must be a file, not a pipe or a terminal.",
    "The parameter section of a C3D file holds at most 255 blocks of 512 bytes.",
};
static_assert(sizeof kC3dErrors / sizeof *kC3dErrors == KC3dFile::eErrorCount,
              "one text per error");

class StreamSink : public KBinarySink {
public:
    explicit StreamSink(KFileStream& stream) : mStream(stream) {}
    bool Write(const void* data, size_t count) override {
        return count == 0 || mStream.Write(data, static_cast<uint32_t>(count)) == count;
    }

private:
    KFileStream& mStream;
};

bool InOpenRange(float v, float low, float high) { return v > low && v < high; }

// Rates a capture system records, analog and EMG systems included; outside them the rate is
// damage (zero, negative, not a number) or no rate at all.
bool IsRecordedRate(float rate) {
    return rate > 0.001f && rate <= 1.0e6f;
}

}  // namespace

KC3dFile::KC3dFile() : mError(kC3dErrors, eErrorCount), mProcessor(eC3dDec), mReader(nullptr, 0) {}

KC3dFile::~KC3dFile() = default;

void KC3dFile::SetFileProcessorType(int type) {
    mProcessor = type >= eC3dIntel && type <= eC3dMips ? type : eC3dDec;
}

KByteOrder KC3dFile::FileOrder() const {
    return mProcessor == eC3dMips ? KByteOrder::eBig : KByteOrder::eLittle;
}

bool KC3dFile::Fail(Error code) {
    mError.SetError(code);
    return false;
}

bool KC3dFile::Load(KFileStream& stream) {
    mBytes.clear();
    if (!stream.IsOpen() || stream.Seek(2, 0) != 0) return Fail(eReadFailed);
    const int64_t size = stream.Tell();
    if (size < 0 || stream.Seek(0, 0) != 0) return Fail(eReadFailed);
    if (uint64_t(size) > kMaxFileSize) return Fail(eTooLarge);
    mBytes.reserve(size_t(size));
    uint8_t chunk[65536];
    for (uint32_t n; (n = stream.Read(chunk, sizeof chunk)) > 0;) {
        // The file may grow while it is read: the bound holds for the bytes, not the size.
        if (mBytes.size() + n > kMaxFileSize) {
            mBytes.clear();
            mBytes.shrink_to_fit();
            return Fail(eTooLarge);
        }
        mBytes.insert(mBytes.end(), chunk, chunk + n);
    }
    if (stream.HasError()) return Fail(eReadFailed);
    mReader = KBinaryReader(mBytes.data(), mBytes.size(), FileOrder());
    mEof = false;
    return true;
}

bool KC3dFile::Load(const void* data, size_t size) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    mBytes.assign(bytes, bytes + (data ? size : 0));
    mReader = KBinaryReader(mBytes.data(), mBytes.size(), FileOrder());
    mEof = false;
    return true;
}

int KC3dFile::GetProcessorType() const {
    if (mBytes.size() < 2) return eC3dIntel;
    // The section's own fourth byte, wherever word 1 puts the section.
    size_t block = mBytes[0] | (mBytes[1] & 0x0F) << 8;
    size_t at = block ? (block - 1) * kBlockSize + 3 : 0;
    int type = block && at < mBytes.size() ? mBytes[at] - 83 : eC3dIntel;
    return type >= eC3dIntel && type <= eC3dMips ? type : eC3dIntel;
}

bool KC3dFile::ReadHeader() {
    if (mBytes.size() < kBlockSize) return Fail(eEndOfFile);
    // Word 1 holds the block number in its first byte whatever the processor.
    if ((mBytes[1] >> 4) != 0x5 || (mBytes[0] | (mBytes[1] & 0x0F) << 8) == 0) return Fail(eHeaderInvalid);
    mHeader.parameterBlock = static_cast<uint16_t>(mBytes[0] | (mBytes[1] & 0x0F) << 8);
    mProcessor = GetProcessorType();
    SeekBlock(0);
    mReader.Skip(2);
    mHeader.pointCount = mReader.U16();
    mHeader.analogPerFrame = mReader.U16();
    mHeader.firstFrame = mReader.U16();
    mHeader.lastFrame = mReader.U16();
    mHeader.maxGap = mReader.U16();
    ReadFloat(mHeader.scaleFactor);
    mHeader.dataBlock = mReader.U16();
    mHeader.analogSamplesPerFrame = mReader.U16();
    ReadFloat(mHeader.frameRate);
    mReader.Seek(300);
    mHeader.eventCount = mReader.U16();
    if (!(mHeader.scaleFactor < 0) && !InOpenRange(mHeader.scaleFactor, 0.001f, 1000.0f))
        mHeader.scaleFactor = 0.1449f;
    mHeader.headerRate = mHeader.frameRate;
    if (!IsRecordedRate(mHeader.frameRate)) mHeader.frameRate = 30.0f;
    // Records never run into the data section when it follows the parameters.
    uint64_t dataAt = uint64_t(mHeader.dataBlock ? mHeader.dataBlock - 1 : 0) * kBlockSize;
    mSectionEnd = mHeader.dataBlock > mHeader.parameterBlock ? std::min<uint64_t>(dataAt, mBytes.size())
                                                             : mBytes.size();
    return mReader.Ok() || Fail(eEndOfFile);
}

bool KC3dFile::SeekBlock(int64_t block) {
    mReader = KBinaryReader(mBytes.data(), mBytes.size(), FileOrder());
    mEof = block < 0 || uint64_t(block) * kBlockSize >= mBytes.size();
    return !mEof && mReader.Seek(uint64_t(block) * kBlockSize);
}

bool KC3dFile::ReadByte(uint8_t& out) {
    out = mReader.U8();
    return mReader.Ok() || (mEof = true, false);
}

bool KC3dFile::ReadWord(uint16_t& out) {
    out = mReader.U16();
    return mReader.Ok() || (mEof = true, false);
}

bool KC3dFile::ReadFloat(float& out) {
    out = mProcessor == eC3dDec ? mReader.DecF32() : mReader.F32();
    return mReader.Ok() || (mEof = true, false);
}

size_t KC3dFile::SkipBytes(size_t count) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(count, mReader.Remaining()));
    mReader.Skip(n);
    if (n < count) mEof = true;
    return n;
}

bool KC3dFile::ReadText(size_t count, std::string& out) {
    out.assign(count, '\0');
    if (!mReader.Bytes(&out[0], count)) {
        out.clear();
        return mEof = true, false;
    }
    out.resize(strnlen(out.c_str(), count));
    return true;
}

namespace {

// Elements of a record's data, converted to host form.
void ReadElements(KBinaryReader& r, KC3dArray& a, int processor) {
    size_t n = a.GetElementCount();
    if (a.GetType() == kC3dTypeFloat) {
        for (size_t i = 0; i < n; ++i) a.SetFloat(i, processor == eC3dDec ? r.DecF32() : r.F32());
    } else if (a.GetElementSize() == 2) {
        for (size_t i = 0; i < n; ++i) a.SetInt16(i, r.I16());
    } else {
        r.Bytes(a.Data().data(), a.Data().size());
    }
}

}  // namespace

std::unique_ptr<KC3dParameter> KC3dFile::ReadParameterRecord() {
    uint64_t end = std::min<uint64_t>(mSectionEnd, mBytes.size());
    if (!mReader.Ok() || mReader.Position() + 2 > end) return mEof = true, nullptr;
    int8_t nameLength = mReader.I8();
    int8_t groupId = mReader.I8();
    if (nameLength == 0 || groupId == 0) return nullptr;
    auto record = std::make_unique<KC3dParameter>();
    size_t length = static_cast<size_t>(std::abs(int(nameLength)));
    if (mReader.Position() + length + 2 > end) return mEof = true, nullptr;
    ReadText(length, record->name);
    if (record->name.size() > KC3dParameter::kNameMaximum) record->name.resize(KC3dParameter::kNameMaximum);
    record->locked = nameLength < 0;
    record->groupId = groupId;
    uint64_t fieldAt = mReader.Position();
    uint16_t offset = mReader.U16();
    uint64_t next = std::min<uint64_t>(fieldAt + std::max<uint16_t>(offset, 2), end);
    uint64_t budget = next - mReader.Position();
    KBinaryReader r = mReader.Sub(budget);
    mReader.Seek(next);

    if (!record->IsGroup()) {
        uint32_t type = KC3dArrayTypeFromFile(r.I8());
        std::vector<uint32_t> dims(r.U8());
        for (uint32_t& d : dims) d = r.U8();
        if (!r.Ok() || type == 0) return record;
        // Each factor is checked against the bytes left, so the product never overflows.
        uint64_t bytes = type & 0xF;
        for (uint32_t d : dims)
            if ((bytes *= d) > r.Remaining()) return record;
        record->data = std::make_unique<KC3dArray>(type, std::move(dims));
        ReadElements(r, *record->data, mProcessor);
    }
    uint8_t descriptionLength = r.U8();
    if (r.Ok() && r.Remaining() >= descriptionLength) {
        record->description.assign(descriptionLength, '\0');
        r.Bytes(&record->description[0], descriptionLength);
    }
    return record;
}

bool KC3dFile::ReadPoint(KC3dPoint& out, float scaleFactor, size_t skipAfter, double unitScale) {
    out = KC3dPoint();
    bool numbers = true;
    if (scaleFactor >= 0) {
        int16_t x = mReader.I16(), y = mReader.I16(), z = mReader.I16();
        // One word in file order: the residual in its low byte, the cameras in its high byte.
        uint16_t fourth = mReader.U16();
        double scale = double(scaleFactor) * unitScale;
        out.x = x * scale;
        out.y = y * scale;
        out.z = z * scale;
        out.residual = (fourth & 0xFF) * unitScale;
        out.cameras = (fourth >> 8) & 0x3F;
        out.valid = !(fourth & 0x8000);
    } else {
        float v[4];
        for (float& f : v) ReadFloat(f);
        numbers = KIsFileNumber(v[0]) && KIsFileNumber(v[1]) && KIsFileNumber(v[2]);
        out.x = v[0] * unitScale;
        out.y = v[1] * unitScale;
        out.z = v[2] * unitScale;
        double t = std::trunc(double(v[3]));
        out.valid = t >= -2147483648.0 && t < 2147483648.0 && static_cast<int16_t>(static_cast<int32_t>(t)) >= 0;
    }
    SkipBytes(skipAfter);
    if (!mReader.Ok()) return mEof = true, false;
    if (numbers && KIsSceneNumber(out.x) && KIsSceneNumber(out.y) && KIsSceneNumber(out.z))
        return true;
    // An unseen point's coordinates carry nothing; a seen one's must be numbers.
    if (out.valid) return false;
    out.x = out.y = out.z = 0.0;
    return true;
}

void KC3dFile::BeginWrite(KFileStream& stream) {
    mStream = &stream;
    mSink = std::make_unique<StreamSink>(stream);
    mWriter = std::make_unique<KBinaryWriter>(*mSink, FileOrder());
    mStart = stream.Tell();
    mParameterStart = -1;
}

int64_t KC3dFile::WritePosition() const { return mStart + int64_t(mWriter ? mWriter->Written() : 0); }

bool KC3dFile::WriteFloat(KBinaryWriter& w, float value) const {
    if (mProcessor == eC3dDec)
        w.DecF32(value);
    else
        w.F32(value);
    return w.Ok();
}

bool KC3dFile::WriteHeader() {
    if (!mWriter) return Fail(eWriteFailed);
    KBinaryWriter& w = *mWriter;
    mParameterWordPatch = {WritePosition(), uint16_t(0x5000 | (mHeader.parameterBlock & 0x0FFF)), KByteOrder::eLittle};
    w.U8(static_cast<uint8_t>(mParameterWordPatch.value & 0xFF));
    w.U8(static_cast<uint8_t>(mParameterWordPatch.value >> 8));
    w.U16(mHeader.pointCount);
    w.U16(mHeader.analogPerFrame);
    w.U16(mHeader.firstFrame);
    w.U16(mHeader.lastFrame);
    w.U16(mHeader.maxGap);
    WriteFloat(w, mHeader.scaleFactor);
    mDataWordPatch = {WritePosition(), mHeader.dataBlock, FileOrder()};
    w.U16(mHeader.dataBlock);
    w.U16(mHeader.analogSamplesPerFrame);
    WriteFloat(w, mHeader.frameRate);
    WriteZeros(274);
    w.U16(12345);
    w.U16(0);  // no events
    return WriteZeros(210) || Fail(eWriteFailed);
}

bool KC3dFile::BeginParameters() {
    if (!mWriter) return Fail(eWriteFailed);
    mParameterStart = WritePosition();
    const uint8_t head[4] = {1, 0x50, 0, static_cast<uint8_t>(83 + mProcessor)};
    return mWriter->Bytes(head, 4) || Fail(eWriteFailed);
}

bool KC3dFile::WriteParameterRecord(const KC3dParameter& record) {
    if (!mWriter) return Fail(eWriteFailed);
    size_t nameLength = record.name.size();
    if (nameLength == 0 || nameLength > 127 || record.groupId == 0 || record.description.size() > 255)
        return Fail(eRecordInvalid);
    std::vector<uint8_t> body;
    KBinaryWriter w(body, FileOrder());
    if (!record.IsGroup() && record.data) {
        const KC3dArray& a = *record.data;
        const std::vector<uint32_t>& dims = a.GetDimensions();
        int8_t type = KC3dFileTypeFromArray(a.GetType());
        bool single = dims.empty() || (dims.size() == 1 && dims[0] == 1);
        if (type == 0 || dims.size() > 255 || std::any_of(dims.begin(), dims.end(), [](uint32_t d) { return d > 255; }))
            return Fail(eRecordInvalid);
        w.I8(type);
        w.U8(static_cast<uint8_t>(single ? 0 : dims.size()));
        if (!single)
            for (uint32_t d : dims) w.U8(static_cast<uint8_t>(d));
        for (size_t i = 0; i < a.GetElementCount(); ++i) {
            if (type == 4)
                WriteFloat(w, static_cast<float>(a.GetNumber(i)));
            else if (type == 2)
                w.I16(static_cast<int16_t>(a.GetNumber(i)));
            else
                w.U8(a.Data()[i]);
        }
    } else if (!record.IsGroup()) {
        w.I8(1);  // a parameter without elements: one dimension of size 0
        w.U8(1);
        w.U8(0);
    }
    w.U8(static_cast<uint8_t>(record.description.size()));
    w.Bytes(record.description.data(), record.description.size());
    // The offset counts from its own first byte to the next record.
    if (body.size() + 2 > 0xFFFF) return Fail(eRecordInvalid);
    KBinaryWriter& out = *mWriter;
    out.I8(static_cast<int8_t>(record.locked ? -int(nameLength) : int(nameLength)));
    out.I8(record.groupId);
    out.Bytes(record.name.data(), nameLength);
    out.U16(static_cast<uint16_t>(body.size() + 2));
    out.Bytes(body.data(), body.size());
    return out.Ok() || Fail(eWriteFailed);
}

bool KC3dFile::EndParameters(uint16_t& dataBlock) {
    if (!mWriter || mParameterStart < 0) return Fail(eWriteFailed);
    int64_t end = RoundUp(WritePosition(), kBlockSize);
    WriteZeros(static_cast<size_t>(end - WritePosition()));
    int64_t blocks = (end - mParameterStart) / int64_t(kBlockSize);
    if (blocks > 255 || (end - mStart) / int64_t(kBlockSize) >= 0xFFFF) return Fail(eRecordInvalid);
    dataBlock = static_cast<uint16_t>((end - mStart) / int64_t(kBlockSize) + 1);
    // The real block count, whatever the section's length.
    KC3dPatch count{mParameterStart + 2, uint16_t(blocks), KByteOrder::eLittle};
    uint8_t byte = static_cast<uint8_t>(blocks);
    if (!mWriter->Ok() || mStream->Seek(0, count.position) != 0 || mStream->Write(&byte, 1) != 1 ||
        mStream->Seek(2, 0) != 0)
        return Fail(eWriteFailed);
    return true;
}

bool KC3dFile::WritePoint(const KC3dPoint& point, float scaleFactor, double unitScale) {
    if (!mWriter) return Fail(eWriteFailed);
    KBinaryWriter& w = *mWriter;
    if (scaleFactor < 0) {
        for (double v : {point.x / unitScale, point.y / unitScale, point.z / unitScale})
            if (!KIsFileNumber(v)) return Fail(eNumberInvalid);
        WriteFloat(w, static_cast<float>(point.x / unitScale));
        WriteFloat(w, static_cast<float>(point.y / unitScale));
        WriteFloat(w, static_cast<float>(point.z / unitScale));
        WriteFloat(w, point.valid ? 0.0f : -1.0f);
    } else {
        bool valid = point.valid;
        double factor = 1.0 / (double(scaleFactor) * unitScale);
        for (double v : {point.x, point.y, point.z}) {
            double t = std::round(v * factor);
            // Out of 16-bit range (or not a number): clamped, and the point marked invalid.
            if (!(t >= -32768.0 && t <= 32767.0)) {
                valid = false;
                t = std::isnan(t) ? 0.0 : std::clamp(t, -32768.0, 32767.0);
            }
            w.I16(static_cast<int16_t>(t));
        }
        w.U16(valid ? 0 : 0x8000);
    }
    return w.Ok() || Fail(eWriteFailed);
}

bool KC3dFile::PatchWord(const KC3dPatch& patch, uint16_t value) {
    if (!mStream || !mWriter || !mWriter->Ok() || patch.position < 0) return Fail(eWriteFailed);
    uint8_t bytes[2];
    KStoreU16(bytes, value, patch.order);
    if (mStream->Seek(0, patch.position) != 0 || mStream->Write(bytes, 2) != 2 || mStream->Seek(2, 0) != 0)
        return Fail(eWriteFailed);
    return true;
}

bool KC3dFile::WriteZeros(size_t count) {
    if (!mWriter) return Fail(eWriteFailed);
    static const uint8_t zeros[512] = {};
    for (size_t n; count > 0; count -= n) mWriter->Bytes(zeros, n = std::min(count, sizeof zeros));
    return mWriter->Ok() || Fail(eWriteFailed);
}

bool KC3dFile::EndWrite() {
    bool ok = mWriter && mWriter->Ok() && mStream && !mStream->HasError();
    mWriter.reset();
    mSink.reset();
    mStream = nullptr;
    return ok || Fail(eWriteFailed);
}

int64_t KC3dFile::RoundUp(int64_t position, int64_t multiple) {
    return (position + multiple - 1) / multiple * multiple;
}
