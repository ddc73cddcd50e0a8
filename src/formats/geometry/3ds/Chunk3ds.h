#pragma once
// The chunk layer of the 3DS toolkit: chunk nodes, the payload record of each tag,
// and the operations that read, write, copy, order and search chunks. Every value
// is read and written byte by byte in little-endian order, and every count and
// length taken from a file is checked against the bytes the chunk still holds.

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "formats/geometry/3ds/Context3ds.h"
#include "foundation/KBinaryReader.h"
#include "foundation/KBinaryWriter.h"
#include "foundation/KLocale.h"

struct Point3ds {
    float x = 0, y = 0, z = 0;
    template <class IO>
    void Io(IO& io) {
        io.Value(x), io.Value(y), io.Value(z);
    }
};

struct TexVert3ds {
    float u = 0, v = 0;
    template <class IO>
    void Io(IO& io) {
        io.Value(u), io.Value(v);
    }
};

struct Face3ds {
    uint16_t v1 = 0, v2 = 1, v3 = 2, flag = 0;
    template <class IO>
    void Io(IO& io) {
        io.Value(v1), io.Value(v2), io.Value(v3), io.Value(flag);
    }
};

struct Color24_3ds {
    uint8_t r = 0, g = 0, b = 0;
    template <class IO>
    void Io(IO& io) {
        io.Value(r), io.Value(g), io.Value(b);
    }
};

// Key header: frame, spline flags, and the five spline values (absent ones 0).
struct KeyHeader3ds {
    uint32_t time = 0;
    uint16_t rflags = 0;
    float tension = 0, continuity = 0, bias = 0, easeTo = 0, easeFrom = 0;
    template <class IO>
    void Io(IO& io) {
        io.Value(time), io.Value(rflags);
        float* spline[5] = {&tension, &continuity, &bias, &easeTo, &easeFrom};
        for (int bit = 0; bit < 5; ++bit)
            if (rflags & (1u << bit)) io.Value(*spline[bit]);
    }
};

struct Rotation3ds {
    float angle = 0, x = 0, y = 0, z = 0;
    template <class IO>
    void Io(IO& io) {
        io.Value(angle), io.Value(x), io.Value(y), io.Value(z);
    }
};

// Name of a morph key: at most 12 characters and its terminator, strictly.
struct MorphName3ds {
    std::string name;
    template <class IO>
    void Io(IO& io) {
        io.Text(name, 12, true);
    }
};

// Hide keys carry no value.
struct NoValue3ds {
    template <class IO>
    void Io(IO&) {}
};

template <class V>
struct Track3ds {
    uint16_t flags = 0;
    uint32_t reserved1 = 0, reserved2 = 0;
    std::vector<KeyHeader3ds> keys;
    std::vector<V> values;  // one per key
    template <class IO>
    void Io(IO& io) {
        io.Track(*this);
    }
};

// Chunk payload records (file order; the toolkit's own layouts).
template <size_t N>
struct Text3ds {  // zero-terminated text the format keeps to N characters; N = 0: no limit
    std::string text;
    template <class IO>
    void Io(IO& io) {
        io.Text(text, N);
    }
};

struct Raw3ds {  // the chunk's own data as bytes
    std::vector<uint8_t> bytes;
    template <class IO>
    void Io(IO& io) {
        io.Rest(bytes);
    }
};

struct Floats4_3ds {
    float v[4] = {};
    template <class IO>
    void Io(IO& io) {
        for (float& f : v) io.Value(f);
    }
};

struct Shadow3ds {  // 0x2302
    float v[3] = {};
    uint32_t n = 0;
    template <class IO>
    void Io(IO& io) {
        for (float& f : v) io.Value(f);
        io.Value(n);
    }
};

struct View3ds {  // 0x3010-0x3060: the float comes before the point in the file
    Point3ds target;
    float width = 0;
    template <class IO>
    void Io(IO& io) {
        io.Value(width), io.Value(target);
    }
};

struct ViewCamera3ds {  // 0x3070: four floats, then the point
    Point3ds target;
    float v[4] = {};
    template <class IO>
    void Io(IO& io) {
        for (float& f : v) io.Value(f);
        io.Value(target);
    }
};

