#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/KBinaryReader.h"
#include "foundation/KBinaryWriter.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr KByteOrder kLittle = KByteOrder::eLittle;
constexpr KByteOrder kBig = KByteOrder::eBig;

// A source over a byte string that stops giving bytes at `readable`.
class StringSource : public KBinarySource {
public:
    StringSource(Bytes bytes, size_t readable) : mBytes(std::move(bytes)), mReadable(readable) {}
    size_t Read(void* out, size_t count) override {
        size_t n = mPos >= mReadable ? 0 : std::min(count, mReadable - mPos);
        std::memcpy(out, mBytes.data() + mPos, n);
        mPos += n;
        return n;
    }
    bool Seek(uint64_t position) override {
        mPos = static_cast<size_t>(position);
        return true;
    }

private:
    Bytes mBytes;
    size_t mReadable;
    size_t mPos = 0;
};

// A sink that takes `room` bytes and refuses the rest.
class ShortSink : public KBinarySink {
public:
    explicit ShortSink(size_t room) : mRoom(room) {}
    bool Write(const void* data, size_t count) override {
        if (count > mRoom) return false;
        mRoom -= count;
        const uint8_t* p = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + count);
        return true;
    }
    Bytes bytes;

private:
    size_t mRoom;
};

Bytes Dec(float f) {
    Bytes b(4);
    KEncodeDecFloat(f, b.data());
    return b;
}

// The byte rule of the DEC form, independent of KEncodeDecFloat, for values well inside
// its range: the 16-bit halves of the little-endian IEEE bytes swapped, exponent + 2.
Bytes DecByRule(float f) {
    uint8_t ieee[4];
    std::memcpy(ieee, &f, 4);  // little-endian host
    Bytes b = {ieee[2], ieee[3], ieee[0], ieee[1]};
    if (f != 0) b[1] = static_cast<uint8_t>(b[1] + 1);
    return b;
}

}  // namespace

TEST(KBinaryReader, IntegersAndFloatsInEachByteOrder) {
    const Bytes bytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};
    struct Case {
        KByteOrder order;
        uint16_t u16;
        uint32_t u32;
        uint64_t u64;
        int64_t i64;
    } cases[] = {
        {kLittle, 0x0201, 0x04030201u, 0x8807060504030201ull, int64_t(0x8807060504030201ull)},
        {kBig, 0x0102, 0x01020304u, 0x0102030405060788ull, 0x0102030405060788ll},
    };
    for (const Case& c : cases) {
        KBinaryReader r(bytes.data(), bytes.size(), c.order);
        EXPECT_EQ(r.U16(), c.u16);
        r.Seek(0);
        EXPECT_EQ(r.U32(), c.u32);
        r.Seek(0);
        EXPECT_EQ(r.U64(), c.u64);
        r.Seek(0);
        EXPECT_EQ(r.I64(), c.i64);
        r.Seek(7);
        EXPECT_EQ(r.I8(), -120);
        EXPECT_TRUE(r.Ok());
        EXPECT_EQ(r.Remaining(), 0u);
    }
    // IEEE values, both orders, through the writer and back.
    const float floats[] = {1.0f, -2.5f, FLT_MAX, FLT_MIN, 1e-45f, 0.1f};
    const double doubles[] = {1.0, -0.1, DBL_MAX, DBL_MIN, 5e-324};
    for (KByteOrder order : {kLittle, kBig}) {
        Bytes out;
        KBinaryWriter w(out, order);
        for (float f : floats) w.F32(f);
        for (double d : doubles) w.F64(d);
        w.I16(-2), w.I32(-3), w.I64(-4), w.U8(9);
        ASSERT_TRUE(w.Ok());
        EXPECT_EQ(w.Written(), out.size());
        KBinaryReader r(out.data(), out.size(), order);
        for (float f : floats) EXPECT_EQ(r.F32(), f);
        for (double d : doubles) EXPECT_EQ(r.F64(), d);
        EXPECT_EQ(r.I16(), -2);
        EXPECT_EQ(r.I32(), -3);
        EXPECT_EQ(r.I64(), -4);
        EXPECT_EQ(r.U8(), 9);
        EXPECT_TRUE(r.Ok());
        EXPECT_EQ(r.Remaining(), 0u);
    }
    Bytes one;
    KBinaryWriter(one, kBig).F32(1.0f);
    EXPECT_EQ(one, (Bytes{0x3F, 0x80, 0x00, 0x00}));
}

