// Around the records: start of file, header extension, identity, parts and end blocks,
// key block and enciphering, password, creating, opening, finishing.

#include <cstring>
#include <new>

#include "foundation/KFileStream.h"
#include "foundation/KLocale.h"
#include "foundation/KQuotedText.h"
#include "foundation/KPath.h"
#include "fieldfile/KQovEncryptedStream.h"
#include "fieldfile/KQovFieldFile.h"
#include "fieldfile/KQovFieldReader.h"
#include "fieldfile/KQovStream.h"
#include "platform/KPlatformFile.h"
#include "platform/KPlatformRandom.h"
#include "platform/KPlatformSystem.h"

namespace {

const char kMagic[21] = "Varnoke QOV Binary  ";  // 20 characters and the terminator
const uint8_t kFooter[16] = {0xf8, 0x5a, 0x8c, 0x6a, 0xde, 0xf5, 0xd9, 0x7e,
                             0xec, 0xe9, 0x0c, 0xe3, 0x75, 0x8f, 0x29, 0x0b};
const char kCreator[] = "QOV SDK/QOV Plugins build ????????";

// The two FileId constants and the password key are fixed for all time: every file
// written with them must stay readable, so they never change.
const uint8_t kFileIdA[16] = {0x51, 0x4f, 0x56, 0x2d, 0x46, 0x69, 0x6c, 0x65,
                              0x49, 0x64, 0x2d, 0x41, 0x93, 0x27, 0xc4, 0x5e};
const uint8_t kFileIdB[16] = {0x3b, 0xe8, 0x71, 0x0d, 0xa6, 0x52, 0x9f, 0x14,
                              0xc0, 0x6e, 0x2b, 0xd7, 0x85, 0x39, 0xf2, 0x60};
const char kPasswordKey[5] = {'V', 'r', 'n', 'k', 'Q'};

constexpr int kKeyBlockSize = 160;
constexpr int kKeyOffset = 38;
constexpr int kEndBlockSize = 128;

void Mix(uint8_t x[16], const uint8_t d[16]) {
    uint8_t c = 0x40;
    for (int i = 0; i < 16; ++i) {
        x[i] = static_cast<uint8_t>(x[i] ^ d[i] ^ c);
        c = x[i];
    }
}

void Unmix(uint8_t x[16], const uint8_t d[16]) {
    uint8_t previous = 0x40;
    for (int i = 0; i < 16; ++i) {
        uint8_t stored = x[i];
        x[i] = static_cast<uint8_t>(x[i] ^ d[i] ^ previous);
        previous = stored;
    }
}

std::string Scramble(const std::string& text) {
    std::string s(text.size(), '\0');
    for (size_t i = 0; i < text.size(); ++i)
        s[i] = i == 0 ? static_cast<char>(text[0] ^ 0x40)
                      : static_cast<char>(s[i - 1] ^ text[i] ^ kPasswordKey[i % 5]);
    return s;
}

std::string Unscramble(const std::string& s) {
    std::string text(s.size(), '\0');
    for (size_t i = 0; i < s.size(); ++i)
        text[i] = i == 0 ? static_cast<char>(s[0] ^ 0x40)
                         : static_cast<char>(s[i] ^ s[i - 1] ^ kPasswordKey[i % 5]);
    return text;
}

int Clamp(int value, int low, int high) {
    return value < low ? low : value > high ? high : value;
}

std::string Extension(const std::string& name) {
    return KExtractFileExtension(name.c_str()).Buffer();
}

}  // namespace

void KQovFieldFile::SplitVersion(int version, int& major, int& minor, int& revision) {
    major = version / 1000;
    minor = (version % 1000) / 100;
    revision = version % 100;
}

void KQovFieldFile::Reset() {
    mFileVersion = 6000;
    mOpenMode = eReadOnly;
    mCipherStream.reset();
    mOwnedStream.reset();
    mStream = nullptr;
    mBinary = mSwap = mEncrypted = false;
    mFolder.clear();
    mFullName.clear();
    mProjectFolder.clear();
    mFileName.clear();
    mOpenedName.clear();
    mOriginalSize = -1;
    mStamped = false;
    mParts.clear();
    mCurrentPart = -1;
    mPartWriting = 0;
    std::memset(mTimeStamp, 0, sizeof mTimeStamp);
    mPasswordStored = false;
    mPassword.clear();
    mHasIdentity = true;
    mCutShort = false;
    mEmbeddedNames.clear();
    mExtracted.clear();
    mExtractedFolders.clear();
    mMediaNumberOf.clear();
    mMediaNumbers.clear();
    FreeTrees();
    mMappedReadError = 0;
    mValueCounter = 0;
    mDepth = 0;
    mRecordTable.assign(kMaxDepth, RecordEntry());
    mIndent = mContinuationIndent = mLineLength = 0;
    mOutSize = 0;
    mStreamAt = -1;
    mStreamOpen = false;
}

void KQovFieldFile::FreeTrees() {
    // A failed page of a part read is still the read's error once the part is finished.
    for (const KQovFieldReader* tree : {mFirstTree.get(), mOtherTree.get()})
        if (tree && !mMappedReadError) mMappedReadError = tree->GetMappingReadError();
    mReadAhead.reset();
    mTree = nullptr;
    mFirstTree.reset();
    mOtherTree.reset();
    mBlock = mRecord = -1;
    mReadLevels.clear();
}