struct PointList3ds {  // 0x4110
    std::vector<Point3ds> points;
    template <class IO>
    void Io(IO& io) {
        io.List16(points, 12);
    }
};

struct WordList3ds {  // 0x4111
    std::vector<uint16_t> words;
    template <class IO>
    void Io(IO& io) {
        io.List16(words, 2);
    }
};

struct FaceList3ds {  // 0x4120
    std::vector<Face3ds> faces;
    template <class IO>
    void Io(IO& io) {
        io.List16(faces, 8);
    }
};

struct MaterialGroup3ds {  // 0x4130
    std::string name;
    std::vector<uint16_t> faces;
    template <class IO>
    void Io(IO& io) {
        io.Text(name, 16), io.List16(faces, 2);
    }
};

struct TexVertList3ds {  // 0x4140
    std::vector<TexVert3ds> texverts;
    template <class IO>
    void Io(IO& io) {
        io.List16(texverts, 8);
    }
};

struct Smoothing3ds {  // 0x4150: one mask per face, the count from the chunk's length
    std::vector<uint32_t> masks;
    template <class IO>
    void Io(IO& io) {
        io.RestOf(masks, 4);
    }
};

struct Matrix3ds {  // 0x4160
    float m[12] = {};
    template <class IO>
    void Io(IO& io) {
        for (float& f : m) io.Value(f);
    }
};

struct MapData3ds {  // 0x4170: 86 bytes
    uint16_t maptype = 0;
    float values[21] = {};  // tiling x, y; icon position; icon scaling; matrix; planar, cyl
    template <class IO>
    void Io(IO& io) {
        io.Value(maptype);
        for (float& f : values) io.Value(f);
    }
};

struct BoxMap3ds {  // 0x4190
    std::string names[6];
    template <class IO>
    void Io(IO& io) {
        for (std::string& s : names) io.Text(s, 16);
    }
};

struct Spot3ds {  // 0x4610
    Point3ds target;
    float hotspot = 0, falloff = 0;
    template <class IO>
    void Io(IO& io) {
        io.Value(target), io.Value(hotspot), io.Value(falloff);
    }
};

struct LocalShadow3ds {  // 0x4641
    float bias = 0, filter = 0;
    uint16_t mapsize = 0;
    template <class IO>
    void Io(IO& io) {
        io.Value(bias), io.Value(filter), io.Value(mapsize);
    }
};

struct CameraData3ds {  // 0x4700
    Point3ds position, target;
    float roll = 0, lens = 0;
    template <class IO>
    void Io(IO& io) {
        io.Value(position), io.Value(target), io.Value(roll), io.Value(lens);
    }
};

struct Floats2_3ds {  // 0x4720
    float v[2] = {};
    template <class IO>
    void Io(IO& io) {
        io.Value(v[0]), io.Value(v[1]);
    }
};

struct Words7_3ds {  // 0x7001
    uint16_t w[7] = {};
    template <class IO>
    void Io(IO& io) {
        for (uint16_t& x : w) io.Value(x);
    }
};

struct FixedText3ds {  // a text in a field of fixed width; the bytes after its end are kept
    std::string text;
    std::vector<uint8_t> tail;
};

struct Viewport3ds {  // 0x7011, 0x7012
    uint16_t w[7] = {};
    float zoom = 0;
    Point3ds center;
    float horizontal = 0, vertical = 0;
    FixedText3ds name;
    template <class IO>
    void Io(IO& io) {
        for (uint16_t& x : w) io.Value(x);
        io.Value(zoom), io.Value(center), io.Value(horizontal), io.Value(vertical);
        io.FixedText(name, 11);
    }
};

struct Words4_3ds {  // 0x7020
    uint16_t w[4] = {};
    template <class IO>
    void Io(IO& io) {
        for (uint16_t& x : w) io.Value(x);
    }
};

struct AutoReflection3ds {  // 0xA310
    uint8_t flags1 = 0, flags2 = 0;
    uint16_t word = 0;
    uint32_t size = 0, frames = 0;
    template <class IO>
    void Io(IO& io) {
        io.Value(flags1), io.Value(flags2), io.Value(word), io.Value(size), io.Value(frames);
    }
};

struct Segment3ds {  // 0xB008
    uint32_t start = 0, end = 0;
    template <class IO>
    void Io(IO& io) {
        io.Value(start), io.Value(end);
    }
};

