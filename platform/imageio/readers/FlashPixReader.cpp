// FlashPix images: a structured-storage (OLE2 compound) file, opened with libgsf. The first image
// object's largest resolution is read: NIF RGB or monochrome channels, with or without opacity
// (colour premultiplied by it, as the format stores it), tiles uncompressed or of one colour.
// Tiles compressed with JPEG are not read.
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>

#include "platform/imageio/readers/Readers.h"

namespace platform::readers {
namespace {

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// GObject references released at the end of a scope.
template <typename T>
struct Ref {
    T* object = nullptr;
    explicit Ref(T* o = nullptr) : object(o) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() {
        if (object) g_object_unref(object);
    }
    explicit operator bool() const { return object != nullptr; }
};

std::optional<std::vector<std::uint8_t>> ReadStream(GsfInfile* parent, const char* name) {
    Ref<GsfInput> child(gsf_infile_child_by_name(parent, name));
    if (!child) return std::nullopt;
    const gsf_off_t size = gsf_input_size(child.object);
    if (size < 0 || size > (gsf_off_t{1} << 32)) return std::nullopt;
    std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
    if (size > 0 && !gsf_input_read(child.object, static_cast<std::size_t>(size), data.data())) return std::nullopt;
    return data;
}

// The values of the first section of a property set stream, by property identifier: each from
// its type field on, up to the next value (or the section's end).
std::map<std::uint32_t, std::vector<std::uint8_t>> Properties(const std::vector<std::uint8_t>& stream) {
    std::map<std::uint32_t, std::vector<std::uint8_t>> out;
    if (stream.size() < 48 || Le32(stream.data() + 24) < 1) return out;
    const std::size_t section = Le32(stream.data() + 44);
    if (section > stream.size() || stream.size() - section < 8) return out;
    const std::size_t sectionSize = std::min<std::size_t>(Le32(stream.data() + section), stream.size() - section);
    const std::size_t count = Le32(stream.data() + section + 4);
    if (count > (sectionSize - 8) / 8) return out;
    std::vector<std::pair<std::size_t, std::uint32_t>> offsets;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = stream.data() + section + 8 + i * 8;
        offsets.emplace_back(Le32(entry + 4), Le32(entry));
    }
    std::sort(offsets.begin(), offsets.end());
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        const std::size_t from = offsets[i].first;
        const std::size_t to = i + 1 < offsets.size() ? offsets[i + 1].first : sectionSize;
        if (from >= to || to > sectionSize) continue;
        out[offsets[i].second].assign(stream.begin() + static_cast<std::ptrdiff_t>(section + from),
                                      stream.begin() + static_cast<std::ptrdiff_t>(section + to));
    }
    return out;
}

// A four-byte number property (type, value).
std::optional<std::uint32_t> Number(const std::map<std::uint32_t, std::vector<std::uint8_t>>& properties,
                                    std::uint32_t id) {
    const auto found = properties.find(id);
    if (found == properties.end() || found->second.size() < 8) return std::nullopt;
    return Le32(found->second.data() + 4);
}

std::optional<float> Real(const std::map<std::uint32_t, std::vector<std::uint8_t>>& properties, std::uint32_t id) {
    const std::optional<std::uint32_t> bits = Number(properties, id);
    if (!bits) return std::nullopt;
    float value;
    std::memcpy(&value, &*bits, 4);
    return value;
}

class FlashPixSource : public ImageSource {
public:
    FlashPixSource(Bytes bytes, GsfInfile* root, GsfInfile* store, int level, int width, int height, int channels, bool grey,
                   bool alpha, float dpiX, float dpiY)
        : ImageSource("com.kodak.flashpix.image"),
          bytes_(std::move(bytes)),
          root_(root),
          store_(store),
          level_(level),
          width_(width),
          height_(height),
          channels_(channels),
          grey_(grey),
          alpha_(alpha),
          dpiX_(dpiX),
          dpiY_(dpiY) {}
    ~FlashPixSource() override {
        g_object_unref(store_);
        g_object_unref(root_);
    }
    FlashPixSource(const FlashPixSource&) = delete;
    FlashPixSource& operator=(const FlashPixSource&) = delete;