void KQovFieldFile::TimeText(char out[17]) const {
    // Bounded so that numbers from a damaged file still give 16 characters.
    KSnprintfC(out, 17, "%02d%02d%02d%02d%02d%04d%02d", Clamp(mTimeStamp[5], 0, 99),
               Clamp(mTimeStamp[1], 0, 99), Clamp(mTimeStamp[3], 0, 99),
               Clamp(mTimeStamp[2], 0, 99), Clamp(mTimeStamp[6] / 10, 0, 99),
               Clamp(mTimeStamp[0], 0, 9999), Clamp(mTimeStamp[4], 0, 99));
}

void KQovFieldFile::FileIdValue(uint8_t out[16]) const {
    char t[17];
    TimeText(t);
    std::memcpy(out, kFileIdA, 16);
    Mix(out, reinterpret_cast<const uint8_t*>(t));
}

void KQovFieldFile::EndBlockId(uint8_t out[16]) const {
    char t[17];
    TimeText(t);
    FileIdValue(out);
    Mix(out, kFileIdB);
    Mix(out, reinterpret_cast<const uint8_t*>(t));
}

// ---- Writing the frame ----

void KQovFieldFile::WriteStart(KQovHeaderInfo*) {
    if (mBinary) {
        uint8_t start[27] = {};
        std::memcpy(start, kMagic, 20);
        start[20] = 0x00;
        start[21] = 0x1A;
        start[22] = 0;  // little-endian, as written here
        uint32_t version = mFileVersion < 6000 ? 3000u : static_cast<uint32_t>(mFileVersion);
        std::memcpy(start + 23, &version, 4);
        Emit(start, sizeof start);
        return;
    }
    int major, minor, revision;
    SplitVersion(mFileVersion, major, minor, revision);
    FieldWriteComment(KFormatC(" QOV %d.%d.%d project file", major, minor, revision).c_str());
    FieldWriteComment(" Written by the QOV scene library.");
    FieldWriteComment(" All rights reserved.");
    FieldWriteComment((" " + std::string(52, '-')).c_str());
    FieldWriteComment("");
}

void KQovFieldFile::WriteHeaderExtension(KQovHeaderInfo* info) {
    FieldWriteBegin("QOVHeaderExtension");
    FieldWriteBlockBegin();
    FieldWriteBegin("QOVHeaderVersion");
    FieldWriteI(1003);
    FieldWriteEnd();
    FieldWriteBegin("QOVVersion");
    FieldWriteI(mFileVersion);
    FieldWriteEnd();
    if (mBinary) {
        FieldWriteBegin("EncryptionType");
        FieldWriteI(mEncrypted ? 1 : 0);
        FieldWriteEnd();
    }
    if (info && !info->cameraName.IsEmpty()) {
        FieldWriteBegin("CurrentCameraResolution");
        FieldWriteBlockBegin();
        FieldWriteC("CameraName", info->cameraName.Buffer());
        FieldWriteC("CameraResolutionMode", info->resolutionMode.Buffer());
        FieldWriteBegin("CameraResolutionW");
        FieldWriteD(info->width);
        FieldWriteEnd();
        FieldWriteBegin("CameraResolutionH");
        FieldWriteD(info->height);
        FieldWriteEnd();
        FieldWriteBlockEnd();
        FieldWriteEnd();
    }
    static const char* const kStampNames[] = {"Year",   "Month",  "Day",        "Hour",
                                              "Minute", "Second", "Millisecond"};
    FieldWriteBegin("CreationTimeStamp");
    FieldWriteBlockBegin();
    FieldWriteBegin("Version");
    FieldWriteI(1000);
    FieldWriteEnd();
    for (int i = 0; i < 7; ++i) {
        FieldWriteBegin(kStampNames[i]);
        FieldWriteI(mTimeStamp[i]);
        FieldWriteEnd();
    }
    FieldWriteBlockEnd();
    FieldWriteEnd();
    FieldWriteC("Creator", kCreator);
    FieldWriteBlockEnd();
    FieldWriteEnd();
}

void KQovFieldFile::WriteIdentity() {
    if (mBinary) {
        uint8_t id[16];
        FileIdValue(id);
        FieldWriteBegin("FileId");
        if (FieldWriteR(16)) Emit(id, 16);
        FieldWriteEnd();
    }
    std::string time =
        KFormatC("%04d-%02d-%02d %02d:%02d:%02d:%03d", mTimeStamp[0], mTimeStamp[1], mTimeStamp[2],
                 mTimeStamp[3], mTimeStamp[4], mTimeStamp[5], mTimeStamp[6]);
    FieldWriteC("CreationTime", time.c_str());
    FieldWriteC("Creator", kCreator);
}

void KQovFieldFile::WriteEndBlock(int64_t backOffset, int32_t version) {
    uint8_t id[16];
    EndBlockId(id);
    Emit(id, 16);
    int64_t position = Position();
    size_t pad = static_cast<size_t>(16 - (position % 16));  // 16 when already aligned
    static const uint8_t kZeros[kEndBlockSize] = {};
    Emit(kZeros, pad);
    uint8_t block[kEndBlockSize] = {};
    KStoreU32(block, static_cast<uint32_t>(backOffset), GetByteOrder());
    KStoreU32(block + 4, static_cast<uint32_t>(version), GetByteOrder());
    Emit(block, sizeof block);
    Emit(kFooter, sizeof kFooter);
}

