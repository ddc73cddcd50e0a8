#include "attributes/images/KTiffImage.h"

#include <fcntl.h>
#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "attributes/images/KImage.h"
#include "foundation/KFileStream.h"
#include "foundation/KPath.h"
#include "platform/KPlatformStdio.h"

namespace {

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffFile = std::unique_ptr<TIFF, TiffCloser>;

// The library's own errors and warnings ("Not a TIFF or MDI file" for a clip of another kind)
// are not printed: the results say what failed.
int DropMessage(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// Opens through `open` with the messages of that file dropped; null when it does not open.
template <typename Open>
TIFF* OpenQuietly(Open open) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, DropMessage, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, DropMessage, nullptr);
    TIFF* tif = open(options);
    TIFFOpenOptionsFree(options);
    return tif;
}

TIFF* OpenFile(const char* path, const char* mode) {
    return OpenQuietly([&](TIFFOpenOptions* options) { return TIFFOpenExt(path, mode, options); });
}

bool HasTiffExtension(const char* path) {
    const KString extension = KExtractFileExtension(path).Upper();
    return extension == "TIF" || extension == "TIFF";
}

// The layout of a readable file; false for any other.
struct ReadLayout {
    uint32_t width = 0, height = 0, rowsPerStrip = 0;
    uint16_t samples = 0, photometric = 0, hSubsampling = 1, compression = COMPRESSION_NONE;
    int64_t scanline = 0;
    int64_t rowBytes = 0;  // bytes of one stored row that the image needs
};

bool GetReadLayout(TIFF* tif, ReadLayout& layout) {
    uint16_t bits = 0, planar = 0, vSubsampling = 1;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &layout.width) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &layout.height) ||
        !TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &layout.photometric))
        return false;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &layout.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &layout.rowsPerStrip);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &layout.compression);
    if (bits != 8 || planar != PLANARCONFIG_CONTIG || TIFFIsTiled(tif)) return false;
    if (layout.width < 1 || layout.height < 1 || layout.width > INT32_MAX ||
        layout.height > INT32_MAX)
        return false;
    const int64_t width = layout.width;
    if (layout.photometric == PHOTOMETRIC_RGB) {
        if (layout.samples != 3 && layout.samples != 4) return false;
        layout.rowBytes = width * layout.samples;
    } else if (layout.photometric == PHOTOMETRIC_YCBCR) {
        if (layout.samples != 3) return false;
        if (!TIFFGetField(tif, TIFFTAG_YCBCRSUBSAMPLING, &layout.hSubsampling, &vSubsampling)) {
            layout.hSubsampling = 1;
            vSubsampling = 1;
        }
        if ((layout.hSubsampling != 1 && layout.hSubsampling != 2) || vSubsampling != 1)
            return false;
        // Blocks of h luma samples followed by Cb and Cr.
        const int64_t blocks = (width + layout.hSubsampling - 1) / layout.hSubsampling;
        layout.rowBytes = blocks * (layout.hSubsampling + 2);
    } else {
        return false;
    }
    layout.scanline = int64_t(TIFFScanlineSize64(tif));
    return layout.scanline >= layout.rowBytes;
}

// One stored row into width pixels of (samples) bytes.
void UnpackRow(const ReadLayout& layout, const uint8_t* row, uint8_t* out) {
    if (layout.hSubsampling == 1 || layout.photometric == PHOTOMETRIC_RGB) {
        std::memcpy(out, row, size_t(layout.rowBytes));
        return;
    }
    // 4:2:2: Y0 Y1 Cb Cr per block; an odd width drops the last block's second pixel.
    for (uint32_t x = 0; x < layout.width; ++x) {
        const uint8_t* block = row + (x / 2) * 4;
        out[x * 3 + 0] = block[x % 2];
        out[x * 3 + 1] = block[2];
        out[x * 3 + 2] = block[3];
    }
}

// A TIFF file read through the file stream, for libtiff's client procedures: a read the system
// fails is kept by the stream (GetReadError), never taken for a file of another kind. Nothing
// is mapped or read ahead: the library reads only the parts it needs.
struct StreamTiff {
    KFileStream& file;
    int64_t size;
};

