#include "formats/geometry/3ds/Chunk3ds.h"

#include <atomic>
#include <cstring>

#include "platform/KPlatformStdio.h"

namespace {

// Raised whenever a chunk may lose its rank (emptied) or be deleted: the ordered-insertion
// hints of every context then start again. Shared by all contexts, so it is atomic.
std::atomic<uint64_t> gRankEpoch{0};

// Child lists shorter than this are walked from their start.
constexpr size_t kLongChildWalk = 16;

bool IsContainer(uint32_t tag) {
    switch (tag) {
        case 0x4D4D:
        case 0xC23D:
        case 0x3DAA:
        case 0x3D3D:
        case 0x1200:
        case 0x2100:
        case 0x3000:
        case 0x4100:
        case 0x8000:
        case 0x8001:
        case 0xA010:
        case 0xA020:
        case 0xA030:
        case 0xA040:
        case 0xA041:
        case 0xA042:
        case 0xA050:
        case 0xA052:
        case 0xA053:
        case 0xA084:
        case 0xA200:
        case 0xA204:
        case 0xA210:
        case 0xA220:
        case 0xA230:
        case 0xA33A:
        case 0xA33C:
        case 0xA33D:
        case 0xA33E:
        case 0xA340:
        case 0xA342:
        case 0xA344:
        case 0xA346:
        case 0xA348:
        case 0xA34A:
        case 0xA34C:
        case 0xAFFF:
        case 0xB000:
        case 0xB001:
        case 0xB002:
        case 0xB003:
        case 0xB004:
        case 0xB005:
        case 0xB006:
        case 0xB007:
        case 0x2D2D:
        case 0x2D3D:
        case 0x3DFF:
            return true;
        default:
            return false;
    }
}

// Tags whose sub-chunks follow a payload of fixed form.
bool HasChildrenAfterData(uint32_t tag) {
    switch (tag) {
        case 0x4000:
        case 0x4120:
        case 0x2200:
        case 0x2300:
        case 0x2302:
        case 0x3070:
        case 0x4600:
        case 0x4610:
        case 0x4641:
        case 0x4700:
        case 0x7001:
        case 0x1500:
        case 0xA310:
        case 0xB010:
        case 0xB00A:
        case 0xD000:
            return true;
        default:
            return tag >= 0x3010 && tag <= 0x3060 && (tag & 0xF) == 0;
    }
}

template <class T>
std::unique_ptr<ChunkData3ds> Make() {
    return std::unique_ptr<ChunkData3ds>(new Payload3ds<T>);
}

}  // namespace