bool KQovFieldFile::Create(const char* name, bool binary, bool encrypted, KQovHeaderInfo* info) {
    // A file begun before is dropped: only FieldFileClose puts one in place.
    FieldFileDiscard();
    Reset();
    mError.ClearError();
    mOwnedStream.reset(new KQovStream);
    KPlatformLocalTime now;
    KPlatformGetLocalTime(now);
    int32_t stamp[7] = {now.year,   now.month,  now.day,        now.hour,
                        now.minute, now.second, now.millisecond};
    std::memcpy(mTimeStamp, stamp, sizeof stamp);
    mBinary = binary;
    mEncrypted = binary && encrypted;
    if (info) {
        if (info->fileVersion != 6000 && info->fileVersion != 5800) info->fileVersion = 6000;
        mFileVersion = info->fileVersion;
    }
    const std::string full = CreatedName(name);
    mFullName = full;
    mProjectFolder = ProjectFolder(full);
    size_t slash = full.rfind('/');
    mFolder = slash == std::string::npos ? "" : full.substr(0, slash + 1);
    mFileName = slash == std::string::npos ? full : full.substr(slash + 1);
    // The file is written beside the old one and takes its place when closed: until then,
    // and when the write fails, the old file (and its project folder) stays as it was.
    if (!mOwnedStream->Open(full.c_str(), binary ? "w+b" : "w+t")) {
        SetError(eFileNotCreated, KCreateFileError(full.c_str()).c_str());
        mOwnedStream.reset();
        return false;
    }
    // The file is written by its positions (a binary one goes back to finish its records):
    // a pipe has none.
    if (!mOwnedStream->CanSeek()) {
        mOwnedStream->Discard();
        mOwnedStream.reset();
        SetError(eFileNotCreated, ("Unable to create file " + KQovMessageText(full) +
                                   ": a QOV file is written out of order, so it cannot be "
                                   "written to a pipe or a terminal")
                                      .c_str());
        return false;
    }
    // Known as created before anything more can run out of memory: only an explicit close
    // puts such a file in place.
    mStream = mOwnedStream.get();
    mStreamOpen = true;
    mOpenMode = eCreated;
    mOpenedName = full;
    WriteStart(info);
    WriteHeaderExtension(info);
    if (mEncrypted) {
        CloseRecord(0);
        WriteNullRecord();
        uint8_t keyBlock[kKeyBlockSize];
        if (!KPlatformRandomBytes(keyBlock, sizeof keyBlock)) {
            SetError(eFileNotCreated, "Unable to create file: no random source");
            return false;
        }
        Emit(keyBlock, sizeof keyBlock);
        Flush();
        mCipherStream.reset(new KQovEncryptedStream(keyBlock + kKeyOffset, Position(),
                                                    mOwnedStream.get(),
                                                    KQovEncryptedStream::kWriting, false));
        mStream = mCipherStream.get();
        mStreamAt = -1;
    }
    Flush();
    if (HasError() || mStream->HasError()) {
        if (!HasError()) SetError(eNoSpaceLeft);
        FieldFileDiscard();
        return false;
    }
    mParts.push_back({Position(), mFileVersion});
    mCurrentPart = 0;
    mPartWriting = 1;
    WriteIdentity();
    if (!HasError()) return true;
    FieldFileDiscard();
    return false;
}

std::string KQovFieldFile::CreatedName(const char* name) {
    std::string full = name ? name : "";
    const std::string ext = Extension(full);
    if (KStrCaseCmp(ext.c_str(), "qov") != 0 && KStrCaseCmp(ext.c_str(), "tmp") != 0)
        full += ".qov";
    return full;
}

// A link's folder holds none of the file's.
std::string KQovFieldFile::ProjectFolder(const std::string& name) {
    std::string file = KPlatformResolveLinks(name.c_str());
    if (file.empty()) file = name;  // no file is read or written through a loop of links
    return KChangeFileExtension(file.c_str(), ".qod").Buffer();
}

std::vector<std::string> KQovFieldFile::ProjectFilesOf(const char* name) {
    const std::string folder = ProjectFolder(CreatedName(name));
    std::vector<std::string> files;
    if (!KPlatformIsOwnDirectory(folder.c_str())) return files;
    for (const char* project : {"/Project.txt", "/Project.bin"}) {
        files.push_back(folder + project);  // all a folder not listed gives
        std::vector<KPlatformDirEntry> entries;
        KPlatformListDirectory((folder + project).c_str(), entries);
        for (const KPlatformDirEntry& entry : entries)
            if (!entry.isDirectory) files.push_back(folder + "/" + entry.name);
    }
    return files;
}

// ---- Opening ----

bool KQovFieldFile::Open(const char* name, bool checkCrc, bool selectFirstPart,
                         KQovHeaderInfo* info, bool update) {
    FieldFileClose();
    Reset();
    mError.ClearError();
    std::string full = name ? name : "";
    if (KStrCaseCmp(Extension(full).c_str(), "qov") != 0) full += ".qov";
    mFullName = full;
    size_t slash = full.rfind('/');
    mFolder = slash == std::string::npos ? "" : full.substr(0, slash + 1);
    mFileName = slash == std::string::npos ? full : full.substr(slash + 1);
    std::vector<std::string> candidates;
    std::string project = ProjectFolder(full);
    // Only a folder of the file's own: a link of that name leads to another folder's files,
    // which a write of the file leaves alone, so they would shadow it.
    if (KPlatformIsOwnDirectory(project.c_str())) {
        candidates.push_back(project + "/Project.txt");
        candidates.push_back(project + "/Project.bin");
    }
    // A project folder without a project file (an empty one left by GetDataFolderName)
    // must not hide the file itself.
    candidates.push_back(full);
    return OpenWith(candidates, true, checkCrc, selectFirstPart, info, update);
}