struct KfHeader3ds {  // 0xB00A
    uint16_t revision = 0;
    std::string name;
    uint32_t length = 0;
    template <class IO>
    void Io(IO& io) {
        io.Value(revision), io.Text(name, 512), io.Value(length);
    }
};

struct NodeHeader3ds {  // 0xB010
    std::string name;
    uint16_t flags1 = 0, flags2 = 0;
    int16_t parent = -1;
    template <class IO>
    void Io(IO& io) {
        io.Text(name, 10), io.Value(flags1), io.Value(flags2), io.Value(parent);
    }
};

struct BoundBox3ds {  // 0xB014
    Point3ds min, max;
    template <class IO>
    void Io(IO& io) {
        io.Value(min), io.Value(max);
    }
};

class ChunkReader3ds;
class ChunkWriter3ds;

// A payload record; the concrete forms are Payload3ds<T>.
class ChunkData3ds {
public:
    virtual ~ChunkData3ds() = default;
    virtual std::unique_ptr<ChunkData3ds> Clone() const = 0;
    virtual void Read(ChunkReader3ds& reader) = 0;
    virtual void Write(ChunkWriter3ds& writer) = 0;
    std::vector<uint8_t> tail;  // bytes after a leaf's record, written back unchanged
};

template <class T>
class Payload3ds final : public ChunkData3ds {
public:
    T value{};
    std::unique_ptr<ChunkData3ds> Clone() const override {
        return std::unique_ptr<ChunkData3ds>(new Payload3ds(*this));
    }
    void Read(ChunkReader3ds& reader) override;
    void Write(ChunkWriter3ds& writer) override;
};

struct Chunk3ds {
    uint32_t tag = 0;
    uint32_t length = 0;    // 6 + own data + sub-chunks, from the header
    uint32_t position = 0;  // of the header in the file it was read from
    std::unique_ptr<ChunkData3ds> data;
    Chunk3ds* next = nullptr;
    Chunk3ds* child = nullptr;
    uint8_t fileSlot = kNoSlot3ds;    // file the chunk was read from
    uint8_t outputSlot = kNoSlot3ds;  // file the chunk was last written to
};

// The current toolkit file as the byte source of a bounded reader and the sink of a writer.
class CurrentFile3ds final : public KBinarySource, public KBinarySink {
public:
    explicit CurrentFile3ds(Context3ds& ctx) : mCtx(ctx) {}
    size_t Read(void* out, size_t count) override;
    bool Seek(uint64_t position) override;
    bool Write(const void* data, size_t count) override;

private:
    Context3ds& mCtx;
};

// Reads values within [position, end) of the current toolkit file.
class ChunkReader3ds {
public:
    ChunkReader3ds(Context3ds& ctx, uint64_t position, uint64_t end);
    // Reads bytes already taken from the file (errors go to the context all the same).
    ChunkReader3ds(Context3ds& ctx, const uint8_t* data, size_t size);
    ChunkReader3ds(const ChunkReader3ds&) = delete;
    ChunkReader3ds& operator=(const ChunkReader3ds&) = delete;
    bool Ok() const { return mReader.Ok(); }
    uint64_t Position() const { return mReader.Position(); }
    uint64_t Remaining() const { return mReader.Remaining(); }
    void Skip(uint64_t count) {
        mReader.Skip(count);
        Report();
    }

