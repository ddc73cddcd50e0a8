#pragma once
// The bridge between KImage and TIFF files. Read: 8-bit, contiguous, stripped RGB (3 or 4
// samples) and YCbCr (3 samples, horizontal subsampling 1 or 2, vertical 1); YCbCr samples are
// kept as they are, one (luma, Cb, Cr) triple per pixel. Write: RGB of 3 or 4 samples (the
// fourth an associated alpha) or YCbCr of 3, one row a strip, optionally Deflate-compressed.

#include <cstdint>
#include <vector>

#include "foundation/KString.h"

class KImage;

// Fills the image from the TIFF file; with `removeAfter` the file is deleted once read. False
// for a file that cannot be opened, has another layout, or whose data cannot be read; throws
// std::bad_alloc when memory runs out. When the system failed to open or read the file, its
// error number goes to `readError` (else 0): such a file was not seen, whatever it holds.
bool ReadTiffImage(const char* path, KImage& image, bool removeAfter, int* readError = nullptr);
// True when every row was written. An image of another layout is refused before any file is
// made.
bool WriteTiffImage(const char* path, bool compress, const KImage& image);
// The same file's bytes, made in memory (the caller writes them where it will); false, with
// `bytes` empty, for another layout. Throws std::bad_alloc when the encoding fails (memory).
bool WriteTiffImageBytes(bool compress, const KImage& image, std::vector<uint8_t>& bytes);
// A ".tif" or ".tiff" file (any case) that opens as TIFF and is compressed.
bool IsCompressedTiffFile(const char* path);
// For a name whose extension is not TIF or TIFF: removes that file and gives the name the
// extension ".tif"; true then. A name without an extension (a dot in a folder name does not
// count) and a TIFF name are left alone, and their files kept.
bool ReplaceExtensionWithTif(KString& name);