tmsize_t StreamRead(thandle_t handle, void* data, tmsize_t size) {
    KFileStream& file = static_cast<StreamTiff*>(handle)->file;
    if (size < 0) return -1;
    tmsize_t done = 0;
    while (done < size) {
        const uint32_t part = uint32_t(std::min<tmsize_t>(size - done, tmsize_t(1) << 30));
        const uint32_t got = file.Read(static_cast<uint8_t*>(data) + done, part);
        done += got;
        if (file.GetReadError()) return -1;
        if (got < part) break;
    }
    return done;
}

tmsize_t StreamWrite(thandle_t, void*, tmsize_t) { return -1; }

toff_t StreamSeek(thandle_t handle, toff_t offset, int whence) {
    KFileStream& file = static_cast<StreamTiff*>(handle)->file;
    const int origin = whence == SEEK_CUR ? 1 : whence == SEEK_END ? 2 : 0;
    if (offset > toff_t(INT64_MAX) || file.Seek(origin, int64_t(offset)) != 0) return toff_t(-1);
    return toff_t(file.Tell());
}

int StreamClose(thandle_t) { return 0; }
toff_t StreamSize(thandle_t handle) { return toff_t(static_cast<StreamTiff*>(handle)->size); }
int StreamMap(thandle_t, void**, toff_t*) { return 0; }
void StreamUnmap(thandle_t, void*, toff_t) {}

// The image of an open TIFF file of `fileSize` bytes; false for another layout or data that
// cannot be read.
bool ReadOpenTiff(TiffFile& tif, uint64_t fileSize, KImage& image) {
    ReadLayout layout;
    if (!GetReadLayout(tif.get(), layout)) return false;
    const int type = layout.photometric == PHOTOMETRIC_YCBCR ? KImage::eYCbCr : KImage::eRGB;
    if (!image.Init(int(layout.width), int(layout.height), true, type, layout.samples)) {
        // Within the image's limit, only memory refuses it.
        if (layout.samples >= 1 &&
            int64_t(layout.width) * layout.height <= KImage::kMaxBytes / layout.samples)
            throw std::bad_alloc();
        return false;
    }

    const uint32_t rowsPerStrip =
        std::max<uint32_t>(1, std::min(layout.rowsPerStrip, layout.height));
    // Bounded by the image's own limit: a scanline is at most a little above the image row.
    const int64_t stripBytes = int64_t(rowsPerStrip) * layout.scanline;
    if (stripBytes > 2 * KImage::kMaxBytes) return false;
    std::vector<uint8_t> strip(static_cast<size_t>(stripBytes));
    const int64_t pixelRow = int64_t(layout.width) * layout.samples;
    uint8_t* pixels = image.GetPixels();
    for (uint32_t row = 0; row < layout.height; row += rowsPerStrip) {
        const uint32_t rows = std::min(rowsPerStrip, layout.height - row);
        const tmsize_t wanted = tmsize_t(int64_t(rows) * layout.scanline);
        // A strip past the end, or an uncompressed one shorter than its rows, is a file cut
        // short: the library, reading rather than mapping, would read on past it.
        const uint32_t index = TIFFComputeStrip(tif.get(), row, 0);
        const uint64_t offset = TIFFGetStrileOffset(tif.get(), index);
        const uint64_t count = TIFFGetStrileByteCount(tif.get(), index);
        if (offset > fileSize || count > fileSize - offset ||
            (layout.compression == COMPRESSION_NONE && count < uint64_t(wanted)))
            return false;
        errno = 0;
        const tmsize_t got = TIFFReadEncodedStrip(tif.get(), index,
                                                  strip.data(), wanted);
        if (got < wanted && errno == ENOMEM) throw std::bad_alloc();  // a codec's memory
        if (got < wanted) return false;
        for (uint32_t r = 0; r < rows; ++r)
            UnpackRow(layout, strip.data() + int64_t(r) * layout.scanline,
                      pixels + int64_t(row + r) * pixelRow);
    }
    return true;
}

