#include <gtest/gtest.h>
#include <nettle/twofish.h>

#include <cstring>
#include <string>

#include "fieldfile/FieldFileTestUtil.h"
#include "fieldfile/KQovCrcStream.h"
#include "fieldfile/KQovEncryptedStream.h"
#include "fieldfile/KQovStream.h"

namespace {

using qovtest::ReadAll;
using qovtest::TempFolder;

std::string Hex(const uint8_t* p, size_t n) {
    std::string s;
    char b[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02X", p[i]);
        s += b;
    }
    return s;
}

TEST(KQovEncryptedStream, TwofishKnownAnswer) {
    uint8_t key[16] = {}, plain[16] = {}, out[16];
    KQovEncryptedStream::EncryptBlock(key, plain, out);
    EXPECT_EQ(Hex(out, 16), "9F589F5CF6122C32B6BFEC2F2AE8C35A");
}

TEST(KQovEncryptedStream, CounterKeystreamAndPatchInPlace) {
    TempFolder tmp;
    std::string name = tmp / "enc.bin";
    uint8_t key[16];
    for (int i = 0; i < 16; ++i) key[i] = static_cast<uint8_t>(i * 7 + 1);
    std::string plain;
    for (int i = 0; i < 100; ++i) plain += static_cast<char>('a' + i % 26);
    {
        KQovStream* base = new KQovStream;
        ASSERT_TRUE(base->Open(name.c_str(), "w+b"));
        base->Write("HEAD", 4);  // before the start: passes through
        KQovEncryptedStream enc(key, 4, base, KQovEncryptedStream::kWriting, true);
        EXPECT_EQ(enc.Write(plain.data(), 100), 100u);
        enc.SetPosition(4 + 37);  // patch three bytes in the middle of a block
        enc.Write("XYZ", 3);
        enc.Close();
    }
    plain.replace(37, 3, "XYZ");
    std::string raw = ReadAll(name);
    ASSERT_EQ(raw.size(), 104u);
    EXPECT_EQ(raw.substr(0, 4), "HEAD");
    // Independent check of the keystream: block n is E_K(n as little-endian 128 bits).
    for (size_t i = 0; i < 100; ++i) {
        uint8_t counter[16] = {}, ks[16];
        counter[0] = static_cast<uint8_t>(i / 16);
        KQovEncryptedStream::EncryptBlock(key, counter, ks);
        ASSERT_EQ(static_cast<uint8_t>(raw[4 + i]), static_cast<uint8_t>(plain[i] ^ ks[i % 16]))
            << i;
    }
    KQovStream* base = new KQovStream;
    ASSERT_TRUE(base->Open(name.c_str(), "rb"));
    KQovEncryptedStream dec(key, 4, base, KQovEncryptedStream::kReading, true);
    dec.SetPosition(2);
    char back[102] = {};
    EXPECT_EQ(dec.Read(back, 102), 102u);
    EXPECT_EQ(std::string(back, 2), "AD");
    EXPECT_EQ(std::string(back + 2, 100), plain);
    EXPECT_EQ(dec.Tell(), 104);
}

TEST(KQovCrcStream, SumsFromTheStartPosition) {
    EXPECT_EQ(KQovCrcStream::Update(0, "123456789", 9), 0xCBF43926u);
    TempFolder tmp;
    std::string name = tmp / "crc.bin";
    KQovStream* base = new KQovStream;
    ASSERT_TRUE(base->Open(name.c_str(), "w+b"));
    KQovCrcStream crc(base, 3, true);
    crc.Write("xyz1234", 7);
    crc.Write("56789", 5);
    EXPECT_TRUE(crc.Check(0xCBF43926u));
    EXPECT_EQ(crc.Printf("%d", 5), 1);
    EXPECT_FALSE(crc.Check(0xCBF43926u));
}

TEST(KQovStream, PrintfIsNeverCut) {
    TempFolder tmp;
    std::string name = tmp / "p.txt";
    KQovStream s;
    ASSERT_TRUE(s.Open(name.c_str(), "w+b"));
    EXPECT_FALSE(s.IsReading());
    std::string big(40000, 'x');
    EXPECT_EQ(s.Printf("%s.", big.c_str()), 40001);
    EXPECT_EQ(s.Size(), 40001);
    s.Close();
    KQovStream empty;
    char c;
    EXPECT_EQ(empty.Read(&c, 1), 0u);
    EXPECT_FALSE(empty.IsOpen());
}

}  // namespace