    std::size_t count() const override { return 1; }
    bool Read(std::size_t index, ImageRepresentation& out) override;

private:
    Bytes bytes_;
    GsfInfile* root_;
    GsfInfile* store_;
    int level_, width_, height_, channels_;
    bool grey_, alpha_;
    float dpiX_, dpiY_;
};

bool FlashPixSource::Read(std::size_t index, ImageRepresentation& out) {
    out = {};
    if (index != 0) return false;
    char name[32];
    std::snprintf(name, sizeof name, "Resolution %04d", level_);
    Ref<GsfInput> resolution(gsf_infile_child_by_name(store_, name));
    if (!resolution || !GSF_IS_INFILE(resolution.object)) return false;
    GsfInfile* folder = GSF_INFILE(resolution.object);
    const auto header = ReadStream(folder, "Subimage 0000 Header");
    const auto data = ReadStream(folder, "Subimage 0000 Data");
    if (!header || !data || header->size() < 64) return false;
    const std::uint8_t* h = header->data() + 28;
    const std::uint32_t width = Le32(h + 4), height = Le32(h + 8), tiles = Le32(h + 12);
    const std::uint32_t tileWidth = Le32(h + 16), tileHeight = Le32(h + 20), channels = Le32(h + 24);
    const std::uint32_t table = Le32(h + 28), entryLength = Le32(h + 32);
    if (width != static_cast<std::uint32_t>(width_) || height != static_cast<std::uint32_t>(height_) ||
        channels != static_cast<std::uint32_t>(channels_) || tileWidth == 0 || tileHeight == 0 ||
        tileWidth > 4096 || tileHeight > 4096 || entryLength < 16)
        return false;
    const std::uint32_t across = (width + tileWidth - 1) / tileWidth, down = (height + tileHeight - 1) / tileHeight;
    if (tiles != static_cast<std::uint64_t>(across) * down ||
        28 + static_cast<std::uint64_t>(table) + static_cast<std::uint64_t>(tiles) * entryLength > header->size())
        return false;

    Bitmap bitmap = Bitmap::Allocate(width_, height_, grey_ ? ColorModel::Monochrome : ColorModel::RGB, alpha_);
    if (!bitmap) return false;
    const std::size_t tileBytes = static_cast<std::size_t>(tileWidth) * tileHeight * channels;
    for (std::uint32_t t = 0; t < tiles; ++t) {
        const std::uint8_t* entry = header->data() + 28 + table + static_cast<std::size_t>(t) * entryLength;
        const std::uint32_t offset = Le32(entry), size = Le32(entry + 4), compression = Le32(entry + 8);
        const std::uint8_t* colour = entry + 12;  // a tile of one colour: its channels in order
        const std::uint8_t* samples = nullptr;
        if (compression == 0) {
            if (size < tileBytes || 28 + static_cast<std::uint64_t>(offset) + tileBytes > data->size()) return false;
            samples = data->data() + 28 + offset;
        } else if (compression != 1 || channels > 4) {
            return false;
        }
        const std::uint32_t x0 = (t % across) * tileWidth, y0 = (t / across) * tileHeight;
        const std::uint32_t w = std::min(tileWidth, width - x0), rows = std::min(tileHeight, height - y0);
        for (std::uint32_t y = 0; y < rows; ++y) {
            std::uint8_t* to = bitmap.row(static_cast<int>(y0 + y)) + static_cast<std::size_t>(x0) * channels;
            if (samples) {
                std::memcpy(to, samples + static_cast<std::size_t>(y) * tileWidth * channels,
                            static_cast<std::size_t>(w) * channels);
            } else {
                for (std::uint32_t x = 0; x < w; ++x) std::memcpy(to + x * channels, colour, channels);
            }
        }
    }
    // Premultiplied colour can never exceed its opacity.
    if (alpha_)
        for (int y = 0; y < height_; ++y) {
            std::uint8_t* p = bitmap.row(y);
            for (int x = 0; x < width_; ++x, p += channels_)
                for (int c = 0; c + 1 < channels_; ++c) p[c] = std::min(p[c], p[channels_ - 1]);
        }
    out.bitmap = std::move(bitmap);
    out.dpiX = dpiX_;
    out.dpiY = dpiY_;
    out.colorKind = grey_ ? SourceColorKind::Grey : SourceColorKind::RGB;
    out.hasAlpha = alpha_;
    out.metadata = NoMetadata();
    bytes_->Evict();
    return true;
}

}  // namespace

