#include "fieldfile/KQovStream.h"

#include <cstring>
#include <string>

#include "foundation/KFileStream.h"
#include "foundation/KLocale.h"

KQovStream::KQovStream(KFileStream* stream, bool owned) : mStream(stream), mOwned(owned) {}

KQovStream::~KQovStream() {
    if (mOwned) delete mStream;
}

bool KQovStream::Open(const char* name, const char* mode) {
    if (mOwned) delete mStream;
    mStream = new KFileStream;
    mOwned = true;
    mReading = mode && std::strchr(mode, 'r') != nullptr;
    return mStream->Open(name, mode);
}

void KQovStream::Close() {
    if (mStream) mStream->Close();
}

bool KQovStream::Commit() {
    return mStream && mStream->Commit();
}

bool KQovStream::CanSeek() {
    return mStream && mStream->CanSeek();
}

void KQovStream::Discard() {
    if (mStream) mStream->Discard();
}

uint32_t KQovStream::Read(void* buffer, uint32_t count) {
    return mStream ? mStream->Read(buffer, count) : 0;
}

char* KQovStream::Gets(char* buffer, int size) {
    return mStream ? mStream->Gets(buffer, size) : nullptr;
}

uint32_t KQovStream::Write(const void* buffer, uint32_t count) {
    return mStream ? mStream->Write(buffer, count) : 0;
}

int KQovStream::Seek(int origin, int64_t offset) {
    return mStream ? mStream->Seek(origin, offset) : -1;
}

int64_t KQovStream::Tell() {
    return mStream ? mStream->Tell() : 0;
}

void KQovStream::SetPosition(int64_t offset) {
    Seek(0, offset);
}

bool KQovStream::IsOpen() {
    return mStream && mStream->IsOpen();
}

bool KQovStream::HasError() {
    return mStream && mStream->HasError();
}

void KQovStream::ClearError() {
    if (mStream) mStream->ClearError();
}

int KQovStream::GetReadError() {
    return mStream ? mStream->GetReadError() : 0;
}

int KQovStream::Truncate(int64_t size) {
    return mStream ? mStream->Truncate(size) : -1;
}

int KQovStream::Printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = KVFormatC(format, args);
    va_end(args);
    return static_cast<int>(Write(text.data(), static_cast<uint32_t>(text.size())));
}

FILE* KQovStream::GetReadOnlyFile() {
    return mStream ? mStream->GetReadOnlyFile() : nullptr;
}

int64_t KQovStream::Size() {
    int64_t here = Tell();
    Seek(2, 0);
    int64_t size = Tell();
    SetPosition(here);
    return size;
}

char* KQovStream::GetsThroughRead(char* buffer, int size) {
    if (!buffer || size <= 0) return nullptr;
    int n = 0;
    while (n < size - 1) {
        char c;
        if (Read(&c, 1) != 1) break;
        buffer[n++] = c;
        if (c == '\n') break;
    }
    buffer[n] = 0;
    return n > 0 ? buffer : nullptr;
}

KQovStreamLayer::KQovStreamLayer(KQovStream* base, bool owned) : mBase(base), mOwnsBase(owned) {}

KQovStreamLayer::~KQovStreamLayer() {
    if (mOwnsBase) delete mBase;
}

bool KQovStreamLayer::Open(const char* name, const char* mode) {
    return mBase && mBase->Open(name, mode);
}
void KQovStreamLayer::Close() {
    if (mBase) mBase->Close();
}
uint32_t KQovStreamLayer::Read(void* buffer, uint32_t count) {
    return mBase ? mBase->Read(buffer, count) : 0;
}
char* KQovStreamLayer::Gets(char* buffer, int size) {
    return GetsThroughRead(buffer, size);
}
uint32_t KQovStreamLayer::Write(const void* buffer, uint32_t count) {
    return mBase ? mBase->Write(buffer, count) : 0;
}
int KQovStreamLayer::Seek(int origin, int64_t offset) {
    return mBase ? mBase->Seek(origin, offset) : -1;
}
int64_t KQovStreamLayer::Tell() {
    return mBase ? mBase->Tell() : 0;
}
void KQovStreamLayer::SetPosition(int64_t offset) {
    Seek(0, offset);
}
bool KQovStreamLayer::IsOpen() {
    return mBase && mBase->IsOpen();
}
bool KQovStreamLayer::HasError() {
    return mBase && mBase->HasError();
}
void KQovStreamLayer::ClearError() {
    if (mBase) mBase->ClearError();
}
int KQovStreamLayer::GetReadError() {
    return mBase ? mBase->GetReadError() : 0;
}
int KQovStreamLayer::Truncate(int64_t size) {
    return mBase ? mBase->Truncate(size) : -1;
}