bool KQovFieldFile::FieldFileOpenFile(const char* name, bool checkCrc, bool selectFirstPart,
                                      KQovHeaderInfo* info) {
    FieldFileClose();
    Reset();
    mError.ClearError();
    std::string full = name ? name : "";
    mFullName = full;
    size_t slash = full.rfind('/');
    mFolder = slash == std::string::npos ? "" : full.substr(0, slash + 1);
    mFileName = slash == std::string::npos ? full : full.substr(slash + 1);
    return OpenWith({full}, false, checkCrc, selectFirstPart, info, false);
}

bool KQovFieldFile::OpenWith(const std::vector<std::string>& candidates, bool strict, bool checkCrc,
                             bool selectFirstPart, KQovHeaderInfo* info, bool update) {
    mOwnedStream.reset(new KQovStream);
    bool opened = false;
    for (const std::string& candidate : candidates) {
        // Only a caller that means to write asks for update: reading never changes a file.
        if (update && KPlatformCheckReplace(candidate.c_str()) == KPlatformReplaceProblem::eNone &&
            mOwnedStream->Open(candidate.c_str(), "r+b")) {
            mOpenMode = eUpdate;
        } else if (mOwnedStream->Open(candidate.c_str(), "rb")) {
            mOpenMode = eReadOnly;
        } else {
            continue;
        }
        mOpenedName = candidate;
        opened = true;
        break;
    }
    if (!opened) {
        SetError(eFileNotOpened, KOpenForReadError(mFullName.c_str()).c_str());
        mOwnedStream.reset();
        return false;
    }
    mStream = mOwnedStream.get();
    mStreamOpen = true;
    mOriginalSize = mStream->Size();
    mStamped = mOpenMode == eReadOnly &&
               KPlatformGetFileStamp(mOwnedStream->GetReadOnlyFile(), mOpenedStamp);
    return ReadStart(strict, checkCrc, selectFirstPart, info);
}

bool KQovFieldFile::ReadAsciiFirstLine() {
    char line[65] = {};
    int64_t here = mStream->Tell();
    mStream->Gets(line, sizeof line);
    mStream->SetPosition(here);
    char product[65] = {}, word1[65] = {}, word2[65] = {};
    int major = 0, minor = 0, revision = 0;
    const char* p = line;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p != ';') return false;
    ++p;
    bool threeNumbers = true;
    if (KSscanfC(p, "%64s %d.%d.%d %64s %64s", product, &major, &minor, &revision, word1, word2) !=
        6) {
        threeNumbers = false;
        revision = 0;
        if (KSscanfC(p, "%64s %d.%d %64s %64s", product, &major, &minor, word1, word2) != 5)
            return false;
    }
    if (KStrCaseCmp(word1, "project") != 0 || KStrCaseCmp(word2, "file") != 0) return false;
    if (!threeNumbers && std::strcmp(product, "Tessrun") == 0) {
        static const struct {
            int major, minor, version;
        } kOld[] = {{1, 5, 1000}, {2, 7, 2001}, {3, 0, 3000},
                    {4, 0, 4000}, {4, 1, 4001}, {4, 5, 4050}};
        for (const auto& old : kOld) {
            if (old.major == major && old.minor == minor) {
                mFileVersion = old.version;
                return true;
            }
        }
    }
    if (major < 0 || major > 2000000 || minor < 0 || revision < 0) return false;
    mFileVersion = major * 1000 + (minor % 10) * 100 + (revision % 100);
    return true;
}

bool KQovFieldFile::ReadHeaderExtension(KQovHeaderInfo* info, bool& found) {
    found = false;
    int64_t start = mStream->Tell();
    KQovFieldReader temp(mStream, start, mBinary, mSwap);
    if (!temp.Parse(-1, true) || temp.FindName(0, "QOVHeaderExtension") < 0) {
        // A read the system failed is its error, not a file without an extension.
        if (const int error = GetSystemReadError() ? GetSystemReadError()
                                                   : temp.GetMappingReadError()) {
            SetError(eReadError, KReadFileError(mOpenedName.c_str(), error).c_str());
            return false;
        }
        // No header extension: the records start here.
        mStream->SetPosition(start);
        return true;
    }
    found = true;
    mTree = &temp;
    mBlock = 0;
    mRecord = -1;
    bool ok = FieldReadBegin("QOVHeaderExtension") && FieldReadBlockBegin();
    // The optional inner blocks: a field of that name without a block is skipped, not an error.
    auto hasBlock = [&] { return mRecord >= 0 && mValues.child >= 0; };
    if (ok) {
        int headerVersion = FieldReadI("QOVHeaderVersion", 0);
        mFileVersion = FieldReadI("QOVVersion", 0);
        if (mBinary) {
            int type = FieldReadI("EncryptionType", 0);
            if (type == 0 || type == 1) {
                mEncrypted = type == 1;
            } else {
                SetError(eVersionNotSupportedYet, "Encryption type is not supported");
                ok = false;
            }
        }
        if (ok && info && headerVersion > 1000 && FieldReadBegin("CurrentCameraResolution")) {
            if (hasBlock() && FieldReadBlockBegin()) {
                info->cameraResolutionPresent = true;
                info->cameraName = FieldReadC("CameraName", "");
                info->resolutionMode = FieldReadC("CameraResolutionMode", "");
                info->width = FieldReadD("CameraResolutionW", 0.0);
                info->height = FieldReadD("CameraResolutionH", 0.0);
                FieldReadBlockEnd();
            }
            FieldReadEnd();
        }
        if (ok && info && headerVersion > 1001) {
            if (FieldReadBegin("CreationTimeStamp")) {
                if (hasBlock() && FieldReadBlockBegin()) {
                    if (FieldReadI("Version", 0) >= 1000) {
                        static const char* const kNames[] = {
                            "Year", "Month", "Day", "Hour", "Minute", "Second", "Millisecond"};
                        for (int i = 0; i < 7; ++i) info->timeStamp[i] = FieldReadI(kNames[i], 0);
                        info->timeStampPresent = true;
                    }
                    FieldReadBlockEnd();
                }
                FieldReadEnd();
            }
            info->creator = FieldReadC("Creator", "");
        }
    } else if (!HasError()) {
        SetError(eFileCorrupted);
    }
    mTree = nullptr;
    mBlock = mRecord = -1;
    mReadLevels.clear();
    if (info) info->fileVersion = mFileVersion;
    mStream->SetPosition(temp.GetEndPosition());
    return ok;
}