std::unique_ptr<ImageSource> OpenFlashPix(Bytes bytes) {
    Ref<GsfInput> input(gsf_input_memory_new(bytes->data(), static_cast<gsf_off_t>(bytes->size()), FALSE));
    if (!input) return nullptr;
    Ref<GsfInfile> root(gsf_infile_msole_new(input.object, nullptr));
    if (!root) return nullptr;
    GsfInput* storeInput = gsf_infile_child_by_name(root.object, "Data Object Store 000001");
    if (!storeInput) return nullptr;
    if (!GSF_IS_INFILE(storeInput)) {
        g_object_unref(storeInput);
        return nullptr;
    }
    GsfInfile* store = GSF_INFILE(storeInput);
    const auto contents = ReadStream(store, "\005Image Contents");
    const auto properties = contents ? Properties(*contents) : decltype(Properties({})){};
    const std::optional<std::uint32_t> levels = Number(properties, 0x01000000);
    const std::optional<std::uint32_t> width = Number(properties, 0x01000002);
    const std::optional<std::uint32_t> height = Number(properties, 0x01000003);
    if (!levels || !width || !height || *levels == 0 || *levels > 64 || !FitsBitmapCap(*width, *height, 4)) {
        g_object_unref(store);
        return nullptr;
    }
    // The largest resolution has the highest number; its channels say the colour.
    const int level = static_cast<int>(*levels - 1);
    const auto colours = properties.find(0x02000002u | static_cast<std::uint32_t>(level) << 16);
    std::vector<std::uint32_t> channelColours;
    if (colours != properties.end() && colours->second.size() >= 16) {
        const std::vector<std::uint8_t>& blob = colours->second;  // type, length, count, channels
        const std::uint32_t n = Le32(blob.data() + 12);
        for (std::uint32_t c = 0; c < n && c < 8 && 16 + 4 * (c + 1) <= blob.size(); ++c)
            channelColours.push_back(Le32(blob.data() + 16 + 4 * c) & 0x7FFFFFFF);  // "uncalibrated" bit ignored
    }
    // Opacity alone, monochrome, NIF RGB, with or without opacity; PhotoYCC is not read.
    const std::vector<std::vector<std::uint32_t>> kGrey = {{0x00010000}}, kGreyAlpha = {{0x00018000, 0x00017FFE}},
                                                  kRgb = {{0x00030000, 0x00030001, 0x00030002}},
                                                  kRgbAlpha = {{0x00038000, 0x00038001, 0x00038002, 0x00037FFE}};
    bool grey = false, alpha = false;
    if (channelColours == kGrey[0]) grey = true;
    else if (channelColours == kGreyAlpha[0]) grey = alpha = true;
    else if (channelColours == kRgbAlpha[0]) alpha = true;
    else if (channelColours != kRgb[0]) {
        g_object_unref(store);
        return nullptr;
    }
    // The display size, in inches, metres, centimetres or millimetres, gives the resolution.
    float dpiX = 0, dpiY = 0;
    const std::optional<float> shownHigh = Real(properties, 0x01000004), shownWide = Real(properties, 0x01000005);
    const std::uint32_t unit = Number(properties, 0x01000006).value_or(0);
    const float perInch[] = {1.0f, 0.0254f, 2.54f, 25.4f};
    if (shownHigh && shownWide && *shownHigh > 0 && *shownWide > 0 && unit < 4) {
        dpiX = static_cast<float>(*width) / (*shownWide / perInch[unit]);
        dpiY = static_cast<float>(*height) / (*shownHigh / perInch[unit]);
    }
    GsfInfile* keptRoot = root.object;
    root.object = nullptr;
    return std::make_unique<FlashPixSource>(std::move(bytes), keptRoot, store, level, static_cast<int>(*width),
                                            static_cast<int>(*height), (grey ? 1 : 3) + (alpha ? 1 : 0), grey, alpha,
                                            dpiX, dpiY);
}

}  // namespace platform::readers
