// One PDF image stream to a bitmap: the dictionary's keys, the stream data with every filter
// but the image codecs applied, the codecs, the colour space, Decode arrays and masks.
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDFExc.hh>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/codecs/JPEGMemoryCodec.h"
#include "engine/extraction/BitonalFilters.h"
#include "engine/extraction/ImageExtractor.h"
#include "engine/extraction/ImageSamples.h"
#include "engine/extraction/JPEG2000Decoder.h"
#include "engine/extraction/PDFColorSpaces.h"

using extraction::ResolvedSpace;
using extraction::SampleSpace;
using platform::Bitmap;
using platform::ColorModel;

namespace {

QPDFObjectHandle Key(QPDFObjectHandle dict, const char* full, const char* abbreviation) {
    if (dict.hasKey(full)) return dict.getKey(full);
    if (abbreviation && dict.hasKey(abbreviation)) return dict.getKey(abbreviation);
    return QPDFObjectHandle::newNull();
}

std::optional<std::int64_t> IntegerOf(QPDFObjectHandle value) {
    if (value.isInteger()) return value.getIntValue();
    if (value.isReal()) {
        const double v = value.getNumericValue();
        if (std::isfinite(v) && std::fabs(v) < 9e18) return static_cast<std::int64_t>(std::llround(v));
    }
    return std::nullopt;
}

std::vector<double> NumbersOf(QPDFObjectHandle array) {
    std::vector<double> numbers;
    if (!array.isArray()) return numbers;
    for (QPDFObjectHandle item : array.aitems())
        if (item.isNumber()) numbers.push_back(item.getNumericValue());
    return numbers;
}

// ---- Stream data --------------------------------------------------------------------------

enum class Format { Raw, JPEG, JPEG2000 };

std::string FilterName(const std::string& name) {
    if (name == "/AHx") return "/ASCIIHexDecode";
    if (name == "/A85") return "/ASCII85Decode";
    if (name == "/LZW") return "/LZWDecode";
    if (name == "/Fl") return "/FlateDecode";
    if (name == "/RL") return "/RunLengthDecode";
    if (name == "/CCF") return "/CCITTFaxDecode";
    if (name == "/DCT") return "/DCTDecode";
    return name;
}

// The filters the object library decodes.
bool IsLibraryFilter(const std::string& filter) {
    return filter == "/ASCIIHexDecode" || filter == "/ASCII85Decode" || filter == "/LZWDecode" ||
           filter == "/FlateDecode" || filter == "/RunLengthDecode" || filter == "/Crypt";
}

bool IsImageCodec(const std::string& filter) {
    return filter == "/DCTDecode" || filter == "/JPXDecode" || filter == "/CCITTFaxDecode" || filter == "/JBIG2Decode";
}

// Collects piped stream data up to a limit, then stops the pipe.
class LimitedSink : public Pipeline {
public:
    struct Full {};
    // `expected`: the size the data should have, reserved at once (no regrowing of large images).
    LimitedSink(std::size_t limit, std::size_t expected) : Pipeline("extracted image", nullptr), limit_(limit) {
        bytes.reserve(std::min(limit, expected));
    }
    void write(unsigned char const* data, size_t length) override {
        const std::size_t room = limit_ - bytes.size();
        bytes.append(reinterpret_cast<const char*>(data), std::min(room, length));
        if (length > room) {
            full = true;
            throw Full{};
        }
    }
    void finish() override {}
    std::string bytes;
    bool full = false;

private:
    std::size_t limit_;
};

// The stream's data decoded through filters the object library knows, at most `limit` bytes;
// nothing when it does not know one of them or fails before the limit is reached.
std::optional<std::string> LibraryDecoded(QPDFObjectHandle stream, std::size_t limit, std::size_t expected) {
    LimitedSink sink(limit, expected);
    bool attempted = false;
    bool ok = false;
    try {
        ok = stream.pipeStreamData(&sink, &attempted, 0, qpdf_dl_specialized, true, false);
    } catch (const LimitedSink::Full&) {
        return std::move(sink.bytes);
    }
    if (sink.full) return std::move(sink.bytes);
    const bool filtered = stream.getDict().hasKey("/Filter") && !stream.getDict().getKey("/Filter").isNull();
    if (filtered && !attempted) return std::nullopt;
    // Damaged data: what came before the damage, as viewers show it.
    if (!ok && sink.bytes.empty()) return std::nullopt;
    return std::move(sink.bytes);
}

struct StreamData {
    std::string bytes;
    Format format = Format::Raw;
};

FaxParameters FaxParametersOf(QPDFObjectHandle parms, std::int64_t height) {
    FaxParameters p;
    if (height > 0 && height < std::numeric_limits<int>::max()) p.rows = static_cast<int>(height);
    if (!parms.isDictionary()) return p;
    auto integer = [&](const char* key, int fallback) {
        const std::optional<std::int64_t> v = IntegerOf(parms.getKey(key));
        return v && *v >= std::numeric_limits<int>::min() && *v <= std::numeric_limits<int>::max() ? static_cast<int>(*v)
                                                                                                    : fallback;
    };
    auto boolean = [&](const char* key, bool fallback) {
        QPDFObjectHandle v = parms.getKey(key);
        return v.isBool() ? v.getBoolValue() : fallback;
    };
    p.k = integer("/K", 0);
    p.endOfLine = boolean("/EndOfLine", false);
    p.encodedByteAlign = boolean("/EncodedByteAlign", false);
    p.columns = integer("/Columns", 1728);
    p.rows = integer("/Rows", p.rows);
    p.endOfBlock = boolean("/EndOfBlock", true);
    p.blackIs1 = boolean("/BlackIs1", false);
    return p;
}

// The stream's data with every filter applied but a final DCT or JPX codec. The object library
// decodes no part of a chain it cannot finish, so a final codec is taken off a copy of the
// stream and the rest decoded; CCITT fax and JBIG2, which it does not decode, go through MuPDF.
// `rawLimit` bounds the data of raw samples.
std::optional<StreamData> ReadStreamData(QPDFObjectHandle stream, std::size_t rawLimit, std::int64_t height) {
    QPDFObjectHandle dict = stream.getDict();
    QPDFObjectHandle filterObject = dict.getKey("/Filter");
    QPDFObjectHandle parmsObject = dict.getKey("/DecodeParms");
    std::vector<std::string> filters;
    std::vector<QPDFObjectHandle> parms;
    if (filterObject.isName()) {
        filters.push_back(FilterName(filterObject.getName()));
        parms.push_back(parmsObject.isArray() ? parmsObject.getArrayItem(0) : parmsObject);
    } else if (filterObject.isArray()) {
        for (int i = 0; i < filterObject.getArrayNItems(); ++i) {
            QPDFObjectHandle f = filterObject.getArrayItem(i);
            if (!f.isName()) return std::nullopt;
            filters.push_back(FilterName(f.getName()));
            parms.push_back(parmsObject.isArray() ? parmsObject.getArrayItem(i) : QPDFObjectHandle::newNull());
        }
    } else if (!filterObject.isNull()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < filters.size(); ++i)
        if (!IsLibraryFilter(filters[i]) && !(i + 1 == filters.size() && IsImageCodec(filters[i]))) return std::nullopt;

    StreamData out;
    if (filters.empty() || !IsImageCodec(filters.back())) {
        std::optional<std::string> bytes = LibraryDecoded(stream, rawLimit, rawLimit);
        if (!bytes) return std::nullopt;
        out.bytes = std::move(*bytes);
        return out;
    }

    const std::string codec = filters.back();
    QPDFObjectHandle codecParms = parms.back();
    filters.pop_back();
    parms.pop_back();
    std::string encoded;
    std::shared_ptr<Buffer> raw = stream.getRawStreamData();
    if (filters.empty()) {
        encoded.assign(reinterpret_cast<const char*>(raw->getBuffer()), raw->getSize());
    } else {
        // The copy lives in a document of its own: a new stream in the source document would
        // make the library resolve every object of it.
        QPDFObjectHandle filterArray = QPDFObjectHandle::newArray();
        QPDFObjectHandle parmsArray = QPDFObjectHandle::newArray();
        for (std::size_t i = 0; i < filters.size(); ++i) {
            filterArray.appendItem(QPDFObjectHandle::newName(filters[i]));
            parmsArray.appendItem(QPDFObjectHandle::parse(parms[i].unparseResolved()));
        }
        QPDF scratch;
        scratch.emptyPDF();
        QPDFObjectHandle copy = QPDFObjectHandle::newStream(&scratch);
        copy.replaceStreamData(raw, filterArray, parmsArray);
        std::optional<std::string> bytes = LibraryDecoded(copy, platform::kMaxBitmapBytes, raw->getSize());
        if (!bytes) return std::nullopt;
        encoded = std::move(*bytes);
    }

    const auto* bytes = reinterpret_cast<const std::uint8_t*>(encoded.data());
    std::vector<std::uint8_t> decoded;
    if (codec == "/DCTDecode") {
        out.format = Format::JPEG;
        out.bytes = std::move(encoded);
    } else if (codec == "/JPXDecode") {
        out.format = Format::JPEG2000;
        out.bytes = std::move(encoded);
    } else if (codec == "/CCITTFaxDecode") {
        if (!DecodeCCITTFax(bytes, encoded.size(), FaxParametersOf(codecParms, height), rawLimit, decoded))
            return std::nullopt;
        out.bytes.assign(decoded.begin(), decoded.end());
    } else {
        std::string globals;
        if (codecParms.isDictionary() && codecParms.getKey("/JBIG2Globals").isStream()) {
            std::shared_ptr<Buffer> g = codecParms.getKey("/JBIG2Globals").getStreamData(qpdf_dl_generalized);
            globals.assign(reinterpret_cast<const char*>(g->getBuffer()), g->getSize());
        }
        if (!DecodeJBIG2(bytes, encoded.size(), reinterpret_cast<const std::uint8_t*>(globals.data()), globals.size(),
                         rawLimit, decoded))
            return std::nullopt;
        out.bytes.assign(decoded.begin(), decoded.end());
    }
    return out;
}

// Whether JPEG data carries an Adobe marker (APP14 "Adobe") before its first scan.
bool HasAdobeMarker(const std::uint8_t* data, std::size_t size) {
    std::size_t i = 2;
    while (i + 4 <= size && data[i] == 0xFF) {
        const std::uint8_t marker = data[i + 1];
        if (marker == 0xDA) break;
        const std::size_t length = (static_cast<std::size_t>(data[i + 2]) << 8) | data[i + 3];
        if (marker == 0xEE && length >= 7 && i + 9 <= size && std::memcmp(data + i + 4, "Adobe", 5) == 0) return true;
        i += 2 + length;
    }
    return false;
}

// A bitmap over packed 8-bit samples of `model`, which it keeps.
Bitmap BitmapOver(extraction::SampleBytes samples, int width, int height, ColorModel model) {
    Bitmap b;
    b.width = width;
    b.height = height;
    b.model = model;
    b.components = platform::ComponentsOf(model);
    b.stride = static_cast<std::ptrdiff_t>(width) * b.components;
    b.data = samples.data();
    b.owner = std::move(samples.memory);
    return b;
}

struct Malloced {
    std::uint8_t* p = nullptr;
    ~Malloced() { std::free(p); }
};

}  // namespace

