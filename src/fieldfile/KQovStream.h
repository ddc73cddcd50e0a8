#pragma once
// The byte stream a field file works through: a file stream it owns, or a layer
// (encryption, checksum) over another such stream. Positions are 64-bit.

#include <cstdarg>
#include <cstdint>
#include <cstdio>

class KFileStream;

class KQovStream {
public:
    // `stream` is used as given; `owned` makes this object delete it.
    explicit KQovStream(KFileStream* stream = nullptr, bool owned = false);
    virtual ~KQovStream();
    KQovStream(const KQovStream&) = delete;
    KQovStream& operator=(const KQovStream&) = delete;

    // Opens a file stream of its own; a mode containing 'r' records reading.
    virtual bool Open(const char* name, const char* mode);
    virtual void Close();
    // The file stream's Commit and Discard (a file written in place of another one).
    bool Commit();
    void Discard();
    // The file stream's CanSeek: false for a pipe, a socket or a terminal.
    bool CanSeek();
    virtual uint32_t Read(void* buffer, uint32_t count);
    virtual char* Gets(char* buffer, int size);
    virtual uint32_t Write(const void* buffer, uint32_t count);
    // origin 0 start, 1 current, 2 end; 0 on success.
    virtual int Seek(int origin, int64_t offset);
    virtual int64_t Tell();
    virtual void SetPosition(int64_t offset);
    virtual bool IsOpen();
    virtual bool HasError();
    virtual void ClearError();
    // The system's error number for the first read of the file that failed, 0 while none did.
    virtual int GetReadError();
    virtual int Truncate(int64_t size);
    // Formats into a growable buffer (never cut) and writes through Write.
    int Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));

    bool IsReading() const { return mReading; }
    // The file behind the stream when its bytes are read as they are from a file opened for
    // reading only (it may then be mapped); null for layers, which change the bytes, and for
    // streams that are no such file.
    virtual FILE* GetReadOnlyFile();
    // The stream's size; the position is kept.
    int64_t Size();

protected:
    // Line reads for layers that transform bytes: one byte at a time through Read.
    char* GetsThroughRead(char* buffer, int size);

private:
    KFileStream* mStream;
    bool mOwned;
    bool mReading = false;
};

// A layer over another KQovStream: every operation goes to the base unless replaced.
class KQovStreamLayer : public KQovStream {
public:
    KQovStreamLayer(KQovStream* base, bool owned);
    ~KQovStreamLayer() override;

    bool Open(const char* name, const char* mode) override;
    void Close() override;
    uint32_t Read(void* buffer, uint32_t count) override;
    char* Gets(char* buffer, int size) override;
    uint32_t Write(const void* buffer, uint32_t count) override;
    int Seek(int origin, int64_t offset) override;
    int64_t Tell() override;
    void SetPosition(int64_t offset) override;
    bool IsOpen() override;
    bool HasError() override;
    void ClearError() override;
    int GetReadError() override;
    int Truncate(int64_t size) override;

    FILE* GetReadOnlyFile() override { return nullptr; }

    KQovStream* GetBase() const { return mBase; }

private:
    KQovStream* mBase;
    bool mOwnsBase;
};