    void Value(uint8_t& v) { v = Checked(mReader.U8()); }
    void Value(uint16_t& v) { v = Checked(mReader.U16()); }
    void Value(int16_t& v) { v = Checked(mReader.I16()); }
    void Value(uint32_t& v) { v = Checked(mReader.U32()); }
    void Value(float& v) {
        v = Checked(mReader.F32());
        if (!KIsFileNumber(v)) BadNumber();
    }
    template <class T>
    void Value(T& v) {
        v.Io(*this);
    }
    // A zero-terminated text. The format keeps it to `maxChars` characters, but other
    // programs write longer names, so it reads up to its terminator within the chunk;
    // a `strict` text ends within maxChars + 1 bytes.
    void Text(std::string& text, size_t maxChars, bool strict = false);
    void FixedText(FixedText3ds& field, size_t fieldBytes);
    void Rest(std::vector<uint8_t>& bytes);
    void RestOf(std::vector<uint32_t>& values, size_t itemBytes);
    template <class T>
    void List16(std::vector<T>& items, size_t itemBytes) {
        uint16_t count = 0;
        Value(count);
        // The items come from the file in one read and are decoded from memory.
        std::vector<uint8_t> bytes;
        if (!Take(uint64_t(count) * itemBytes, bytes)) return;
        // Every item is there: decoded without a bound check per value.
        items.assign(count, T());
        FixedDecoder decoder{bytes.data()};
        for (T& item : items) decoder.Value(item);
        if (decoder.badNumber) BadNumber();
    }
    template <class V>
    void Track(Track3ds<V>& track);

private:
    // Reads the words and floats of list items from bytes known to hold them.
    struct FixedDecoder {
        const uint8_t* at;
        bool badNumber = false;
        void Value(uint16_t& v) {
            v = KLoadU16(at, KByteOrder::eLittle);
            at += 2;
        }
        void Value(float& v) {
            const uint32_t bits = KLoadU32(at, KByteOrder::eLittle);
            std::memcpy(&v, &bits, 4);
            at += 4;
            if (!KIsFileNumber(v)) badNumber = true;
        }
        template <class T>
        void Value(T& v) {
            v.Io(*this);
        }
    };
    bool Take(uint64_t count, std::vector<uint8_t>& bytes);
    bool Fits(uint64_t count) {
        bool fits = mReader.Fits(count);
        Report();
        return fits;
    }
    template <class T>
    T Checked(T value) {
        Report();
        return value;
    }
    // A float that is no file number makes the file corrupt: recorded once.
    void BadNumber() {
        if (mCtx.badNumber) return;
        mCtx.badNumber = true;
        PushError3ds(mCtx, ERR_INVALID_DATA);
    }
    // Records the reader's failure once, when it happens: a bound as a bad chunk, a short
    // read (or a text without its end) as a read error.
    void Report() {
        if (mReported || mReader.Ok()) return;
        mReported = true;
        PushError3ds(mCtx, mReader.GetFailure() == KBinaryReader::eOutOfBounds ? ERR_INVALID_CHUNK
                                                                               : ERR_READING_FILE);
    }
    Context3ds& mCtx;
    CurrentFile3ds mFile;
    KBinaryReader mReader;
    bool mReported = false;
};

// Writes values to the current toolkit file.
class ChunkWriter3ds {
public:
    explicit ChunkWriter3ds(Context3ds& ctx);
    // Collects the bytes in memory instead.
    ChunkWriter3ds(Context3ds& ctx, std::vector<uint8_t>& out);
    ChunkWriter3ds(const ChunkWriter3ds&) = delete;
    ChunkWriter3ds& operator=(const ChunkWriter3ds&) = delete;
    bool Ok() const { return mWriter.Ok(); }
    void Value(uint8_t v) {
        mWriter.U8(v);
        Report();
    }
    void Value(uint16_t v) {
        mWriter.U16(v);
        Report();
    }
    void Value(int16_t v) { Value(uint16_t(v)); }
    void Value(uint32_t v) {
        mWriter.U32(v);
        Report();
    }
    void Value(float v) {
        // A float no reader takes back is never written.
        if (!KIsFileNumber(v)) {
            mCtx.badNumber = true;
            return Fail(ERR_INVALID_DATA);
        }
        mWriter.F32(v);
        Report();
    }
    template <class T>
    void Value(T& v) {
        v.Io(*this);
    }
    // Writes a text as it is, so a text read from a file is written back unchanged; the
    // put operations keep the texts they are given to the format's limits. A `strict`
    // text longer than `maxChars` is refused.
    void Text(const std::string& text, size_t maxChars, bool strict = false);
    void FixedText(const FixedText3ds& field, size_t fieldBytes);
    void Rest(const std::vector<uint8_t>& bytes);
    void RestOf(const std::vector<uint32_t>& values, size_t);
    template <class T>
    void List16(std::vector<T>& items, size_t) {
        if (items.size() > 0xFFFF) return Fail(ERR_INVALID_DATA);
        Value(uint16_t(items.size()));
        // Encoded in memory, written to the file at once.
        std::vector<uint8_t> bytes;
        ChunkWriter3ds inMemory(mCtx, bytes);
        for (T& item : items) inMemory.Value(item);
        Bytes(bytes.data(), bytes.size());
    }
    template <class V>
    void Track(Track3ds<V>& track);
    void Bytes(const uint8_t* data, size_t count) {
        mWriter.Bytes(data, count);
        Report();
    }

private:
    // Stops writing and records the error, once.
    void Fail(int code);
    // A write the file refused is a write error.
    void Report() {
        if (!mReported && !mWriter.Ok()) Fail(ERR_WRITING_FILE);
    }
    Context3ds& mCtx;
    CurrentFile3ds mFile;
    KBinaryWriter mWriter;
    bool mReported = false;
};

