#include <gtest/gtest.h>

#include <tiffio.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "attributes/images/KImage.h"
#include "attributes/images/KImageConverterRegistry.h"
#include "attributes/images/KTiffImage.h"
#include "common/RefusingHeap.h"
#include "common/TempTestFolder.h"

namespace {

bool Exists(const std::string& path) {
    return std::ifstream(path).good();
}

void Touch(const std::string& path) {
    std::ofstream(path) << "x";
}

// tiffinfo's description of a file; the test fails when the tool is missing, since the
// install script provides it.
std::string TiffInfo(const std::string& path) {
    if (system("command -v tiffinfo >/dev/null 2>&1") != 0) {
        ADD_FAILURE() << "tiffinfo not found: scripts/install-deps.sh installs libtiff-tools";
        return "";
    }
    std::string text;
    FILE* pipe = popen(("tiffinfo '" + path + "' 2>&1").c_str(), "r");
    if (!pipe) return text;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe)) text += buffer;
    pclose(pipe);
    return text;
}

void SetLayout(TIFF* tif, uint32_t width, uint32_t height, uint16_t photometric, uint16_t samples,
               uint16_t bits = 8) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
}

// Writes strips through libtiff directly, so the reader meets files it did not write. A
// horizontal subsampling of 0 sets none.
bool WriteRawTiff(const std::string& path, uint32_t width, uint32_t height, uint16_t photometric,
                  uint16_t hSubsampling, const std::vector<uint8_t>& data, uint32_t rowsPerStrip,
                  int64_t stripBytes) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif) return false;
    SetLayout(tif, width, height, photometric, 3);
    if (hSubsampling) TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, hSubsampling, uint16_t(1));
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    bool ok = true;
    for (int64_t offset = 0, strip = 0; offset < int64_t(data.size());
         offset += stripBytes, ++strip) {
        const int64_t n = std::min<int64_t>(stripBytes, int64_t(data.size()) - offset);
        ok &= TIFFWriteEncodedStrip(tif, uint32_t(strip),
                                    const_cast<uint8_t*>(data.data()) + offset, tmsize_t(n)) == n;
    }
    TIFFClose(tif);
    return ok;
}

struct InitCase {
    int width, height;
    bool allocate;
    int type, bytesPerPixel;
    bool valid;
    size_t bytes;
};

TEST(KImage, InitChecksAndBoundsTheBuffer) {
    KImage fresh;
    EXPECT_EQ(fresh.GetWidth(), 0);
    EXPECT_EQ(fresh.GetBytesPerPixel(), 3);
    EXPECT_TRUE(fresh.GetKeepOriginal());
    EXPECT_FALSE(fresh.IsValid());
    EXPECT_STREQ(fresh.GetFileName().Buffer(), "");

    const InitCase cases[] = {
        {4, 3, true, 0, 3, true, 36},
        {2, 2, true, 1, 4, true, 16},
        {4, 3, false, 9, 0, true, 0},  // a layout only
        {0, 3, true, 0, 3, false, 0},
        {4, -1, true, 0, 3, false, 0},
        {4, 3, true, 2, 3, false, 0},
        {4, 3, true, 0, 0, false, 0},
        {4, 3, true, 0, 128, false, 0},
        {65536, 65536, true, 0, 3, false, 0},  // 12 GiB
        {INT32_MAX, INT32_MAX, true, 0, 127, false,
         0},  // overflows 64 bits when multiplied naively
    };
    for (const InitCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        KImage image;
        image.Init(1, 1, true, 0, 3);
        EXPECT_EQ(image.Init(c.width, c.height, c.allocate, c.type, c.bytesPerPixel), c.valid);
        EXPECT_EQ(image.IsValid(), c.valid);
        EXPECT_EQ(image.GetPixelBytes(), c.bytes);
        EXPECT_EQ(image.OwnsPixels(), c.bytes > 0);
        EXPECT_EQ(image.GetWidth(), c.width);
        for (size_t k = 0; k < c.bytes; ++k) EXPECT_EQ(image.GetPixels()[k], 0);
    }
}

int gCalls = 0;
std::string gLastPath;
int ConvertOk(int mode, const char* path, KImage&) {
    gCalls += 1 + mode * 10;
    gLastPath = path;
    return 0;
}
int ConvertOther(int, const char*, KImage&) {
    return 0;
}
int ConvertFails(int, const char*, KImage&) {
    return 3;
}