bool KQovFieldFile::ReadStart(bool strict, bool checkCrc, bool selectFirstPart,
                              KQovHeaderInfo* info) {
    if (info) info->cameraResolutionPresent = info->timeStampPresent = false;
    int64_t start = mStream->Tell();
    if (mStream->Size() <= start) {
        // The end is confirmed by a read: one the system fails is told as such (SetError).
        uint8_t probe;
        mStream->Read(&probe, 1);
        // Nothing to read is no file of any kind, not an empty ASCII file.
        SetError(eFileCorrupted, ("File is corrupted: " + KQovMessageText(mOpenedName)).c_str());
        return false;
    }
    uint8_t head[27];
    bool binary = false;
    if (mStream->Read(head, 27) == 27) {
        char magic[22] = {};
        std::memcpy(magic, head, 21);
        if (KStrCaseCmp(magic, kMagic) == 0 && head[21] == 0x1A) {
            binary = true;
            mSwap = head[22] != 0;
            mFileVersion = static_cast<int32_t>(KLoadU32(head + 23, GetByteOrder()));
        }
    }
    if (!binary) {
        mStream->SetPosition(start);
        if (!ReadAsciiFirstLine()) {
            if (strict) {
                SetError(eFileCorrupted,
                         ("File is corrupted: " + KQovMessageText(mOpenedName)).c_str());
                return false;
            }
            mFileVersion = 1000;
        }
    }
    mBinary = binary;
    bool foundExtension;
    if (!ReadHeaderExtension(info, foundExtension)) return false;
    int major, minor, revision;
    SplitVersion(mFileVersion, major, minor, revision);
    if (major >= 7) {
        SetError(eVersionNotSupportedYet,
                 KFormatC("QOV file version %d.%d.%d is not supported in this product", major,
                          minor, revision)
                     .c_str());
        mParts.push_back({mStream->Tell(), mFileVersion});
        return false;
    }
    if (mEncrypted) {
        (void)checkCrc;  // no checksum is stored in the file: the check has nothing to compare
        uint8_t null[13];
        static const uint8_t kNull[13] = {};
        uint8_t keyBlock[kKeyBlockSize];
        if (mStream->Read(null, 13) != 13 || std::memcmp(null, kNull, 13) != 0 ||
            mStream->Read(keyBlock, kKeyBlockSize) != kKeyBlockSize) {
            SetError(eFileCorrupted, "File is corrupted: no key block");
            return false;
        }
        mCipherStream.reset(new KQovEncryptedStream(keyBlock + kKeyOffset, mStream->Tell(),
                                                    mOwnedStream.get(),
                                                    KQovEncryptedStream::kReading, false));
        mStream = mCipherStream.get();
    }
    if (mBinary)
        BuildPartList(mStream->Tell());
    else
        mParts.push_back({mStream->Tell(), mFileVersion});
    if (selectFirstPart) return FieldFileSelectPart(0);
    return true;
}

bool KQovFieldFile::FindEndBlock(int64_t size, uint32_t& backOffset, uint32_t& version,
                                 int64_t& blockStart) {
    blockStart = (size & ~int64_t(15)) - (kEndBlockSize + 16);
    if (blockStart < 0) return false;
    uint8_t block[kEndBlockSize + 16];
    mStream->SetPosition(blockStart);
    if (mStream->Read(block, sizeof block) != sizeof block) return false;
    if (std::memcmp(block + kEndBlockSize, kFooter, 16) != 0) return false;
    backOffset = KLoadU32(block, GetByteOrder());
    version = KLoadU32(block + 4, GetByteOrder());
    return true;
}