template <class V>
void ChunkReader3ds::Track(Track3ds<V>& track) {
    uint32_t count = 1;
    Value(track.flags), Value(track.reserved1), Value(track.reserved2), Value(count);
    // Each key holds at least its frame and flags, and a morph name at least its terminator.
    size_t least = 6 + (std::is_same<V, NoValue3ds>::value     ? 0
                        : std::is_same<V, MorphName3ds>::value ? 1
                                                               : sizeof(V));
    if (!Fits(uint64_t(count) * least)) return;
    track.keys.assign(count, KeyHeader3ds());
    track.values.assign(count, V());
    for (uint32_t i = 0; i < count && Ok(); ++i) {
        Value(track.keys[i]);
        Value(track.values[i]);
    }
}

template <class V>
void ChunkWriter3ds::Track(Track3ds<V>& track) {
    Value(track.flags), Value(track.reserved1), Value(track.reserved2);
    Value(uint32_t(track.keys.size()));
    for (size_t i = 0; i < track.keys.size(); ++i) {
        Value(track.keys[i]);
        if (i < track.values.size())
            Value(track.values[i]);
        else {
            V empty{};
            Value(empty);
        }
    }
}

template <class T>
void Payload3ds<T>::Read(ChunkReader3ds& reader) {
    reader.Value(value);
}
template <class T>
void Payload3ds<T>::Write(ChunkWriter3ds& writer) {
    writer.Value(value);
}

// The payload of a chunk as record T; null when the chunk holds another form.
template <class T>
T* PayloadAs3ds(Chunk3ds* chunk) {
    auto* payload = chunk ? dynamic_cast<Payload3ds<T>*>(chunk->data.get()) : nullptr;
    return payload ? &payload->value : nullptr;
}

// Chunk nodes and trees.
void InitChunk3ds(Context3ds& ctx, Chunk3ds** chunk);
void InitChunkAs3ds(Context3ds& ctx, Chunk3ds** chunk, uint32_t tag);
ChunkData3ds* InitChunkData3ds(Context3ds& ctx, Chunk3ds* chunk);
// Gives a chunk a fresh payload record T (its defaults) in place of what it held.
template <class T>
T* NewChunkData3ds(Chunk3ds* chunk) {
    auto* payload = new Payload3ds<T>;
    chunk->data.reset(payload);
    return &payload->value;
}
// New chunk of a tag with a fresh payload record T (its defaults).
template <class T>
T* InitChunkAndData3ds(Context3ds& ctx, Chunk3ds** chunk, uint32_t tag) {
    InitChunkAs3ds(ctx, chunk, tag);
    return *chunk ? NewChunkData3ds<T>(*chunk) : nullptr;
}
ChunkData3ds* ReadChunkData3ds(Context3ds& ctx, Chunk3ds* chunk);
template <class T>
T* ReadChunkDataAs3ds(Context3ds& ctx, Chunk3ds* chunk) {
    ReadChunkData3ds(ctx, chunk);
    return PayloadAs3ds<T>(chunk);
}
void WriteChunkData3ds(Context3ds& ctx, Chunk3ds* chunk);
void FreeChunkData3ds(Chunk3ds* chunk);
void DisposeChunkData3ds(Context3ds& ctx, Chunk3ds* chunk);
void CopyChunkData3ds(Context3ds& ctx, Chunk3ds* source, Chunk3ds* target);
void CopyChunk3ds(Context3ds& ctx, Chunk3ds* source, Chunk3ds** copy);
void ReleaseChunk3ds(Chunk3ds* chunk);
void DeleteChunkChain3ds(Chunk3ds** chunk);

