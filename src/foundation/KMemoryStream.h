#pragma once
// The file stream's interface over a caller-owned buffer. The stream never allocates, grows
// or frees the buffer: reads and writes stop at its size.

#include <cstddef>
#include <cstdint>

#include "foundation/KFileStream.h"

class KMemoryStream : public KFileStream {
public:
    KMemoryStream() = default;
    ~KMemoryStream() override { Close(); }

    // False for a null buffer; otherwise attaches it at position 0.
    virtual bool OpenBuffer(void* buffer, size_t size);
    // Forgets the buffer (the memory is the caller's).
    void Close() override;
    uint32_t Read(void* buffer, uint32_t count) override;
    // Up to and including the first newline, at most size - 1 bytes; null when size <= 0,
    // without a buffer, or at the end with nothing to read (as fgets).
    char* Gets(char* buffer, int size) override;
    // With fewer bytes left than the value needs: 0, and target and position unchanged.
    uint32_t ReadInt32(uint32_t* out, bool swap) override;
    uint16_t ReadInt16(uint16_t* out, bool swap) override;
    uint8_t ReadInt8(uint8_t* out) override;
    uint32_t Write(const void* buffer, uint32_t count) override;
    // mode 0 sets the position to the offset, 1 adds the offset, 2 sets it to the size minus
    // the offset; the position is clamped to [0, size] and the unclamped target is returned
    // (saturated to the int range). Any other mode sets the position to 0 and returns 0.
    // Without a buffer nothing moves and 0 is returned.
    int Seek(int mode, int64_t offset) override;
    // The file stream's form: origin 0 start, 1 current, 2 end (size + offset), any other
    // origin the start; clamped to [0, size]; 0 when the target was inside, -1 when clamped.
    int SeekLikeFile(int origin, int64_t offset);
    int64_t Tell() override;
    bool Flush() override { return mBuffer != nullptr; }
    bool CanSeek() override { return mBuffer != nullptr; }
    // Ignored beyond the size.
    void SetPosition(int64_t offset) override;
    bool IsOpen() const override { return mBuffer != nullptr; }
    bool HasError() override { return false; }
    void ClearError() override {}
    bool IsEof() override { return !mBuffer || mPosition >= mSize; }
    int VPrintf(const char* format, va_list args) override;

    // File-name operations are not supported here.
    virtual bool OpenFile(const char*) { return false; }
    virtual bool SaveAs(const char*) { return false; }

    size_t GetSize() const { return mSize; }

private:
    void MoveClamped(int64_t target);
    size_t Remaining() const { return mBuffer ? mSize - mPosition : 0; }

    unsigned char* mBuffer = nullptr;
    size_t mSize = 0;
    size_t mPosition = 0;
};
