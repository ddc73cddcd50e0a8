#pragma once
// What the motion readers and writers share: each owns one text file object of its format,
// created per opened file with reporting off, and reports failures through its error object.

#include <memory>

#include "foundation/KString.h"
#include "io/KQovReader.h"
#include "io/KQovWriter.h"

template <class File>
class KMotionReaderBase : public KQovReader {
public:
    explicit KMotionReaderBase(KQovObjectManager* manager) : KQovReader(manager) {}

    bool FileOpen(const char* fileName) override {
        if (mFile) FileClose();
        mFile = std::make_unique<File>(false);
        if (!fileName || mFile->Open(fileName, "r") != 0) {
            FileClose();
            return Fail(eFileNotOpened);
        }
        mFileName = fileName;
        return true;
    }
    bool FileClose() override {
        if (!mFile) return Fail(eFileNotOpened);
        mFile.reset();
        mFileName = "";
        return true;
    }
    bool IsFileOpen() override { return mFile != nullptr; }

protected:
    bool Fail(int error) {
        mError.SetError(error);
        return false;
    }

    std::unique_ptr<File> mFile;
    KString mFileName;
};

template <class File>
class KMotionWriterBase : public KQovWriter {
public:
    explicit KMotionWriterBase(KQovObjectManager* manager) : KQovWriter(manager) {}

    bool FileCreate(const char* fileName) override {
        auto file = std::make_unique<File>(false);
        if (!fileName || file->Open(fileName, "w") != 0) {
            // Nothing is kept that later writes could go to.
            mFile.reset();
            KString text = KString("Cannot open file \"") + (fileName ? fileName : "") +
                           "\" for writing.";
            return Fail(eFileNotOpened, text.Buffer());
        }
        mFile = std::move(file);
        return true;
    }
    bool FileClose() override {
        if (!mFile) return Fail(eFileNotOpened);
        mFile.reset();
        return true;
    }
    bool IsFileOpen() override { return mFile != nullptr; }

protected:
    bool Fail(int error, const char* text = nullptr) {
        if (text)
            mError.SetErrorWithText(error, text);
        else
            mError.SetError(error);
        return false;
    }

    std::unique_ptr<File> mFile;
};