TEST(KImageConverterRegistry, FirstRegistrationOfAnExtensionStays) {
    int token = 0;
    auto* manager = reinterpret_cast<KQovObjectManager*>(&token);
    KImageConverterRegistry registry(manager);
    EXPECT_EQ(registry.GetObjectManager(), manager);
    EXPECT_TRUE(registry.Register("png", ConvertOk));
    EXPECT_FALSE(registry.Register("PNG", ConvertOther));
    EXPECT_TRUE(registry.Register("bmp", ConvertFails));
    EXPECT_FALSE(registry.Register("jpg", nullptr));
    EXPECT_FALSE(registry.Register("", ConvertOk));

    KImage image;
    gCalls = 0;
    EXPECT_TRUE(registry.Convert(1, "maps/wood.Png", image));
    EXPECT_EQ(gCalls, 11);
    EXPECT_EQ(gLastPath, "maps/wood.Png");
    EXPECT_FALSE(registry.Convert(0, "maps/wood.bmp", image));  // the function fails
    EXPECT_FALSE(registry.Convert(0, "maps/wood.jpg", image));
    EXPECT_FALSE(registry.Convert(0, "maps.png/wood", image));  // no extension at all
    EXPECT_FALSE(registry.Convert(0, nullptr, image));
    EXPECT_EQ(gCalls, 11);
}

struct RoundTripCase {
    const char* name;
    int type, bytesPerPixel;
    bool compress;
    std::vector<const char*> info;  // lines tiffinfo must show
};

TEST(TiffImage, RoundTripsArePixelIdenticalAndReadByTiffinfo) {
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    const RoundTripCase cases[] = {
        {"rgb", 0, 3, false, {"Compression Scheme: None", "Samples/Pixel: 3", "RGB color"}},
        {"rgb deflate", 0, 3, true, {"Compression Scheme: AdobeDeflate", "Samples/Pixel: 3"}},
        {"rgba", 0, 4, false, {"Samples/Pixel: 4", "Extra Samples: 1<assoc-alpha>"}},
        {"rgba deflate", 0, 4, true, {"AdobeDeflate", "Extra Samples: 1<assoc-alpha>"}},
        {"ycbcr", 1, 3, true, {"YCbCr", "YCbCr Subsampling: 1, 1"}},
    };
    for (const RoundTripCase& c : cases) {
        SCOPED_TRACE(c.name);
        KImage image;
        ASSERT_TRUE(image.Init(7, 5, true, c.type, c.bytesPerPixel));
        for (size_t k = 0; k < image.GetPixelBytes(); ++k)
            image.GetPixels()[k] = uint8_t(k * 37 + 11);
        const std::string path = folder / (std::string(c.name) + ".tif");
        ASSERT_TRUE(WriteTiffImage(path.c_str(), c.compress, image));
        EXPECT_EQ(IsCompressedTiffFile(path.c_str()), c.compress);
        // Made in memory: the same bytes as the file.
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(WriteTiffImageBytes(c.compress, image, bytes));
        std::ifstream written(path, std::ios::binary);
        EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(written), {}), bytes);

        const std::string info = TiffInfo(path);
        EXPECT_NE(info.find("Image Width: 7 Image Length: 5"), std::string::npos) << info;
        EXPECT_NE(info.find("Bits/Sample: 8"), std::string::npos) << info;
        for (const char* line : c.info)
            EXPECT_NE(info.find(line), std::string::npos) << line << "\n" << info;

        KImage back;
        ASSERT_TRUE(ReadTiffImage(path.c_str(), back, false));
        EXPECT_EQ(back.GetType(), c.type);
        EXPECT_EQ(back.GetBytesPerPixel(), c.bytesPerPixel);
        ASSERT_EQ(back.GetPixelBytes(), image.GetPixelBytes());
        EXPECT_EQ(0, memcmp(back.GetPixels(), image.GetPixels(), image.GetPixelBytes()));
        EXPECT_TRUE(Exists(path));
    }
}