// A payload record of the tag, or null for tags without own data.
static std::unique_ptr<ChunkData3ds> MakeChunkData3ds(uint32_t tag) {
    if (IsContainer(tag)) return nullptr;
    switch (tag) {
        case 0x4165:
            return Make<uint8_t>();
        case 0x0011:
        case 0x0012:
        case 0xA360:
        case 0xA362:
        case 0xA364:
        case 0xA366:
        case 0xA368:
            return Make<Color24_3ds>();
        case 0x0030:
        case 0x1420:
        case 0x1430:
        case 0xA100:
        case 0xA252:
        case 0xA351:
        case 0xB030:
            return Make<uint16_t>();
        case 0x0002:
        case 0x1440:
        case 0x3D3E:
        case 0xB009:
            return Make<uint32_t>();
        case 0x0031:
        case 0x0100:
        case 0x1300:
        case 0x1400:
        case 0x1410:
        case 0x1450:
        case 0x1460:
        case 0x4656:
        case 0x4657:
        case 0x4658:
        case 0x4659:
        case 0x465A:
        case 0x465B:
        case 0xA087:
        case 0xA353:
        case 0xA354:
        case 0xA356:
        case 0xA358:
        case 0xA35A:
        case 0xA35C:
        case 0xB015:
            return Make<float>();
        case 0x0010:
        case 0x0013:
        case 0x1500:
        case 0x4600:
        case 0xB013:
            return Make<Point3ds>();
        case 0x4000:
        case 0x3080:
        case 0x4654:
        case 0xB011:
            return Make<Text3ds<10>>();
        case 0x1100:
        case 0x4181:
        case 0x4653:
            return Make<Text3ds<12>>();
        case 0xA000:
        case 0xA300:
            return Make<Text3ds<16>>();
        case 0x8002:
        case 0x8003:
        case 0x80F0:
            return Make<Text3ds<0>>();
        case 0x2200:
        case 0x2300:
            return Make<Floats4_3ds>();
        case 0x2302:
            return Make<Shadow3ds>();
        case 0x3070:
            return Make<ViewCamera3ds>();
        case 0x4110:
            return Make<PointList3ds>();
        case 0x4111:
            return Make<WordList3ds>();
        case 0x4120:
            return Make<FaceList3ds>();
        case 0x4130:
            return Make<MaterialGroup3ds>();
        case 0x4140:
            return Make<TexVertList3ds>();
        case 0x4150:
            return Make<Smoothing3ds>();
        case 0x4160:
            return Make<Matrix3ds>();
        case 0x4170:
            return Make<MapData3ds>();
        case 0x4190:
            return Make<BoxMap3ds>();
        case 0x4610:
            return Make<Spot3ds>();
        case 0x4641:
            return Make<LocalShadow3ds>();
        case 0x4700:
            return Make<CameraData3ds>();
        case 0x4720:
            return Make<Floats2_3ds>();
        case 0x7001:
            return Make<Words7_3ds>();
        case 0x7011:
        case 0x7012:
            return Make<Viewport3ds>();
        case 0x7020:
            return Make<Words4_3ds>();
        case 0xA310:
            return Make<AutoReflection3ds>();
        case 0xB008:
            return Make<Segment3ds>();
        case 0xB00A:
            return Make<KfHeader3ds>();
        case 0xB010:
            return Make<NodeHeader3ds>();
        case 0xB014:
            return Make<BoundBox3ds>();
        case 0xB020:
        case 0xB022:
        case 0xB025:
            return Make<Track3ds<Point3ds>>();
        case 0xB021:
            return Make<Track3ds<Rotation3ds>>();
        case 0xB023:
        case 0xB024:
        case 0xB027:
        case 0xB028:
            return Make<Track3ds<float>>();
        case 0xB026:
            return Make<Track3ds<MorphName3ds>>();
        case 0xB029:
            return Make<Track3ds<NoValue3ds>>();
        default:
            if (tag >= 0x3010 && tag <= 0x3060 && (tag & 0xF) == 0) return Make<View3ds>();
            return Make<Raw3ds>();  // raw tags and tags the toolkit does not know
    }
}

// ---- reading and writing values ----

size_t CurrentFile3ds::Read(void* out, size_t count) {
    FILE* stream = GetCurrentStream3ds(mCtx);
    if (!stream) return 0;
    int error = 0;
    const size_t got = KPlatformReadStream(stream, out, count, error);
    if (error != 0 && mCtx.readError == 0) mCtx.readError = error;
    return got;
}

bool CurrentFile3ds::Seek(uint64_t position) {
    CurrentFileSeek3ds(mCtx, uint32_t(position));
    return true;
}

bool CurrentFile3ds::Write(const void* data, size_t count) {
    FILE* stream = GetCurrentStream3ds(mCtx);
    if (!stream) return false;
    // A new file keeps why a write failed, for the message of the write that fails.
    File3ds* file = mCtx.current;
    if (stream == file->replace.GetFile()) return file->replace.Write(data, count) == count;
    return fwrite(data, 1, count, stream) == count;
}

ChunkReader3ds::ChunkReader3ds(Context3ds& ctx, uint64_t position, uint64_t end)
    : mCtx(ctx), mFile(ctx), mReader(mFile, position, end) {}

ChunkReader3ds::ChunkReader3ds(Context3ds& ctx, const uint8_t* data, size_t size)
    : mCtx(ctx), mFile(ctx), mReader(data, size) {}

bool ChunkReader3ds::Take(uint64_t count, std::vector<uint8_t>& bytes) {
    if (!Fits(count)) return false;
    bytes.resize(size_t(count));
    mReader.Bytes(bytes.data(), bytes.size());
    Report();
    return Ok();
}