// Records of the object-level operations: an init allocates the record when the
// caller's pointer holds none, else resets it; a release frees it and clears the pointer.
template <class T>
void InitRecord3ds(Context3ds& ctx, T** record) {
    if (!record) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (*record)
        **record = T();
    else
        *record = new T;
}
template <class T>
void ReleaseRecord3ds(T** record) {
    if (!record) return;
    delete *record;
    *record = nullptr;
}
// What an init, get or copy operation allocated, freed when the holder goes however its scope
// is left: a refused allocation throws past the toolkit and its callers.
template <class T, void (*Free)(T**) = ReleaseRecord3ds<T>>
class Held3ds {
public:
    Held3ds() = default;
    explicit Held3ds(T* held) : mHeld(held) {}
    Held3ds(const Held3ds&) = delete;
    Held3ds& operator=(const Held3ds&) = delete;
    ~Held3ds() { Free(&mHeld); }
    T* get() const { return mHeld; }
    T* operator->() const { return mHeld; }
    // The slot an operation allocates into.
    T** Slot() { return &mHeld; }
    T* Release() {
        T* held = mHeld;
        mHeld = nullptr;
        return held;
    }

private:
    T* mHeld = nullptr;
};
using HeldChunk3ds = Held3ds<Chunk3ds, DeleteChunkChain3ds>;
// Links a held chunk under its parent, which owns it from then on; without a parent the
// holder frees it.
Chunk3ds* AdoptChild3ds(Context3ds& ctx, Chunk3ds* parent, HeldChunk3ds& child);

void AddChildLast3ds(Context3ds& ctx, Chunk3ds* parent, Chunk3ds* child);
void AddChildOrdered3ds(Context3ds& ctx, Chunk3ds* parent, Chunk3ds* child);
void ReplaceOrAddChild3ds(Context3ds& ctx, Chunk3ds* parent, uint32_t tag, Chunk3ds** chunk);
Chunk3ds* AddEmptyChunk3ds(Context3ds& ctx, uint32_t tag, Chunk3ds* parent);
void FindChunk3ds(Chunk3ds* chunk, uint32_t tag, Chunk3ds** found);
void FindNextChunk3ds(Chunk3ds* chunk, uint32_t tag, Chunk3ds** found);
Chunk3ds* FindChunk3ds(Chunk3ds* chunk, uint32_t tag);
Chunk3ds* FindNextChunk3ds(Chunk3ds* chunk, uint32_t tag);
// The first chunk of a tag found depth-first below a chunk (the chunk itself excluded).
Chunk3ds* FindChunkBelow3ds(Chunk3ds* chunk, uint32_t tag);
int GetChunkOrder3ds(uint32_t tag);
// Moves the reader from a chunk's own data to its first sub-chunk.
void SkipToFirstChild3ds(ChunkReader3ds& reader, uint32_t tag);

// Headers on the current file.
void ReadHeader3ds(Context3ds& ctx, uint32_t* tag, uint32_t* length);
void WriteHeader3ds(Context3ds& ctx, uint32_t tag, uint32_t length);
void FinishHeader3ds(Context3ds& ctx, uint32_t start, uint32_t end);

// Adds a child of a tag holding one value (a float, word or dword payload).
template <class T>
Chunk3ds* AddValueChunk3ds(Context3ds& ctx, Chunk3ds* parent, uint32_t tag, const T& value) {
    HeldChunk3ds chunk;
    T* record = InitChunkAndData3ds<T>(ctx, chunk.Slot(), tag);
    if (!record) return nullptr;
    *record = value;
    return AdoptChild3ds(ctx, parent, chunk);
}

// A payload of a chunk copied out and given back; false when there is none.
template <class T>
bool ReadValue3ds(Context3ds& ctx, Chunk3ds* chunk, T& out) {
    T* value = chunk ? ReadChunkDataAs3ds<T>(ctx, chunk) : nullptr;
    if (value) out = *value;
    DisposeChunkData3ds(ctx, chunk);
    return value != nullptr;
}
// Same for the first child of a tag in a chain of siblings.
template <class T>
bool ReadChildValue3ds(Context3ds& ctx, Chunk3ds* firstChild, uint32_t tag, T& out) {
    return ReadValue3ds(ctx, FindNextChunk3ds(firstChild, tag), out);
}