TEST(TiffImage, SubsampledYCbCrKeepsEachPixelsLumaAndItsBlocksChroma) {
    TempTestFolder folder;
    for (uint32_t width : {4u, 5u}) {
        SCOPED_TRACE(width);
        const uint32_t height = 5, blocks = (width + 1) / 2, rowsPerStrip = 2;
        // Row r, block b: Y0 Y1 Cb Cr = 10r+2b, 10r+2b+1, 100+10r+b, 200+10r+b.
        std::vector<uint8_t> data;
        for (uint32_t r = 0; r < height; ++r)
            for (uint32_t b = 0; b < blocks; ++b)
                for (int v : {10 * int(r) + 2 * int(b), 10 * int(r) + 2 * int(b) + 1,
                              100 + 10 * int(r) + int(b), 200 + 10 * int(r) + int(b)})
                    data.push_back(uint8_t(v));
        const std::string path = folder / ("422_" + std::to_string(width) + ".tif");
        ASSERT_TRUE(WriteRawTiff(path, width, height, PHOTOMETRIC_YCBCR, 2, data, rowsPerStrip,
                                 rowsPerStrip * blocks * 4));

        KImage image;
        ASSERT_TRUE(ReadTiffImage(path.c_str(), image, false));
        EXPECT_EQ(image.GetType(), KImage::eYCbCr);
        EXPECT_EQ(image.GetBytesPerPixel(), 3);
        ASSERT_EQ(image.GetPixelBytes(), size_t(width * height * 3));
        for (uint32_t r = 0; r < height; ++r)
            for (uint32_t x = 0; x < width; ++x) {
                const uint8_t* p = image.GetPixels() + (r * width + x) * 3;
                EXPECT_EQ(p[0], 10 * r + x) << r << "," << x;
                EXPECT_EQ(p[1], 100 + 10 * r + x / 2);
                EXPECT_EQ(p[2], 200 + 10 * r + x / 2);
            }
    }
}

TEST(TiffImage, OtherLayoutsAreRefused) {
    TempTestFolder folder;
    struct Case {
        const char* name;
        uint16_t photometric, samples, bits, planar, hSubsampling, vSubsampling;
        bool tiled;
    };
    const Case cases[] = {
        {"white is zero", PHOTOMETRIC_MINISWHITE, 1, 8, PLANARCONFIG_CONTIG, 0, 0, false},
        {"black is zero", PHOTOMETRIC_MINISBLACK, 1, 8, PLANARCONFIG_CONTIG, 0, 0, false},
        {"palette", PHOTOMETRIC_PALETTE, 1, 8, PLANARCONFIG_CONTIG, 0, 0, false},
        {"16-bit rgb", PHOTOMETRIC_RGB, 3, 16, PLANARCONFIG_CONTIG, 0, 0, false},
        {"two-sample rgb", PHOTOMETRIC_RGB, 2, 8, PLANARCONFIG_CONTIG, 0, 0, false},
        {"planar rgb", PHOTOMETRIC_RGB, 3, 8, PLANARCONFIG_SEPARATE, 0, 0, false},
        {"tiled rgb", PHOTOMETRIC_RGB, 3, 8, PLANARCONFIG_CONTIG, 0, 0, true},
        {"ycbcr 4:2:0", PHOTOMETRIC_YCBCR, 3, 8, PLANARCONFIG_CONTIG, 2, 2, false},
        {"ycbcr 4:1:1", PHOTOMETRIC_YCBCR, 3, 8, PLANARCONFIG_CONTIG, 4, 1, false},
    };
    static uint16_t colourMap[256] = {};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder / (std::string(c.name) + ".tif");
        TIFF* tif = TIFFOpen(path.c_str(), "w");
        ASSERT_NE(tif, nullptr);
        SetLayout(tif, 16, 16, c.photometric, c.samples, c.bits);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, c.planar);
        if (c.photometric == PHOTOMETRIC_PALETTE)
            TIFFSetField(tif, TIFFTAG_COLORMAP, colourMap, colourMap, colourMap);
        if (c.hSubsampling)
            TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, c.hSubsampling, c.vSubsampling);
        std::vector<uint8_t> data(16 * 16 * 3 * 2, 1);
        if (c.tiled) {
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16u);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, 16u);
            TIFFWriteEncodedTile(tif, 0, data.data(), TIFFTileSize(tif));
        } else {
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16u);
            TIFFWriteEncodedStrip(tif, 0, data.data(), TIFFStripSize(tif));
        }
        TIFFClose(tif);
        tif = TIFFOpen(path.c_str(), "r");  // a sound file, refused for its layout only
        ASSERT_NE(tif, nullptr);
        TIFFClose(tif);
        KImage image;
        EXPECT_FALSE(ReadTiffImage(path.c_str(), image, true));
        EXPECT_TRUE(Exists(path));  // kept: nothing was read
    }
}

