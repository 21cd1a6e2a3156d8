// FlashPix image: a structured-storage (OLE2 compound) file, written with libgsf, holding one
// image object with its full resolution pyramid (each level half the one above, down to one
// 64 × 64 tile), uncompressed 64 × 64 tiles, edge tiles padded by repeating the last pixel.
// Colour is NIF RGB or monochrome, with premultiplied opacity when the page has alpha.
// Format: "FlashPix Format Specification", version 1.0.1 (Digital Imaging Group, 1997):
// storages "Data Object Store 000001" / "Resolution nnnn" (0000 the smallest), streams
// "\005Image Contents", "Subimage 0000 Header", "Subimage 0000 Data".
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/ArchiveFiles.h"
#include "platform/imageio/ByteWriter.h"
#include "platform/imageio/RowEncoder.h"
#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/RasterPrep.h"

namespace platform::encoders {
namespace {

using bytes::PutLE16;
using bytes::PutLE32;

constexpr int kTile = 64;

// Class identifiers in their stored byte order (first three fields little-endian).
struct Clsid {
    std::uint8_t bytes[16];
};
constexpr Clsid FlashPixClass(std::uint32_t first) {
    return Clsid{{static_cast<std::uint8_t>(first), static_cast<std::uint8_t>(first >> 8),
                  static_cast<std::uint8_t>(first >> 16), static_cast<std::uint8_t>(first >> 24), 0x54, 0xC1, 0xCE,
                  0x11, 0x85, 0x53, 0x00, 0xAA, 0x00, 0xA1, 0xF9, 0x5B}};
}
constexpr Clsid kImageView = FlashPixClass(0x56616700);
constexpr Clsid kImageObject = FlashPixClass(0x56616000);
constexpr Clsid kResolution = FlashPixClass(0x56616100);
constexpr Clsid kImageContents = FlashPixClass(0x56616400);
constexpr Clsid kSubimageHeader = FlashPixClass(0x00010000);
constexpr Clsid kSubimageData = FlashPixClass(0x00010100);

void PutClsid(std::vector<std::uint8_t>& o, const Clsid& id) { o.insert(o.end(), id.bytes, id.bytes + 16); }

// Property values of an OLE property set (type, value, padded to four bytes).
enum : std::uint32_t { kVtI2 = 2, kVtI4 = 3, kVtR4 = 4, kVtUi1 = 17, kVtUi4 = 19, kVtBlob = 65, kVtVector = 0x1000 };

struct Property {
    std::uint32_t id;
    std::vector<std::uint8_t> value;
};

Property Ui4(std::uint32_t id, std::uint32_t v) {
    Property p{id, {}};
    PutLE32(p.value, kVtUi4);
    PutLE32(p.value, v);
    return p;
}
Property I4(std::uint32_t id, std::int32_t v) {
    Property p{id, {}};
    PutLE32(p.value, kVtI4);
    PutLE32(p.value, static_cast<std::uint32_t>(v));
    return p;
}
Property R4(std::uint32_t id, float v) {
    Property p{id, {}};
    PutLE32(p.value, kVtR4);
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    PutLE32(p.value, bits);
    return p;
}
Property CodePage() {
    Property p{1, {}};
    PutLE32(p.value, kVtI2);
    PutLE16(p.value, 1200);  // UTF-16
    PutLE16(p.value, 0);
    return p;
}

// A property set stream with one section.
std::vector<std::uint8_t> PropertySet(const Clsid& format, const std::vector<Property>& properties) {
    std::vector<std::uint8_t> o;
    PutLE16(o, 0xFFFE);  // byte order
    PutLE16(o, 0);       // version
    PutLE32(o, 0);       // system identifier
    PutClsid(o, format);
    PutLE32(o, 1);  // one section
    PutClsid(o, format);
    PutLE32(o, 48);  // its offset
    const std::size_t section = o.size();
    PutLE32(o, 0);  // section size, set below
    PutLE32(o, static_cast<std::uint32_t>(properties.size()));
    std::size_t valueAt = 8 + properties.size() * 8;
    for (const Property& p : properties) {
        PutLE32(o, p.id);
        PutLE32(o, static_cast<std::uint32_t>(valueAt));
        valueAt += p.value.size();
    }
    for (const Property& p : properties) o.insert(o.end(), p.value.begin(), p.value.end());
    bytes::SetLE32(o, section, static_cast<std::uint32_t>(o.size() - section));
    return o;
}

// The 28-byte header of the FlashPix image streams.
std::vector<std::uint8_t> StreamHeader(const Clsid& id) {
    std::vector<std::uint8_t> o;
    PutLE16(o, 0xFFFE);
    PutLE16(o, 0);
    PutLE32(o, 0);
    PutClsid(o, id);
    PutLE32(o, 1);
    return o;
}

// The compound file written straight into the encoder's sink (the caller's bytes, or the file),
// instead of into a buffer of the library's that would then be copied out: a page-sized copy
// less in memory at once.
struct SinkOutput {
    GsfOutput output;
    ByteSink* sink;
};

struct SinkOutputClass {
    GsfOutputClass output_class;
};

GsfOutputClass* sinkOutputParent = nullptr;

gboolean SinkOutputWrite(GsfOutput* output, size_t n, const guint8* data) {
    auto* self = reinterpret_cast<SinkOutput*>(output);
    return self->sink->WriteAt(static_cast<std::uint64_t>(output->cur_offset), data, n) ? TRUE : FALSE;
}

// The library moves the offset itself; any offset can be written at.
gboolean SinkOutputSeek(GsfOutput*, gsf_off_t, GSeekType) { return TRUE; }

gboolean SinkOutputClose(GsfOutput* output) {
    return sinkOutputParent->Close == nullptr || sinkOutputParent->Close(output);
}

void SinkOutputClassInit(gpointer klass, gpointer) {
    auto* output = static_cast<GsfOutputClass*>(klass);
    output->Write = SinkOutputWrite;
    output->Seek = SinkOutputSeek;
    output->Close = SinkOutputClose;
    sinkOutputParent = static_cast<GsfOutputClass*>(g_type_class_peek_parent(klass));
}

GsfOutput* NewSinkOutput(ByteSink& sink) {
    static const GType type = g_type_register_static_simple(GSF_OUTPUT_TYPE, "VellipseSinkOutput",
                                                            sizeof(SinkOutputClass), SinkOutputClassInit,
                                                            sizeof(SinkOutput), nullptr, GTypeFlags(0));
    auto* output = static_cast<SinkOutput*>(g_object_new(type, nullptr));
    if (!output) return nullptr;
    output->sink = &sink;
    return &output->output;
}

bool WriteStream(GsfOutfile* parent, const char* name, const std::vector<std::uint8_t>& data) {
    GsfOutput* child = gsf_outfile_new_child(parent, name, FALSE);
    if (!child) return false;
    bool ok = gsf_output_write(child, data.size(), data.data()) != FALSE;
    ok = gsf_output_close(child) != FALSE && ok;
    g_object_unref(child);
    return ok;
}

// One resolution level: its header and its tiles.
bool WriteLevel(GsfOutfile* store, int number, const raster::PixelsView& px) {
    char name[32];
    std::snprintf(name, sizeof name, "Resolution %04d", number);
    GsfOutput* dir = gsf_outfile_new_child(store, name, TRUE);
    if (!dir) return false;
    gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(dir), kResolution.bytes);