void ChunkReader3ds::Text(std::string& text, size_t maxChars, bool strict) {
    text.clear();
    size_t limit = strict ? maxChars + 1 : size_t(Remaining());
    for (size_t i = 0; i < limit && Ok(); ++i) {
        uint8_t c = 0;
        Value(c);
        if (!Ok() || c == 0) return;
        text.push_back(char(c));
    }
    mReader.Fail(KBinaryReader::eReadFailed);  // no terminator where one must be
    Report();
}

void ChunkReader3ds::FixedText(FixedText3ds& field, size_t fieldBytes) {
    field.text.clear();
    field.tail.clear();
    std::vector<uint8_t> bytes(fieldBytes);
    mReader.Bytes(bytes.data(), fieldBytes);
    Report();
    if (!Ok()) return;
    size_t end = 0;
    while (end < fieldBytes && bytes[end]) ++end;
    if (end == fieldBytes) {
        mReader.Fail(KBinaryReader::eReadFailed);
        Report();
        return;
    }
    field.text.assign(reinterpret_cast<const char*>(bytes.data()), end);
    field.tail.assign(bytes.begin() + end + 1, bytes.end());
}

void ChunkReader3ds::Rest(std::vector<uint8_t>& bytes) {
    bytes.assign(size_t(Remaining()), 0);
    if (!bytes.empty()) {
        mReader.Bytes(bytes.data(), bytes.size());
        Report();
    }
}

void ChunkReader3ds::RestOf(std::vector<uint32_t>& values, size_t itemBytes) {
    size_t count = size_t(Remaining() / itemBytes);
    std::vector<uint8_t> bytes;
    if (!Take(uint64_t(count) * itemBytes, bytes)) return;
    values.resize(count);
    // Every value is there: decoded without a bound check each.
    if (itemBytes == 4) {
        for (size_t i = 0; i < count; ++i) values[i] = KLoadU32(&bytes[4 * i], KByteOrder::eLittle);
        return;
    }
    KBinaryReader inMemory(bytes.data(), bytes.size());
    for (uint32_t& v : values) v = inMemory.U32();
}

ChunkWriter3ds::ChunkWriter3ds(Context3ds& ctx) : mCtx(ctx), mFile(ctx), mWriter(mFile) {}

ChunkWriter3ds::ChunkWriter3ds(Context3ds& ctx, std::vector<uint8_t>& out)
    : mCtx(ctx), mFile(ctx), mWriter(out) {}

void ChunkWriter3ds::Fail(int code) {
    if (mReported) return;
    mReported = true;
    mWriter.Fail();
    PushError3ds(mCtx, code);
}

void ChunkWriter3ds::Text(const std::string& text, size_t maxChars, bool strict) {
    size_t len = strnlen(text.c_str(), text.size());
    if (strict && len > maxChars) return Fail(ERR_STRING_TOO_LONG);
    Bytes(reinterpret_cast<const uint8_t*>(text.data()), len);
    Value(uint8_t(0));
}

void ChunkWriter3ds::FixedText(const FixedText3ds& field, size_t fieldBytes) {
    size_t len = strnlen(field.text.c_str(), field.text.size());
    if (len + 1 > fieldBytes) return Fail(ERR_STRING_TOO_LONG);
    std::vector<uint8_t> bytes(fieldBytes, 0);
    memcpy(bytes.data(), field.text.data(), len);
    if (field.tail.size() == fieldBytes - len - 1)
        memcpy(bytes.data() + len + 1, field.tail.data(), field.tail.size());
    Bytes(bytes.data(), bytes.size());
}

void ChunkWriter3ds::Rest(const std::vector<uint8_t>& bytes) {
    Bytes(bytes.data(), bytes.size());
}

void ChunkWriter3ds::RestOf(const std::vector<uint32_t>& values, size_t) {
    std::vector<uint8_t> bytes;
    KBinaryWriter inMemory(bytes);
    for (uint32_t v : values) inMemory.U32(v);
    Bytes(bytes.data(), bytes.size());
}

// ---- headers ----