TEST(TiffImage, BrokenFilesAreRefusedAndReadFilesRemovedOnRequest) {
    TempTestFolder folder;
    KImage image;
    ASSERT_TRUE(image.Init(6, 4, true, KImage::eRGB, 3));
    const std::string good = folder / "good.tif";
    ASSERT_TRUE(WriteTiffImage(good.c_str(), false, image));

    // Cut short: the second strip holds 10 of its 36 bytes.
    const std::string cut = folder / "cut.tif";
    ASSERT_TRUE(WriteRawTiff(cut, 6, 4, PHOTOMETRIC_RGB, 0, std::vector<uint8_t>(46, 9), 2, 36));
    const std::string text = folder / "text.tif";
    std::ofstream(text) << "not an image";
    // The results tell it: the TIFF library's own messages are not printed.
    testing::internal::CaptureStderr();
    for (const std::string& path : {cut, text, folder / "missing.tif"}) {
        KImage back;
        EXPECT_FALSE(ReadTiffImage(path.c_str(), back, true)) << path;
    }
    EXPECT_TRUE(Exists(cut));
    EXPECT_FALSE(IsCompressedTiffFile(text.c_str()));
    // A read the system fails (the process's own memory at address 0 gives EIO) is told as
    // such, unlike a file that is no image.
    int readError = -1;
    KImage unread;
    EXPECT_FALSE(ReadTiffImage(cut.c_str(), unread, false, &readError));
    EXPECT_EQ(readError, 0);
    if (Exists("/proc/self/mem")) {
        EXPECT_FALSE(ReadTiffImage("/proc/self/mem", unread, true, &readError));
        EXPECT_EQ(readError, EIO);
    }
    // So is a file the system does not open.
    for (const auto& [path, error] :
         {std::pair<std::string, int>{folder / "missing.tif", ENOENT}, {folder.path(), EISDIR}}) {
        EXPECT_FALSE(ReadTiffImage(path.c_str(), unread, false, &readError)) << path;
        EXPECT_EQ(readError, error) << path;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    KImage back;
    // Memory refused for the pixels is no broken file: it throws, the file kept.
    {
        LeaksNotChecked leaks;
        bool threw = false;
        gRefuseAll = true;
        try {
            ReadTiffImage(good.c_str(), back, true);
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        gRefuseAll = false;
        EXPECT_TRUE(threw);
    }
    EXPECT_TRUE(Exists(good));
    // Only the parts the image needs are read: 3 GB of zeros after it (a sparse file) are
    // neither read nor held, nor make it too large to be a TIFF file.
    const std::string padded = folder / "padded.tif";
    ASSERT_TRUE(WriteTiffImage(padded.c_str(), true, image));
    std::error_code ec;
    std::filesystem::resize_file(padded, (uint64_t(3) << 30) + 1, ec);
    if (!ec) {
        EXPECT_TRUE(ReadTiffImage(padded.c_str(), back, true));
        EXPECT_EQ(back.GetWidth(), 6);
        EXPECT_FALSE(Exists(padded));
    }
    EXPECT_TRUE(ReadTiffImage(good.c_str(), back, true));
    EXPECT_FALSE(Exists(good));
}

TEST(TiffImage, UnwritableLayoutsMakeNoFile) {
    TempTestFolder folder;
    struct Case {
        const char* name;
        int type, bytesPerPixel;
        bool allocate;
    };
    const Case cases[] = {
        {"two samples", 0, 2, true},
        {"ycbcr with alpha", 1, 4, true},
        {"no pixels", 0, 3, false},
    };
    for (const Case& c : cases) {
        KImage image;
        image.Init(3, 3, c.allocate, c.type, c.bytesPerPixel);
        const std::string path = folder / (std::string(c.name) + ".tif");
        EXPECT_FALSE(WriteTiffImage(path.c_str(), true, image)) << c.name;
        EXPECT_FALSE(Exists(path)) << c.name;
        std::vector<uint8_t> bytes{1};
        EXPECT_FALSE(WriteTiffImageBytes(true, image, bytes)) << c.name;
        EXPECT_TRUE(bytes.empty()) << c.name;
    }
    KImage image;
    image.Init(3, 3, true, 0, 3);
    EXPECT_FALSE(WriteTiffImage((folder / "no/such/folder.tif").c_str(), false, image));
}

TEST(TiffImage, ReplaceExtensionWithTif) {
    TempTestFolder folder;
    ASSERT_EQ(system(("mkdir '" + (folder / "maps.d") + "'").c_str()), 0);
    struct Case {
        std::string name, expected;
        bool removed;
    };
    const Case cases[] = {
        {folder / "wood.png", folder / "wood.tif", true},
        {folder / "wood.TIFF", folder / "wood.TIFF", false},
        {folder / "wood.Tif", folder / "wood.Tif", false},
        {folder / "maps.d/wood", folder / "maps.d/wood", false},  // the dot is the folder's
        {folder / "plain", folder / "plain", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Touch(c.name);
        KString name(c.name.c_str());
        EXPECT_EQ(ReplaceExtensionWithTif(name), c.removed);
        EXPECT_EQ(std::string(name.Buffer()), c.expected);
        EXPECT_EQ(Exists(c.name), !c.removed);
    }
}

}  // namespace