    const int across = (px.width + kTile - 1) / kTile, down = (px.height + kTile - 1) / kTile;
    const std::uint32_t tiles = static_cast<std::uint32_t>(across) * down;
    const std::uint32_t tileBytes = kTile * kTile * px.channels;
    std::vector<std::uint8_t> header = StreamHeader(kSubimageHeader);
    PutLE32(header, 36);  // length of this header
    PutLE32(header, static_cast<std::uint32_t>(px.width));
    PutLE32(header, static_cast<std::uint32_t>(px.height));
    PutLE32(header, tiles);
    PutLE32(header, kTile);
    PutLE32(header, kTile);
    PutLE32(header, static_cast<std::uint32_t>(px.channels));
    PutLE32(header, 36);  // tile header table offset
    PutLE32(header, 16);  // tile header entry length
    for (std::uint32_t t = 0; t < tiles; ++t) {
        PutLE32(header, t * tileBytes);  // offset of the tile in the data, after its stream header
        PutLE32(header, tileBytes);
        PutLE32(header, 0);  // uncompressed
        PutLE32(header, 0);
    }
    bool ok = WriteStream(GSF_OUTFILE(dir), "Subimage 0000 Header", header);

    // The tiles one after another, each gathered into a buffer of its own and written on.
    if (GsfOutput* data = ok ? gsf_outfile_new_child(GSF_OUTFILE(dir), "Subimage 0000 Data", FALSE) : nullptr) {
        const std::vector<std::uint8_t> head = StreamHeader(kSubimageData);
        ok = gsf_output_write(data, head.size(), head.data()) != FALSE;
        std::vector<std::uint8_t> tile(tileBytes);
        const std::size_t pixel = static_cast<std::size_t>(px.channels);
        for (int ty = 0; ok && ty < down; ++ty)
            for (int tx = 0; ok && tx < across; ++tx) {
                // Rows and columns past the picture's edge repeat its last row and column.
                const int inside = std::min(kTile, px.width - tx * kTile);
                for (int y = 0; y < kTile; ++y) {
                    const std::uint8_t* row = px.row(std::min(ty * kTile + y, px.height - 1)) + tx * kTile * pixel;
                    std::uint8_t* dest = tile.data() + y * kTile * pixel;
                    std::memcpy(dest, row, inside * pixel);
                    for (int x = inside; x < kTile; ++x) std::memcpy(dest + x * pixel, row + (inside - 1) * pixel, pixel);
                }
                ok = gsf_output_write(data, tile.size(), tile.data()) != FALSE;
            }
        ok = gsf_output_close(data) != FALSE && ok;
        g_object_unref(data);
    } else {
        ok = false;
    }
    ok = gsf_output_close(dir) != FALSE && ok;
    g_object_unref(dir);
    return ok;
}

}  // namespace

