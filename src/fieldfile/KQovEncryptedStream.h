#pragma once
// Twofish-128 in counter mode over another stream. The keystream depends only on
// the position, so records can be patched in place; bytes before `start` pass through.

#include <cstdint>
#include <memory>

#include "fieldfile/KQovStream.h"

class KQovEncryptedStream : public KQovStreamLayer {
public:
    enum { kReading = 1, kWriting = 2 };
    KQovEncryptedStream(const uint8_t key[16], int64_t start, KQovStream* base, int direction,
                        bool owned);
    ~KQovEncryptedStream() override;

    uint32_t Read(void* buffer, uint32_t count) override;
    uint32_t Write(const void* buffer, uint32_t count) override;

    int GetDirection() const { return mDirection; }
    // XORs the keystream of raw positions [position, position + count) into `data`.
    void Apply(int64_t position, uint8_t* data, uint64_t count);

    // One block through the cipher (for the known-answer check).
    static void EncryptBlock(const uint8_t key[16], const uint8_t in[16], uint8_t out[16]);

private:
    struct Cipher;
    std::unique_ptr<Cipher> mCipher;
    int64_t mStart;
    int mDirection;
    int64_t mCachedBlock = -1;
    uint8_t mKeystream[16];
};