void ReadHeader3ds(Context3ds& ctx, uint32_t* tag, uint32_t* length) {
    uint32_t at = CurrentFileTell3ds(ctx);
    ChunkReader3ds reader(ctx, at, uint64_t(at) + 6);
    uint16_t t = 0;
    uint32_t l = 0;
    reader.Value(t), reader.Value(l);
    if (tag) *tag = t;
    if (length) *length = l;
}

void WriteHeader3ds(Context3ds& ctx, uint32_t tag, uint32_t length) {
    ChunkWriter3ds writer(ctx);
    writer.Value(uint16_t(tag)), writer.Value(length);
}

void FinishHeader3ds(Context3ds& ctx, uint32_t start, uint32_t end) {
    CurrentFileSeek3ds(ctx, start + 2);
    ChunkWriter3ds writer(ctx);
    writer.Value(uint32_t(end - start));
    CurrentFileSeek3ds(ctx, end);
}

// ---- chunk nodes ----

void InitChunk3ds(Context3ds& ctx, Chunk3ds** chunk) {
    if (!chunk) return PushError3ds(ctx, ERR_INVALID_ARG);
    *chunk = new (std::nothrow) Chunk3ds;
    if (!*chunk) PushError3ds(ctx, ERR_NO_MEM);
}

void InitChunkAs3ds(Context3ds& ctx, Chunk3ds** chunk, uint32_t tag) {
    InitChunk3ds(ctx, chunk);
    if (chunk && *chunk) (*chunk)->tag = tag;
}

ChunkData3ds* InitChunkData3ds(Context3ds& ctx, Chunk3ds* chunk) {
    if (!chunk) {
        PushError3ds(ctx, ERR_INVALID_ARG);
        return nullptr;
    }
    chunk->data = MakeChunkData3ds(chunk->tag);
    return chunk->data.get();
}

ChunkData3ds* ReadChunkData3ds(Context3ds& ctx, Chunk3ds* chunk) {
    if (!chunk) {
        PushError3ds(ctx, ERR_INVALID_ARG);
        return nullptr;
    }
    // A parent name lives only in memory; one met in a file holds nothing.
    if (chunk->data || chunk->fileSlot == kNoSlot3ds || IsContainer(chunk->tag) ||
        chunk->tag == 0x80F0) {
        return chunk->data.get();
    }
    ctx.NoteChunk(chunk->tag, chunk->position);
    if (!IsFileIndexValid3ds(ctx, chunk->fileSlot)) {
        PushError3ds(ctx, ERR_READING_FILE);
        return nullptr;
    }
    uint64_t start = uint64_t(chunk->position) + 6;
    uint64_t end = uint64_t(chunk->position) + chunk->length;
    if (chunk->tag == 0xD000) end = std::min(end, start + 4);
    if (end <= start) return nullptr;  // no own data
    std::unique_ptr<ChunkData3ds> data = MakeChunkData3ds(chunk->tag);
    SetCurrentFileByIndex3ds(ctx, chunk->fileSlot);
    CurrentFileSeek3ds(ctx, uint32_t(start));
    ChunkReader3ds reader(ctx, start, end);
    data->Read(reader);
    // Bytes after a leaf's record are kept with it, so the chunk saves unchanged.
    if (reader.Ok() && !HasChildrenAfterData(chunk->tag) && reader.Remaining() > 0) {
        reader.Rest(data->tail);
    }
    chunk->data = std::move(data);
    return chunk->data.get();
}

void WriteChunkData3ds(Context3ds& ctx, Chunk3ds* chunk) {
    if (!chunk) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!chunk->data) return;
    ChunkWriter3ds writer(ctx);
    chunk->data->Write(writer);
    writer.Rest(chunk->data->tail);
}

void FreeChunkData3ds(Chunk3ds* chunk) {
    if (chunk) chunk->data.reset();
}

void DisposeChunkData3ds(Context3ds& ctx, Chunk3ds* chunk) {
    if (chunk && IsFileIndexValid3ds(ctx, chunk->fileSlot)) chunk->data.reset();
}

void CopyChunkData3ds(Context3ds& ctx, Chunk3ds* source, Chunk3ds* target) {
    if (!source || !target) return PushError3ds(ctx, ERR_INVALID_ARG);
    target->data = source->data ? source->data->Clone() : nullptr;
}