bool CanWriteTiff(const KImage& image) {
    const int width = image.GetWidth(), height = image.GetHeight();
    const int samples = image.GetBytesPerPixel();
    const bool layoutOk = image.GetType() == KImage::eYCbCr
                              ? samples == 3
                              : image.GetType() == KImage::eRGB && (samples == 3 || samples == 4);
    return image.IsValid() && layoutOk && image.GetPixels() && width >= 1 && height >= 1 &&
           image.GetPixelBytes() == size_t(int64_t(width) * samples * height);
}

// The tags and rows of an image CanWriteTiff takes; true when every tag was set and every row
// written (a tag refused, for want of memory too, fails it).
bool WriteTiffRows(TIFF* t, bool compress, const KImage& image) {
    const int width = image.GetWidth(), height = image.GetHeight();
    const int samples = image.GetBytesPerPixel();
    const bool ycbcr = image.GetType() == KImage::eYCbCr;
    const int64_t rowBytes = int64_t(width) * samples;
    bool tags =
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(width)) == 1 &&
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(height)) == 1 &&
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(samples)) == 1 &&
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(8)) == 1 &&
        TIFFSetField(t, TIFFTAG_COMPRESSION,
                     compress ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE) == 1 &&
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, ycbcr ? PHOTOMETRIC_YCBCR : PHOTOMETRIC_RGB) == 1;
    // Every pixel carries its own Cb and Cr; the format's default would say 2 × 2.
    if (tags && ycbcr)
        tags = TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, uint16_t(1), uint16_t(1)) == 1;
    tags = tags && TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) == 1 &&
           TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(1)) == 1 &&
           TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
           TIFFSetField(t, TIFFTAG_XRESOLUTION, 72.0) == 1 &&
           TIFFSetField(t, TIFFTAG_YRESOLUTION, 72.0) == 1 &&
           TIFFSetField(t, TIFFTAG_SUBFILETYPE, uint32_t(0)) == 1 &&
           TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) == 1;
    if (tags && samples == 4) {
        const uint16_t extra[1] = {EXTRASAMPLE_ASSOCALPHA};
        tags = TIFFSetField(t, TIFFTAG_EXTRASAMPLES, uint16_t(1), extra) == 1;
    }
    if (!tags) return false;

    // A copy per row: codecs may work in the buffer they are given.
    std::vector<uint8_t> row;
    try {
        row.resize(static_cast<size_t>(rowBytes));
    } catch (const std::bad_alloc&) {
        return false;
    }
    const uint8_t* pixels = image.GetPixels();
    for (int r = 0; r < height; ++r) {
        std::memcpy(row.data(), pixels + int64_t(r) * rowBytes, row.size());
        if (TIFFWriteScanline(t, row.data(), uint32_t(r), 0) < 0) {
            TIFFErrorExtR(t, "WriteFile", "failure in WriteScanline\n");
            return false;
        }
    }
    return true;
}

// A TIFF file held in memory, for libtiff's client procedures.
struct MemoryTiff {
    std::vector<uint8_t>& bytes;
    uint64_t at = 0;
    bool failed = false;  // a write could not get memory
};

tmsize_t MemoryRead(thandle_t handle, void* data, tmsize_t size) {
    MemoryTiff& m = *static_cast<MemoryTiff*>(handle);
    if (size < 0 || m.at >= m.bytes.size()) return 0;
    const uint64_t n = std::min<uint64_t>(uint64_t(size), m.bytes.size() - m.at);
    std::memcpy(data, m.bytes.data() + m.at, size_t(n));
    m.at += n;
    return tmsize_t(n);
}

tmsize_t MemoryWrite(thandle_t handle, void* data, tmsize_t size) {
    MemoryTiff& m = *static_cast<MemoryTiff*>(handle);
    if (size < 0 || m.at + uint64_t(size) > uint64_t(2 * KImage::kMaxBytes)) return -1;
    // No exception may cross the library's C frames.
    try {
        if (m.at + uint64_t(size) > m.bytes.size()) m.bytes.resize(size_t(m.at) + size_t(size));
    } catch (const std::bad_alloc&) {
        m.failed = true;
        return -1;
    }
    std::memcpy(m.bytes.data() + m.at, data, size_t(size));
    m.at += uint64_t(size);
    return size;
}