void KQovFieldFile::BuildPartList(int64_t firstStart) {
    mParts.clear();
    mParts.push_back({firstStart, mFileVersion});
    // The walk meets the parts last first; they are put in file order at the end, so a
    // long chain costs one pass.
    std::vector<Part> found;
    int64_t size = mStream->Size();
    for (;;) {
        uint32_t back, version;
        int64_t blockStart;
        if (!FindEndBlock(size, back, version, blockStart) || blockStart < firstStart) break;
        if (back == 0) {
            if (version != 0) mParts[0].version = static_cast<int32_t>(version);
            break;
        }
        int64_t partStart = blockStart - static_cast<int64_t>(back);
        if (partStart <= firstStart || partStart >= size) break;  // a damaged chain stops here
        found.push_back({partStart, version ? static_cast<int32_t>(version) : 4000});
        size = partStart;
    }
    mParts.insert(mParts.end(), found.rbegin(), found.rend());
    mStream->SetPosition(firstStart);
}

// ---- Parts ----

int KQovFieldFile::GetPartVersion(int index) const {
    if (index < 0 || index >= GetPartCount()) return 0;
    return mParts[static_cast<size_t>(index)].version;
}

bool KQovFieldFile::FieldFileSelectPartAfter(int index) {
    return FieldFileSelectPart(index + 1);
}

bool KQovFieldFile::FieldFileSelectPart(int index) {
    if (mCurrentPart >= 0) return false;
    if (index < 0 || index >= GetPartCount()) {
        SetError(eSectionDoesNotExist);
        return false;
    }
    if (!IsOpen()) {
        SetError(eFileNotOpened);
        return false;
    }
    KQovFieldReader* tree = nullptr;
    if (index == 0 && mFirstTree) {
        tree = mFirstTree.get();
        tree->ResetCursors();
    } else {
        int64_t end =
            index + 1 < GetPartCount() ? mParts[static_cast<size_t>(index) + 1].start : -1;
        mReadAhead.reset();  // it may read the tree replaced below
        std::unique_ptr<KQovFieldReader> parsed(
            new KQovFieldReader(mStream, mParts[static_cast<size_t>(index)].start, mBinary, mSwap));
        const bool parsedWhole = parsed->Parse(end);
        // A file cut or written in place since it was opened, or under the parse, gave the
        // parse other bytes than those its parts were found in.
        if (parsed->FileCutShort() || FileChangedSinceOpen() ||
            (mOpenMode == eReadOnly && mOwnedStream && mOwnedStream->Size() != mOriginalSize)) {
            mCutShort = true;
            if (!mMappedReadError) mMappedReadError = parsed->GetMappingReadError();
            CheckFileUnchanged();
            return false;
        }
        if (!parsedWhole) {
            SetError(eFileCorrupted, ("File is corrupted: " + parsed->GetErrorText()).c_str());
            return false;
        }
        if (index == 0) {
            mFirstTree = std::move(parsed);
            tree = mFirstTree.get();
        } else {
            if (mOtherTree && !mMappedReadError)
                mMappedReadError = mOtherTree->GetMappingReadError();
            mOtherTree = std::move(parsed);
            tree = mOtherTree.get();
        }
    }
    mTree = tree;
    mBlock = tree->GetRoot();
    mRecord = -1;
    mReadLevels.clear();
    mCurrentPart = index;
    if (mBinary) {
        if (!CheckIdentity(index)) {
            SetError(eFileCorrupted, "File is corrupted: the file identity does not match");
            mTree = nullptr;
            mBlock = -1;
            mCurrentPart = -1;
            return false;
        }
        ReadPassword();
    }
    return true;
}

bool KQovFieldFile::CheckIdentity(int part) {
    uint8_t fileId[16] = {};
    bool hasId = false;
    for (const char* name : {"FileId", "Source"}) {
        if (!FieldReadBegin(name)) continue;
        uint32_t size = 0;
        const uint8_t* bytes = FieldReadR(size);
        if (bytes && size == 16) std::memcpy(fileId, bytes, 16);
        hasId = true;
        FieldReadEnd();
        break;
    }
    bool hasTime = false;
    if (FieldReadBegin("CreationTime")) {
        hasTime = true;
        const char* text = FieldReadC();
        int32_t stamp[7] = {};
        KSscanfC(text, "%d-%d-%d %d:%d:%d:%d", &stamp[0], &stamp[1], &stamp[2], &stamp[3],
                 &stamp[4], &stamp[5], &stamp[6]);
        std::memcpy(mTimeStamp, stamp, sizeof stamp);
        FieldReadEnd();
    }
    FieldReadRewind();
    uint8_t following[16];
    int64_t after = mTree->GetEndPosition();
    int64_t here = mStream->Tell();
    mStream->SetPosition(after);
    uint32_t got = mStream->Read(following, 16);
    mStream->ClearError();
    mStream->SetPosition(here);
    bool passed = false;
    if (hasId && hasTime) {
        char t[17];
        TimeText(t);
        const uint8_t* d = reinterpret_cast<const uint8_t*>(t);
        Unmix(following, d);
        Unmix(following, kFileIdB);
        Unmix(following, d);
        Unmix(fileId, d);
        passed = got == 16 && std::memcmp(following, fileId, 16) == 0;
    } else if (!hasId && !hasTime) {
        passed = !(part == GetLastPartIndex() && got > 0);
    }
    // Only a part that read cleanly may be given identity fields when the file is finished.
    if (part == 0 && passed) mHasIdentity = hasId || hasTime;
    return passed;
}