void CopyChunk3ds(Context3ds& ctx, Chunk3ds* source, Chunk3ds** copy) {
    if (!copy) return PushError3ds(ctx, ERR_INVALID_ARG);
    *copy = nullptr;
    if (!source) return PushError3ds(ctx, ERR_INVALID_ARG);
    HeldChunk3ds held;
    InitChunk3ds(ctx, held.Slot());
    Chunk3ds* made = held.get();
    if (!made) return;
    made->tag = source->tag;
    made->length = source->length;
    made->position = source->position;
    made->fileSlot = source->fileSlot;
    made->outputSlot = source->outputSlot;
    if (source->fileSlot != kNoSlot3ds)
        made->data = std::move(source->data);  // the source can read it again
    else if (source->data)
        made->data = source->data->Clone();
    // A whole copy or none: a copy cut short would lack chunks its readers expect.
    *copy = nullptr;
    Chunk3ds** link = &made->child;
    for (Chunk3ds* child = source->child; child; child = child->next) {
        CopyChunk3ds(ctx, child, link);
        if (!*link) return;
        link = &(*link)->next;
    }
    *copy = held.Release();
}

void ReleaseChunk3ds(Chunk3ds* chunk) {
    if (!chunk) return;
    gRankEpoch.fetch_add(1, std::memory_order_relaxed);  // its rank falls to 0
    DeleteChunkChain3ds(&chunk->child);
    chunk->data.reset();
    chunk->tag = chunk->length = chunk->position = 0;
    chunk->fileSlot = chunk->outputSlot = kNoSlot3ds;
}

void DeleteChunkChain3ds(Chunk3ds** chunk) {
    if (!chunk) return;
    Chunk3ds* at = *chunk;
    *chunk = nullptr;
    if (at) gRankEpoch.fetch_add(1, std::memory_order_relaxed);
    while (at) {  // siblings iteratively: a long chain never deepens the stack
        Chunk3ds* next = at->next;
        DeleteChunkChain3ds(&at->child);
        delete at;
        at = next;
    }
}

void AddChildLast3ds(Context3ds& ctx, Chunk3ds* parent, Chunk3ds* child) {
    if (!parent || !child) return PushError3ds(ctx, ERR_INVALID_ARG);
    Chunk3ds** link = &parent->child;
    while (*link) link = &(*link)->next;
    *link = child;
}

int GetChunkOrder3ds(uint32_t tag) {
    switch (tag) {
        case 0x2D2D:
            return 34;
        case 0x2D3D:
            return 33;
        case 0x4D4D:
            return 32;
        case 0x0002:
            return 31;
        case 0x3D3D:
            return 30;
        case 0xB000:
            return 29;
        case 0x0011:
            return 28;
        case 0x0012:
            return 27;
        case 0x3D3E:
            return 26;
        case 0xAFFF:
            return 25;
        case 0xB00A:
            return 24;
        case 0x0100:
            return 23;
        case 0x7001:
            return 22;
        case 0x1400:
            return 21;
        case 0x1420:
            return 20;
        case 0x1450:
            return 19;
        case 0x1460:
            return 18;
        case 0x1500:
            return 17;
        case 0x2100:
            return 16;
        case 0x1200:
            return 15;
        case 0x1100:
            return 14;
        case 0x1300:
            return 13;
        case 0x1101:
        case 0x1201:
        case 0x1301:
            return 12;
        case 0x2200:
            return 11;
        case 0x2302:
            return 10;
        case 0x2300:
            return 9;
        case 0x3000:
            return 8;
        case 0x4000:
            return 7;
        case 0xB008:
            return 6;
        case 0xB009:
            return 5;
        case 0xB002:
        case 0xB003:
        case 0xB004:
        case 0xB006:
        case 0xB007:
            return 4;
        case 0xB001:
            return 3;
        case 0x4100:
        case 0x4600:
        case 0x4700:
            return 2;
        case 0x4010:
            return 1;
        default:
            return 0;
    }
}

Chunk3ds* AdoptChild3ds(Context3ds& ctx, Chunk3ds* parent, HeldChunk3ds& child) {
    if (!parent || !child.get()) {
        PushError3ds(ctx, ERR_INVALID_ARG);
        return nullptr;
    }
    Chunk3ds* adopted = child.Release();
    AddChildOrdered3ds(ctx, parent, adopted);
    return adopted;
}

