#pragma once

#include <cstdint>
#include <span>

#include "engine/ImageConversion.h"

// The facts of each output type, one row per code: everything that differs from one type to the
// next is a column here, read by the writer, the settings rules and the menus. Adding a type is
// one row (and its encoder and registry line in platform/imageio/encoders/). The file extension
// is not here: it is the "ImageExtension" resource's (ImageFileExtensionForType).

// The bitmap file types of the image-file path, numbered as the original platform's.
enum class BitmapFileType : int { TIFF = 0, BMP = 1, GIF = 2, JPEG = 3, PNG = 4, JPEG2000 = 5 };

// The colour models a type offers in the colour menu.
struct OutputColorModels {
    bool rgb = false;
    bool cmyk = false;
    bool gray = false;
    friend bool operator==(const OutputColorModels&, const OutputColorModels&) = default;
};

struct OutputTypeFacts {
    std::int32_t code = 0;
    // The title in the output type menus and the place there (from 1); nullptr and 0 for a type
    // the application never produces.
    const char* menuTitle = nullptr;
    int menuPosition = 0;
    // The uniform type identifier the system image writer encodes it under; nullptr for a type
    // that has none, which the image-file path writes through an encoder of its own (the writer
    // takes such a code as an unknown one).
    const char* typeIdentifier = nullptr;
    OutputColorModels colorModels{true, false, false};
    bool resolutionEditable = false;       // the resolution box is usable
    bool recordCarriesResolution = false;  // the record takes the box's resolution; else 72
    bool lossy = false;                    // takes the compression quality
    bool alpha = false;                    // the output is flagged as having alpha
    int tiffCompression = 0;               // TIFF compression asked of the writer (5 LZW); 0 none
    bool keepsMetadata = false;            // the image-file path copies the source's metadata
    bool bitmapRepWrites = false;          // a bitmap image representation writes it
    BitmapFileType bitmapFileType = BitmapFileType::JPEG;  // as which
};

// Every row, in code order from 1.
std::span<const OutputTypeFacts> OutputTypeTable();

// The row of a code; nullptr when it has none.
const OutputTypeFacts* FindOutputType(std::int32_t code);

// The row the system image writer encodes a code by: its own when it has a type identifier,
// otherwise that of an unknown code, which is written as JPEG ("public.jpeg", nothing else set).
const OutputTypeFacts& WriterFactsForOutputType(std::int32_t code);

// The row of a type the menus offer; nullptr for every other code.
const OutputTypeFacts* MenuOutputType(std::int64_t code);

// The uniform type identifier an output type is encoded under.
const char* TypeIdentifierForOutputType(std::int32_t imageType);

// Output types into which the image-file path copies the source's metadata.
bool TypeKeepsMetadata(std::int32_t imageType);
BitmapFileType BitmapFileTypeForImageType(std::int32_t imageType);
// Output types a bitmap image representation writes.
bool TypeSupportedByBitmapRep(std::int32_t imageType);