void KQovFieldFile::ReadPassword() {
    mPasswordStored = false;
    mPassword.clear();
    for (const char* name : {"NodeId", "Param2a"}) {
        if (!FieldReadBegin(name)) continue;
        uint32_t size = 0;
        const uint8_t* bytes = FieldReadR(size);
        mPassword.assign(reinterpret_cast<const char*>(bytes ? bytes : (const uint8_t*)""), size);
        mPasswordStored = true;
        FieldReadEnd();
        break;
    }
    FieldReadRewind();
}

bool KQovFieldFile::FieldWritePassword(const char* password) {
    if (!mBinary || !password || mPasswordStored || mDepth != 0 || !CanWrite()) return false;
    std::string scrambled = Scramble(password);
    // Written as it is (no "::" split): the scrambled bytes may hold anything, even 0x00.
    FieldWriteBegin("NodeId");
    if (!BeginValue()) return false;
    char type = 'S';
    Emit(&type, 1);
    EmitU32(static_cast<uint32_t>(scrambled.size()));
    Emit(scrambled.data(), scrambled.size());
    mRecordTable[0].count += 1;
    mRecordTable[0].length += 1 + 4 + scrambled.size();
    ++mValueCounter;
    FieldWriteEnd();
    if (HasError()) return false;
    mPasswordStored = true;
    return true;
}

bool KQovFieldFile::CheckPassword(const char* password) {
    if (!mPasswordStored) return true;
    std::string given = password ? password : "";
    if (Unscramble(mPassword) != given) return false;
    mPasswordStored = false;
    return true;
}

// ---- Finishing ----

bool KQovFieldFile::FinishUpdate() {
    // A file of an older writer without identity fields gets them, in place of its final
    // null record. Reading must never damage a file: on any failure it is cut back.
    if (!mBinary || mEncrypted || mOpenMode != eUpdate || GetPartCount() != 1 || mHasIdentity ||
        !mOwnedStream || mOriginalSize < 13)
        return true;
    uint8_t tail[13];
    static const uint8_t kNull[13] = {};
    uint32_t back, version;
    int64_t blockStart;
    if (FindEndBlock(mOriginalSize, back, version, blockStart)) return true;
    mStream->ClearError();
    mStream->SetPosition(mOriginalSize - 13);
    if (mStream->Read(tail, 13) != 13 || std::memcmp(tail, kNull, 13) != 0) return true;
    // What went wrong while reading is the caller's to see: kept aside during the writes.
    int savedId = mError.GetErrorCode();
    std::string savedText = mError.GetErrorText();
    mError.ClearError();
    mStream->ClearError();
    mStream->SetPosition(mOriginalSize - 13);
    mStreamAt = -1;
    mDepth = 0;
    mRecordTable.assign(kMaxDepth, RecordEntry());
    mValueCounter = 0;
    WriteIdentity();
    CloseRecord(0);
    WriteNullRecord();
    WriteEndBlock(0, GetPartVersion(0));
    Flush();
    // Seeking pushes the runtime's own buffer out, so a full disk shows here.
    bool failed = HasError() || mStream->Seek(1, 0) != 0 || mStream->HasError();
    if (failed) {
        // Bytes still waiting in the failed stream must never reach the file: it is
        // reopened, cut back to its size and given its final null record again.
        mOwnedStream->Close();
        if (mOwnedStream->Open(mOpenedName.c_str(), "r+b")) {
            mOwnedStream->Truncate(mOriginalSize);
            mOwnedStream->SetPosition(mOriginalSize - 13);
            mOwnedStream->Write(kNull, 13);
            mOwnedStream->Seek(1, 0);
        }
    }
    if (savedId != -1)
        mError.SetErrorWithText(savedId, savedText.c_str());
    else if (failed)
        mError.ClearError();
    return !failed;
}

void KQovFieldFile::Finish() {
    const bool writing = mPartWriting && IsOpen();
    if (mPartWriting && mBinary && IsOpen() && !HasError()) {
        while (mDepth > 0) FieldWriteBlockEnd();
        CloseRecord(0);
        WriteNullRecord();
        int64_t start = mParts[static_cast<size_t>(mCurrentPart)].start;
        int64_t back = 0;
        if (mCurrentPart > 0) {
            // The 128-byte block starts after the 16-byte id and its padding.
            int64_t idEnd = Position() + 16;
            back = idEnd + (16 - idEnd % 16) - start;
        }
        WriteEndBlock(back, mParts[static_cast<size_t>(mCurrentPart)].version);
    } else if (!mPartWriting && IsOpen()) {
        FinishUpdate();
    }
    Flush();
    // A write that fails only when the runtime's buffer goes out is reported, not lost.
    if (writing && !HasError() && (mStream->Seek(1, 0) != 0 || mStream->HasError()))
        SetError(eNoSpaceLeft);
    if (!writing) {
        // Asked once the work ahead no longer reads the trees; the answer stays with the file.
        mReadAhead.reset();
        CheckFileUnchanged();
    }
    FreeTrees();
    mCurrentPart = -1;
    mPartWriting = 0;
    mPasswordStored = false;
    mPassword.clear();
    mValueCounter = 0;
    mDepth = 0;
    mRecordTable.assign(kMaxDepth, RecordEntry());
}

