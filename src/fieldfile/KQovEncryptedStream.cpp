#include "fieldfile/KQovEncryptedStream.h"

#include <nettle/twofish.h>

#include <cstring>
#include <vector>

struct KQovEncryptedStream::Cipher {
    twofish_ctx context;
};

KQovEncryptedStream::KQovEncryptedStream(const uint8_t key[16], int64_t start, KQovStream* base,
                                         int direction, bool owned)
    : KQovStreamLayer(base, owned), mCipher(new Cipher), mStart(start), mDirection(direction) {
    twofish128_set_key(&mCipher->context, key);
}

KQovEncryptedStream::~KQovEncryptedStream() = default;

void KQovEncryptedStream::EncryptBlock(const uint8_t key[16], const uint8_t in[16],
                                       uint8_t out[16]) {
    twofish_ctx context;
    twofish128_set_key(&context, key);
    twofish_encrypt(&context, 16, out, in);
}

void KQovEncryptedStream::Apply(int64_t position, uint8_t* data, uint64_t count) {
    for (uint64_t i = 0; i < count;) {
        int64_t p = position + static_cast<int64_t>(i);
        if (p < mStart) {
            uint64_t skip = static_cast<uint64_t>(mStart - p);
            i += skip < count - i ? skip : count - i;
            continue;
        }
        uint64_t offset = static_cast<uint64_t>(p - mStart);
        int64_t block = static_cast<int64_t>(offset / 16);
        if (block != mCachedBlock) {
            // The counter is the block number as a 128-bit little-endian integer.
            uint8_t counter[16] = {};
            uint64_t n = static_cast<uint64_t>(block);
            for (int b = 0; b < 8; ++b) counter[b] = static_cast<uint8_t>(n >> (8 * b));
            twofish_encrypt(&mCipher->context, 16, mKeystream, counter);
            mCachedBlock = block;
        }
        for (uint64_t k = offset % 16; k < 16 && i < count; ++k, ++i) data[i] ^= mKeystream[k];
    }
}

uint32_t KQovEncryptedStream::Read(void* buffer, uint32_t count) {
    int64_t position = Tell();
    uint32_t got = KQovStreamLayer::Read(buffer, count);
    Apply(position, static_cast<uint8_t*>(buffer), got);
    return got;
}

uint32_t KQovEncryptedStream::Write(const void* buffer, uint32_t count) {
    if (!buffer) return 0;
    int64_t position = Tell();
    std::vector<uint8_t> enciphered(static_cast<const uint8_t*>(buffer),
                                    static_cast<const uint8_t*>(buffer) + count);
    Apply(position, enciphered.data(), count);
    return KQovStreamLayer::Write(enciphered.data(), count);
}