bool TypeKeepsMasks(std::int32_t imageType) {
    return imageType == kOutputGIF || imageType == kOutputJPEG2000 || imageType == kOutputPNG ||
           imageType == kOutputTIFF;
}

Bitmap ImageExtractor::CreateImageFromStream(QPDFObjectHandle stream, QPDFObjectHandle pageColorSpaces,
                                             bool withMasks) const {
    try {
        if (!stream.isStream()) return {};
        QPDFObjectHandle dict = stream.getDict();
        const std::optional<std::int64_t> width = IntegerOf(Key(dict, "/Width", "/W"));
        const std::optional<std::int64_t> height = IntegerOf(Key(dict, "/Height", "/H"));
        if (!width || !height || *width < 1 || *height < 1 || *width > 0x7FFFFFFF || *height > 0x7FFFFFFF) return {};
        QPDFObjectHandle bpcObject = Key(dict, "/BitsPerComponent", "/BPC");
        std::int64_t bits = 8;
        if (!bpcObject.isNull()) {
            const std::optional<std::int64_t> v = IntegerOf(bpcObject);
            if (!v) return {};
            bits = *v;
        }

        // The colour space, before the data: raw samples need its component count for their size.
        QPDFObjectHandle csObject = Key(dict, "/ColorSpace", "/CS");
        std::optional<ResolvedSpace> space;
        QPDFObjectHandle spaceArray;  // the array the space was made from
        std::uint64_t colourCount = 0;
        const bool hasSpaceEntry = !csObject.isNull();
        if (hasSpaceEntry) {
            // A name is a device space or the page's resource of that name (itself a name or an array).
            QPDFObjectHandle object = csObject;
            for (int hops = 0; object.isName() && !space && hops < 8; ++hops) {
                if (std::optional<SampleSpace> device =
                        extraction::CreateDeviceColorSpaceAndCount(object.getName(), &colourCount))
                    space = ResolvedSpace{*device, extraction::kFamilyNone};
                else if (pageColorSpaces.isDictionary() && pageColorSpaces.hasKey(object.getName()))
                    object = pageColorSpaces.getKey(object.getName());
                else
                    break;
            }
            std::int32_t family = extraction::kFamilyNone;
            if (!space && object.isArray())
                if (std::optional<SampleSpace> made =
                        extraction::CreateColorSpaceFromArray(pageColorSpaces, object, &family, &colourCount)) {
                    space = ResolvedSpace{std::move(*made), family};
                    spaceArray = object;
                }
        }
        if (hasSpaceEntry && !space) space = extraction::CreatePatternImageSpace(csObject, pageColorSpaces);

        // Raw samples are read up to the size the dictionary gives them.
        std::size_t rawLimit = platform::kMaxBitmapBytes;
        const int ownComponents = space ? space->space.components() : 1;
        if (const std::optional<std::size_t> row = extraction::SampleRowBytes(*width, ownComponents, bits)) {
            if (*row > platform::kMaxBitmapBytes / static_cast<std::uint64_t>(*height)) return {};
            rawLimit = *row * static_cast<std::size_t>(*height);
        }
        std::optional<StreamData> data = ReadStreamData(stream, rawLimit, *height);
        if (!data) return {};

        if (!space && (!hasSpaceEntry || (csObject.isName() && bits == 1)) && data->format != Format::JPEG2000)
            space = ResolvedSpace{SampleSpace::Device(ColorModel::Monochrome), 0};
        if (!space && data->format != Format::JPEG2000) return {};

        int w = static_cast<int>(*width), h = static_cast<int>(*height);
        std::vector<double> decode = NumbersOf(dict.getKey("/Decode"));
        const std::uint8_t* samples = reinterpret_cast<const std::uint8_t*>(data->bytes.data());
        std::size_t sampleSize = data->bytes.size();
        std::optional<std::vector<std::uint8_t>> ownOpacity;
        Malloced jpegSamples;
        JPEG2000Image jpx;

        if (data->format == Format::JPEG) {
            std::int32_t colorCode = 0;
            std::uint32_t jw = 0, jh = 0;
            if (DecodeJPEGData(samples, sampleSize, &colorCode, &jpegSamples.p, &sampleSize, &jw, &jh, nullptr,
                               nullptr) != 0)
                return {};
            // The JPEG's own size and components hold where the dictionary says otherwise.
            const int components = colorCode == 2 ? 3 : colorCode == 4 ? 4 : 1;
            if (jw > 0x7FFFFFFF || jh > 0x7FFFFFFF) return {};
            w = static_cast<int>(jw);
            h = static_cast<int>(jh);
            if (space->space.components() != components) {
                space = ResolvedSpace{SampleSpace::Device(components == 4   ? ColorModel::CMYK
                                                  : components == 3 ? ColorModel::RGB
                                                                    : ColorModel::Monochrome),
                                      0};
                decode.clear();
            }
            // The codec reads an Adobe CMYK file's inverted samples back as ink; PDF readers take
            // a DCT stream's samples as they are stored and leave the inversion to /Decode.
            if (components == 4 && HasAdobeMarker(samples, data->bytes.size()))
                for (std::size_t i = 0; i < sampleSize; ++i) jpegSamples.p[i] = static_cast<std::uint8_t>(255 - jpegSamples.p[i]);
            samples = jpegSamples.p;
            bits = 8;
        } else if (data->format == Format::JPEG2000) {
            std::int32_t family = space ? space->family : 0;
            if (DecodeJPEG2000Data(samples, sampleSize, jpx, family) != 0) return {};
            const int colours = jpx.colorComponents;
            if (!space && !jpx.iccProfile.empty())
                if (std::optional<SampleSpace> icc = extraction::CreateColorSpaceWithICCData(jpx.iccProfile))
                    space = ResolvedSpace{std::move(*icc), extraction::kFamilyICCBased};
            if (!space || space->space.components() != colours) {
                // The device space of the family the decoder reports, when it has the decoded
                // components; else that of the components.
                std::optional<SampleSpace> device = extraction::CreateDeviceColorSpaceForCode(family);
                if (!device || device->components() != colours)
                    device = SampleSpace::Device(colours == 4   ? ColorModel::CMYK
                                                 : colours == 3 ? ColorModel::RGB
                                                                : ColorModel::Monochrome);
                space = ResolvedSpace{std::move(*device), extraction::kFamilyNone};
                decode.clear();
            }
            w = jpx.width;
            h = jpx.height;
            bits = 8;
            if (jpx.hasAlpha) {
                // Colours and opacity apart.
                const std::size_t pixels = static_cast<std::size_t>(w) * h;
                const int m = jpx.samplesPerPixel();
                std::vector<std::uint8_t> colour(pixels * colours);
                ownOpacity.emplace(pixels);
                for (std::size_t i = 0; i < pixels; ++i) {
                    for (int c = 0; c < colours; ++c) colour[i * colours + c] = jpx.samples[i * m + c];
                    (*ownOpacity)[i] = jpx.samples[i * m + colours];
                }
                jpx.samples = std::move(colour);
            }
            samples = jpx.samples.data();
            sampleSize = jpx.samples.size();
        }

        Bitmap image;
        const bool tintSpace =
            space->family == extraction::kFamilySeparation || space->family == extraction::kFamilyDeviceN;
        if (tintSpace && spaceArray.isArray()) {
            // Tints go to the alternate's colours through the tint transform, which applies the
            // Decode pairs; 8-bit samples are the tint bytes as they stand.
            const std::size_t tintBytes =
                static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * static_cast<std::size_t>(space->space.components());
            std::optional<std::vector<std::uint8_t>> codes;
            std::span<const std::uint8_t> tints(samples, tintBytes);
            if (bits != 8 || sampleSize < tintBytes) {
                codes = extraction::SampleCodes(samples, sampleSize, w, h, static_cast<int>(bits), space->space.components());
                if (!codes) return {};
                tints = *codes;
            }
            std::optional<extraction::SampleBytes> colours =
                space->family == extraction::kFamilySeparation
                    ? extraction::ConvertSeparationSamples(spaceArray, tints, pageColorSpaces, decode)
                    : extraction::ConvertDeviceNSamples(spaceArray, tints, pageColorSpaces, decode);
            if (!colours || colours->size != static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * colourCount)
                return {};
            image = BitmapOver(std::move(*colours), w, h, space->space.model);
        } else {
            image = extraction::ConvertSamples(samples, sampleSize, w, h, static_cast<int>(bits), space->space, decode);
        }
        if (!image) return {};
        if (!withMasks || !TypeKeepsMasks(imageType)) return image;

        // Masks: a soft mask before a /Mask entry; a mask's own masks are never followed.
        std::optional<std::vector<std::uint8_t>> opacity;
        QPDFObjectHandle smask = dict.getKey("/SMask");
        QPDFObjectHandle mask = dict.getKey("/Mask");
        if (smask.isStream()) {
            const Bitmap m = CreateImageFromStream(smask, pageColorSpaces, false);
            if (m) opacity = extraction::MaskOpacity(m, w, h, false);
        } else if (mask.isArray()) {
            opacity = extraction::ColorKeyOpacity(samples, sampleSize, w, h, static_cast<int>(bits),
                                                  space->space.components(), NumbersOf(mask));
        } else if (mask.isStream()) {
            const Bitmap m = CreateImageFromStream(mask, pageColorSpaces, false);
            if (m) opacity = extraction::MaskOpacity(m, w, h, true);
        } else if (ownOpacity) {
            opacity = std::move(ownOpacity);
        }
        if (!opacity) return image;
        Bitmap masked = extraction::AttachOpacity(image, *opacity);
        return masked ? masked : image;
    } catch (const std::exception&) {
        return {};
    }
}