bool KQovFieldFile::FieldFileClose() {
    // False only when a file being created was not put in place: the caller must hear of it.
    bool placed = true;
    if (mStream) {
        const bool created = mOpenMode == eCreated && mOwnedStream;
        Finish();
        if (!created) {
            mStream->Close();
        } else if (HasError() || mStream->HasError()) {
            // A file that did not write whole never replaces the old one.
            mOwnedStream->Discard();
            placed = false;
            TellWhyNotWritten();
        } else {
            // The project files that a read would take in the new file's place go aside first:
            // one that cannot go fails the write with the old file kept.
            KPlatformSetAside project;
            static const char* const kProjectFiles[] = {"Project.txt", "Project.bin"};
            if (!project.Move(mProjectFolder.c_str(), kProjectFiles, 2)) {
                mOwnedStream->Discard();
                placed = false;
                const std::string left = LeftAside(project);
                SetError(eFileNotCreated,
                         ("Unable to create file " + KQovMessageText(mFullName) + ": " +
                          ProjectProblem(project) + (left.empty() ? "" : "; ") + left)
                             .c_str());
            } else if (!mOwnedStream->Commit()) {
                // A new file deleted meanwhile, or refused by the system, says why; else the
                // disk is full.
                std::string problem = KLastReplaceProblem();
                if (!project.PutBack())
                    problem += (problem.empty() ? "" : "; ") + LeftAside(project);
                if (problem.empty())
                    SetError(eNoSpaceLeft);
                else
                    SetError(eFileNotCreated,
                             ("File not created: " + KQovMessageText(mFullName) + ": " + problem)
                                 .c_str());
                placed = false;
            } else {
                RemoveProjectFiles(project);
            }
        }
    }
    Reset();
    return placed;
}

std::string KQovFieldFile::ProjectProblem(const KPlatformSetAside& project) const {
    const std::string why = KPlatformErrorText(project.Error());
    if (project.Stayed() == mProjectFolder)
        return "its project folder " + KQovMessageText(mProjectFolder) +
               " cannot be looked through for the files a read would take in its place: " + why;
    return KQovMessageText(project.Stayed()) +
           " would be read in its place and cannot be removed: " + why;
}

std::string KQovFieldFile::LeftAside(const KPlatformSetAside& project) {
    std::string text;
    for (size_t i = 0; i < project.LeftCount(); ++i)
        text += (i ? "; " : "") + ("the old project file stays under the hidden name " +
                                   KQovMessageText(project.LeftName(i)) + ": " +
                                   KPlatformErrorText(project.LeftError(i)));
    return text;
}

void KQovFieldFile::RemoveProjectFiles(KPlatformSetAside& project) {
    // Nothing here allocates unless a project file stays: the new file is in place already,
    // and is what a read gets.
    if (project.Remove()) return;
    try {
        std::string text = KQovMessageText(mFullName) + " is written, but ";
        for (size_t i = 0; i < project.LeftCount(); ++i)
            text += (i ? "; " : "") +
                    ("the old project file " + KQovMessageText(project.LeftName(i)) +
                     " could not be removed: " + KPlatformErrorText(project.LeftError(i)));
        SetError(eFileNotCreated, text.c_str());
    } catch (const std::bad_alloc&) {
        // Without memory for the words, the error alone says something stayed.
        SetError(eFileNotCreated);
    }
}

void KQovFieldFile::FieldFileDiscard() {
    if (mStream && mOpenMode == eCreated && mOwnedStream) {
        mOwnedStream->Discard();
        mCipherStream.reset();
        mStream = nullptr;
        TellWhyNotWritten();
    }
    FieldFileClose();
}

void KQovFieldFile::TellWhyNotWritten() {
    if (GetLastErrorID() != eNoSpaceLeft) return;
    // Called on the way out of a failed write: without memory for the cause, room it is.
    try {
        const std::string problem = KLastReplaceProblem();
        // Named as the exporter names the file of every other format.
        if (!problem.empty())
            SetError(eFileNotCreated,
                     ("File not created: " + KQovMessageText(mFullName) + ": " + problem).c_str());
    } catch (const std::bad_alloc&) {
    }
}

bool KQovFieldFile::FieldFileAppendPart(bool replace) {
    if (!mBinary || !IsOpen() || mCurrentPart >= 0 || mEncrypted) return false;
    size_t partsBefore = mParts.size();
    mStreamAt = -1;
    if (mOpenMode == eCreated) {
        mParts.push_back({Position(), mFileVersion});
    } else if (mOpenMode == eUpdate) {
        mStream->ClearError();
        int64_t size = mStream->Size();
        uint32_t back, version;
        int64_t blockStart;
        bool found = FindEndBlock(size, back, version, blockStart);
        if (found && replace && back != 0 && GetPartCount() > 1) {
            int64_t start = blockStart - back;
            if (mStream->Truncate(start) != 0) {
                SetError(eNoSpaceLeft);
                return false;
            }
            mParts.pop_back();
            mStream->SetPosition(start);
            mStreamAt = -1;
            mParts.push_back({start, mFileVersion});
        } else {
            mStream->SetPosition(size);
            mStreamAt = -1;
            if (!found) WriteEndBlock(0, mFileVersion);
            Flush();
            mParts.push_back({Position(), mFileVersion});
        }
    } else {
        return false;
    }
    mCurrentPart = static_cast<int>(mParts.size()) - 1;
    mPartWriting = 1;
    mDepth = 0;
    mRecordTable.assign(kMaxDepth, RecordEntry());
    WriteIdentity();
    if (HasError()) {
        mParts.resize(partsBefore < mParts.size() ? partsBefore : mParts.size());
        mCurrentPart = -1;
        mPartWriting = 0;
        return false;
    }
    return true;
}