toff_t MemorySeek(thandle_t handle, toff_t offset, int whence) {
    MemoryTiff& m = *static_cast<MemoryTiff*>(handle);
    const uint64_t base = whence == SEEK_CUR ? m.at : whence == SEEK_END ? m.bytes.size() : 0;
    m.at = base + offset;
    return m.at;
}

int MemoryClose(thandle_t) { return 0; }
toff_t MemorySize(thandle_t handle) { return static_cast<MemoryTiff*>(handle)->bytes.size(); }
int MemoryMap(thandle_t, void**, toff_t*) { return 0; }
void MemoryUnmap(thandle_t, void*, toff_t) {}
// A write that failed is closed without writing out what it holds: the library's state may be
// half made (a codec refused its memory), and flushing it would follow it.
void CloseFailed(TiffFile& tif) {
    if (tif) TIFFSetMode(tif.get(), O_RDONLY);
    tif.reset();
}

}  // namespace

bool ReadTiffImage(const char* path, KImage& image, bool removeAfter, int* readError) {
    if (readError) *readError = 0;
    if (!path) return false;
    KFileStream file;
    if (!file.Open(path, "rb")) {
        // A file the system does not open is not seen either.
        if (readError) *readError = KPlatformReadOpenError(path);
        return false;
    }
    if (file.Seek(2, 0) != 0) return false;
    StreamTiff stream{file, file.Tell()};
    if (stream.size < 0 || file.Seek(0, 0) != 0) return false;
    // The library's allocations go through malloc, which tells a refusal by errno alone.
    errno = 0;
    TiffFile tif(OpenQuietly([&](TIFFOpenOptions* options) {
        return TIFFClientOpenExt(path, "rm", &stream, StreamRead, StreamWrite, StreamSeek,
                                 StreamClose, StreamSize, StreamMap, StreamUnmap, options);
    }));
    const bool noMemory = !tif && errno == ENOMEM;
    const bool read = tif && ReadOpenTiff(tif, uint64_t(stream.size), image);
    // A read that failed: the file was not seen, whatever it holds (the library may go on past
    // a part it could not read).
    if (file.GetReadError()) {
        if (readError) *readError = file.GetReadError();
        return false;
    }
    if (noMemory) throw std::bad_alloc();
    if (!read) return false;
    tif.reset();
    if (removeAfter) KRemoveFile(path);
    return true;
}

bool WriteTiffImage(const char* path, bool compress, const KImage& image) {
    if (!path || !CanWriteTiff(image)) return false;
    TiffFile tif(OpenFile(path, "w"));
    if (tif && WriteTiffRows(tif.get(), compress, image) && TIFFFlush(tif.get()) == 1) return true;
    CloseFailed(tif);
    return false;
}

bool WriteTiffImageBytes(bool compress, const KImage& image, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (!CanWriteTiff(image)) return false;
    MemoryTiff memory{bytes};
    TiffFile tif(OpenQuietly([&memory](TIFFOpenOptions* options) {
        return TIFFClientOpenExt("memory", "w", &memory, MemoryRead, MemoryWrite, MemorySeek,
                                 MemoryClose, MemorySize, MemoryMap, MemoryUnmap, options);
    }));
    bool ok = tif && WriteTiffRows(tif.get(), compress, image) && TIFFFlush(tif.get()) == 1;
    if (ok)
        tif.reset();
    else
        CloseFailed(tif);
    if (ok && !memory.failed) return true;
    // Every call was checked: what fails for an image of this layout is memory.
    bytes.clear();
    throw std::bad_alloc();
}

bool IsCompressedTiffFile(const char* path) {
    if (!path || !HasTiffExtension(path)) return false;
    TiffFile tif(OpenFile(path, "r"));
    if (!tif) return false;
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_COMPRESSION, &compression);
    return compression != COMPRESSION_NONE;
}

bool ReplaceExtensionWithTif(KString& name) {
    const KString extension = KExtractFileExtension(name.Buffer());
    if (extension.IsEmpty() || HasTiffExtension(name.Buffer())) return false;
    KRemoveFile(name.Buffer());
    name = name.Left(name.GetLen() - extension.GetLen() - 1) + ".tif";
    return true;
}