bool EncodeFlashPixInto(const Bitmap& image, const DestinationProperties& properties, ByteSink& out) {
    const bool grey = image.model == ColorModel::Monochrome;
    const bool alpha = image.hasAlpha;
    // The full size: an opaque grey or RGB page as its rows lie, any other converted.
    raster::Pixels converted;
    const raster::PixelsView full = raster::RowsAsTheyLieOr(image, raster::Alpha::Premultiplied, true, converted);
    if (!full.data) return false;

    // Levels: the full size, then halves (rounded up) until the picture fits one tile.
    std::vector<raster::Pixels> halves;
    for (raster::PixelsView above = full; std::max(above.width, above.height) > kTile;) {
        halves.push_back(raster::Resize(above, (above.width + 1) / 2, (above.height + 1) / 2));
        above = raster::ViewOf(halves.back());
    }
    std::vector<raster::PixelsView> levels = {full};
    for (const raster::Pixels& half : halves) levels.push_back(raster::ViewOf(half));
    const int count = static_cast<int>(levels.size());

    // Channel colours: space in the high half, channel in the low; 0x8000 marks colour
    // premultiplied by the opacity channel 0x7FFE.
    std::vector<std::uint8_t> colour;
    PutLE32(colour, 1);
    PutLE32(colour, static_cast<std::uint32_t>(levels[0].channels));
    const std::uint32_t space = (grey ? 0x00010000u : 0x00030000u) | (alpha ? 0x8000u : 0u);
    for (int c = 0; c < (grey ? 1 : 3); ++c) PutLE32(colour, space + static_cast<std::uint32_t>(c));
    if (alpha) PutLE32(colour, (space & 0xFFFF0000u) | 0x7FFE);

    std::vector<Property> props = {CodePage(), Ui4(0x01000000, static_cast<std::uint32_t>(count)),
                                   Ui4(0x01000002, static_cast<std::uint32_t>(levels[0].width)),
                                   Ui4(0x01000003, static_cast<std::uint32_t>(levels[0].height)),
                                   R4(0x01000004, levels[0].height / raster::DpiOr72(properties.dpiHeight)),
                                   R4(0x01000005, levels[0].width / raster::DpiOr72(properties.dpiWidth)),
                                   Ui4(0x01000006, 0)};  // display size in inches
    for (int n = 0; n < count; ++n) {
        const raster::PixelsView& level = levels[count - 1 - n];  // number 0 is the smallest
        const std::uint32_t base = 0x02000000u | (static_cast<std::uint32_t>(n) << 16);
        props.push_back(Ui4(base, static_cast<std::uint32_t>(level.width)));
        props.push_back(Ui4(base | 1, static_cast<std::uint32_t>(level.height)));
        Property blob{base | 2, {}};
        PutLE32(blob.value, kVtBlob);
        PutLE32(blob.value, static_cast<std::uint32_t>(colour.size()));
        blob.value.insert(blob.value.end(), colour.begin(), colour.end());
        props.push_back(std::move(blob));
        Property format{base | 3, {}};
        PutLE32(format.value, kVtVector | kVtUi4);
        PutLE32(format.value, static_cast<std::uint32_t>(level.channels));
        for (int c = 0; c < level.channels; ++c) PutLE32(format.value, kVtUi1);
        props.push_back(std::move(format));
        props.push_back(I4(base | 4, n == count - 1 ? 0 : 4));  // decimation: none, or 4-tap
    }

    InitialiseGsf();
    // Room for the whole file at once: the tiles, some 1 % for the file's own tables, and the
    // small streams.
    std::size_t expected = 64 * 1024;
    for (const raster::PixelsView& level : levels) {
        const std::size_t tiles = static_cast<std::size_t>((level.width + kTile - 1) / kTile) *
                                  static_cast<std::size_t>((level.height + kTile - 1) / kTile);
        expected += tiles * (kTile * kTile * static_cast<std::size_t>(level.channels) + 16);
    }
    if (!out.Reserve(expected + expected / 64)) return false;
    GsfOutput* sink = NewSinkOutput(out);
    if (!sink) return false;
    GsfOutfile* root = gsf_outfile_msole_new(sink);
    bool ok = root != nullptr;
    if (ok) {
        gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(root), kImageView.bytes);
        GsfOutput* store = gsf_outfile_new_child(root, "Data Object Store 000001", TRUE);
        ok = store != nullptr;
        if (ok) {
            gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(store), kImageObject.bytes);
            ok = WriteStream(GSF_OUTFILE(store), "\005Image Contents", PropertySet(kImageContents, props));
            for (int n = 0; ok && n < count; ++n) ok = WriteLevel(GSF_OUTFILE(store), n, levels[count - 1 - n]);
            ok = gsf_output_close(store) != FALSE && ok;
            g_object_unref(store);
        }
        ok = gsf_output_close(GSF_OUTPUT(root)) != FALSE && ok;
        g_object_unref(root);
    }
    ok = ok && out.Size() > 0;
    // Closing the compound file closes its sink too; a second close is a GLib critical.
    if (!gsf_output_is_closed(sink)) gsf_output_close(sink);
    g_object_unref(sink);
    return ok;
}

bool EncodeFlashPix(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out) {
    out.clear();
    MemorySink sink(out);
    if (EncodeFlashPixInto(image, properties, sink)) return true;
    out.clear();
    return false;
}

}  // namespace platform::encoders