void AddChildOrdered3ds(Context3ds& ctx, Chunk3ds* parent, Chunk3ds* child) {
    if (!parent || !child) return PushError3ds(ctx, ERR_INVALID_ARG);
    int rank = GetChunkOrder3ds(child->tag);
    // The child goes before the first sibling ranked lower. In a long list the walk starts at
    // the chunk of the same rank put there last: every child up to it ranks at least as
    // high, as long as no chunk has since lost its rank or been deleted (the epoch).
    const uint64_t epoch = gRankEpoch.load(std::memory_order_relaxed);
    if (ctx.orderEpoch != epoch) {
        ctx.orderHints.clear();
        ctx.orderEpoch = epoch;
    }
    const auto key = std::make_pair(static_cast<const Chunk3ds*>(parent), rank);
    const auto hint = ctx.orderHints.find(key);
    Chunk3ds** link = hint != ctx.orderHints.end() ? &hint->second->next : &parent->child;
    size_t steps = 0;
    while (*link && GetChunkOrder3ds((*link)->tag) >= rank) {
        link = &(*link)->next;
        ++steps;
    }
    child->next = *link;
    *link = child;
    if (hint != ctx.orderHints.end())
        hint->second = child;
    else if (steps >= kLongChildWalk)
        ctx.orderHints.emplace(key, child);
}

void ReplaceOrAddChild3ds(Context3ds& ctx, Chunk3ds* parent, uint32_t tag, Chunk3ds** chunk) {
    if (!parent || !chunk) return PushError3ds(ctx, ERR_INVALID_ARG);
    Chunk3ds* found = FindNextChunk3ds(parent->child, tag);
    if (found) {
        ReleaseChunk3ds(found);
        found->tag = tag;
    } else {
        InitChunkAs3ds(ctx, &found, tag);
        if (!found) return;
        AddChildOrdered3ds(ctx, parent, found);
    }
    *chunk = found;
}

Chunk3ds* AddEmptyChunk3ds(Context3ds& ctx, uint32_t tag, Chunk3ds* parent) {
    Chunk3ds* chunk = nullptr;
    InitChunkAs3ds(ctx, &chunk, tag);
    if (!chunk) return nullptr;
    AddChildOrdered3ds(ctx, parent, chunk);
    return chunk;
}

Chunk3ds* FindChunk3ds(Chunk3ds* chunk, uint32_t tag) {
    if (!chunk) return nullptr;
    if (chunk->tag == tag) return chunk;
    for (Chunk3ds* child = chunk->child; child; child = child->next) {
        if (Chunk3ds* found = FindChunk3ds(child, tag)) return found;
    }
    return nullptr;
}

Chunk3ds* FindChunkBelow3ds(Chunk3ds* chunk, uint32_t tag) {
    Chunk3ds* found = nullptr;
    for (Chunk3ds* child = chunk ? chunk->child : nullptr; child && !found; child = child->next)
        found = FindChunk3ds(child, tag);
    return found;
}

Chunk3ds* FindNextChunk3ds(Chunk3ds* chunk, uint32_t tag) {
    while (chunk && chunk->tag != tag) chunk = chunk->next;
    return chunk;
}

void FindChunk3ds(Chunk3ds* chunk, uint32_t tag, Chunk3ds** found) {
    if (found) *found = FindChunk3ds(chunk, tag);
}

void FindNextChunk3ds(Chunk3ds* chunk, uint32_t tag, Chunk3ds** found) {
    if (found) *found = FindNextChunk3ds(chunk, tag);
}

void SkipToFirstChild3ds(ChunkReader3ds& reader, uint32_t tag) {
    if (IsContainer(tag)) return;
    if (tag == 0xD000) return reader.Skip(4);
    if (!HasChildrenAfterData(tag)) return reader.Skip(reader.Remaining());
    std::unique_ptr<ChunkData3ds> data = MakeChunkData3ds(tag);
    data->Read(reader);  // reads the payload that precedes the sub-chunks
}