TEST(KBinaryReader, DecFloatKnownValues) {
    struct Case {
        float value;
        Bytes bytes;
        float readBack;  // what the bytes read as
    } cases[] = {
        {1.0f, {0x80, 0x40, 0x00, 0x00}, 1.0f},
        {-1.0f, {0x80, 0xC0, 0x00, 0x00}, -1.0f},
        {0.5f, {0x00, 0x40, 0x00, 0x00}, 0.5f},
        {3.0f, {0x40, 0x41, 0x00, 0x00}, 3.0f},
        {0.0f, {0, 0, 0, 0}, 0.0f},
        {-0.0f, {0, 0, 0, 0}, 0.0f},
        // The largest DEC float; IEEE values past it, infinities included, clamp to it.
        {1.7014117e38f, {0xFF, 0x7F, 0xFF, 0xFF}, 1.7014117e38f},
        {FLT_MAX, {0xFF, 0x7F, 0xFF, 0xFF}, 1.7014117e38f},
        {-INFINITY, {0xFF, 0xFF, 0xFF, 0xFF}, -1.7014117e38f},
        // The smallest DEC float, an IEEE denormal; below it, zero.
        {std::ldexp(1.0f, -128), {0x80, 0x00, 0x00, 0x00}, std::ldexp(1.0f, -128)},
        {1e-40f, {0, 0, 0, 0}, 0.0f},
        {NAN, {0, 0, 0, 0}, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(Dec(c.value), c.bytes);
        EXPECT_EQ(KDecodeDecFloat(c.bytes.data()), c.readBack);
    }
    // Exponent 0 is zero whatever the rest, the reserved operand included.
    const Bytes zeros[] = {{0x00, 0x80, 0x00, 0x00}, {0x7F, 0x00, 0xFF, 0xFF}};
    for (const Bytes& z : zeros) EXPECT_EQ(KDecodeDecFloat(z.data()), 0.0f);
}

TEST(KBinaryReader, DecFloatRoundTripsAndAgreesWithTheByteRule) {
    // Every 4099th bit pattern of the positive and negative floats.
    int checked = 0;
    for (uint64_t bits = 0; bits <= 0xFFFFFFFFull; bits += 4099) {
        uint32_t b = static_cast<uint32_t>(bits);
        float f;
        std::memcpy(&f, &b, 4);
        if (!std::isfinite(f)) continue;
        float magnitude = std::fabs(f);
        if (magnitude < std::ldexp(1.0f, -128) || magnitude >= std::ldexp(1.0f, 127)) continue;
        Bytes dec = Dec(f);
        ASSERT_EQ(KDecodeDecFloat(dec.data()), f) << f;
        if (magnitude >= std::ldexp(1.0f, -125)) {
            ASSERT_EQ(dec, DecByRule(f)) << f;
        }
        ++checked;
    }
    EXPECT_GT(checked, 900000);
    // Through the reader and writer, mixed with other values.
    Bytes out;
    KBinaryWriter w(out);
    w.DecF32(-12.375f), w.U16(7), w.DecF32(1e30f);
    KBinaryReader r(out.data(), out.size());
    EXPECT_EQ(r.DecF32(), -12.375f);
    EXPECT_EQ(r.U16(), 7);
    EXPECT_EQ(r.DecF32(), 1e30f);
    EXPECT_TRUE(r.Ok());
}

TEST(KBinaryReader, ReadsStopAtTheEndAndFailureSticks) {
    const Bytes bytes = {1, 2, 3, 4, 5};
    KBinaryReader r(bytes.data(), bytes.size());
    EXPECT_EQ(r.U32(), 0x04030201u);
    EXPECT_EQ(r.U16(), 0);  // one byte left: fails, gives zero, moves nothing
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(r.GetFailure(), KBinaryReader::eOutOfBounds);
    EXPECT_EQ(r.Position(), 4u);
    EXPECT_EQ(r.U8(), 0);  // the byte is there, but the reader has failed
    EXPECT_FALSE(r.Seek(0));
    r.Fail(KBinaryReader::eReadFailed);
    EXPECT_EQ(r.GetFailure(), KBinaryReader::eOutOfBounds);  // the first failure stays

    // Each bounded move, from a fresh reader: what it gives, where it leaves the reader.
    struct Move {
        const char* what;
        bool (*run)(KBinaryReader&);
        bool ok;
        uint64_t position;
    } moves[] = {
        {"seek to the end", [](KBinaryReader& x) { return x.Seek(5); }, true, 5},
        {"seek past the end", [](KBinaryReader& x) { return x.Seek(6); }, false, 0},
        {"skip all", [](KBinaryReader& x) { return x.Skip(5); }, true, 5},
        {"skip one too many", [](KBinaryReader& x) { return x.Skip(6); }, false, 0},
        {"skip huge", [](KBinaryReader& x) { return x.Skip(~0ull); }, false, 0},
        {"span", [](KBinaryReader& x) { return x.Span(3) != nullptr; }, true, 3},
        {"span too long", [](KBinaryReader& x) { return x.Span(6) != nullptr; }, false, 0},
        {"fits", [](KBinaryReader& x) { return x.Fits(5); }, true, 0},
        {"does not fit", [](KBinaryReader& x) { return x.Fits(6); }, false, 0},
    };
    for (const Move& m : moves) {
        KBinaryReader x(bytes.data(), bytes.size());
        EXPECT_EQ(m.run(x), m.ok) << m.what;
        EXPECT_EQ(x.Ok(), m.ok) << m.what;
        EXPECT_EQ(x.Position(), m.position) << m.what;
    }

    // A sub-reader reads only its bytes; one that does not fit fails with its parent.
    KBinaryReader parent(bytes.data(), bytes.size(), kBig);
    parent.Skip(1);
    KBinaryReader sub = parent.Sub(2);
    EXPECT_EQ(sub.U16(), 0x0203);
    EXPECT_EQ(sub.U8(), 0);
    EXPECT_FALSE(sub.Ok());
    EXPECT_TRUE(parent.Ok());
    EXPECT_EQ(parent.U8(), 4);
    EXPECT_FALSE(parent.Sub(2).Ok());
    EXPECT_FALSE(parent.Ok());
    // No data at all is an empty window.
    KBinaryReader none(nullptr, 10);
    EXPECT_EQ(none.Remaining(), 0u);
    EXPECT_EQ(none.U8(), 0);
    EXPECT_FALSE(none.Ok());
}

TEST(KBinaryReader, SourceWindowsAndShortReads) {
    Bytes bytes(32);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    StringSource source(bytes, 12);  // bytes past 12 cannot be read
    source.Seek(4);
    KBinaryReader r(source, 4, 20, kBig);
    EXPECT_EQ(r.Begin(), 4u);
    EXPECT_EQ(r.U32(), 0x04050607u);
    EXPECT_FALSE(r.Seek(3));  // before the window
    KBinaryReader s(source, 4, 20, kBig);
    source.Seek(4);
    EXPECT_TRUE(s.Seek(10));
    EXPECT_EQ(s.U16(), 0x0A0B);
    EXPECT_EQ(s.U32(), 0u);  // one byte readable: a read failure, not a bound
    EXPECT_EQ(s.GetFailure(), KBinaryReader::eReadFailed);
    EXPECT_EQ(s.Span(1), nullptr);  // a source has no bytes in memory
    // An end before the start is an empty window.
    KBinaryReader empty(source, 8, 2);
    EXPECT_EQ(empty.Remaining(), 0u);
}

TEST(KBinaryWriter, FailureSticksAndLaterWritesAreDropped) {
    ShortSink sink(6);
    KBinaryWriter w(sink, kBig);
    w.U32(0x01020304);
    EXPECT_TRUE(w.Ok());
    w.U32(0x05060708);  // 2 bytes of room: refused whole
    EXPECT_FALSE(w.Ok());
    w.U8(9);  // room left, but the writer has failed
    EXPECT_EQ(sink.bytes, (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(w.Written(), 4u);
    Bytes out;
    KBinaryWriter m(out);
    m.Fail();
    EXPECT_FALSE(m.Bytes("ab", 2));
    EXPECT_TRUE(out.empty());
}
