// GIF through giflib: every frame, composed on the logical screen as a viewer shows it (each
// frame over what the previous frame's disposal left), transparent where no frame has drawn.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>

#include "platform/imageio/readers/Readers.h"

namespace platform::readers {
namespace {

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position;
};

int ReadInput(GifFileType* gif, GifByteType* buffer, int length) {
    auto* in = static_cast<Input*>(gif->UserData);
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max(length, 0)), in->size - in->position);
    std::memcpy(buffer, in->data + in->position, n);
    in->position += n;
    return static_cast<int>(n);
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

}  // namespace

std::unique_ptr<ImageSource> OpenGif(Bytes bytes) {
    Input input{bytes->data(), bytes->size(), 0};
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&input, ReadInput, &error));
    if (!gif) return nullptr;
    const int width = gif->SWidth, height = gif->SHeight;
    if (!FitsBitmapCap(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height), 4)) return nullptr;
    if (DGifSlurp(gif.get()) != GIF_OK && gif->ImageCount == 0) return nullptr;

    // The canvas, straight RGBA; each frame is copied out premultiplied.
    std::vector<std::uint8_t> canvas(static_cast<std::size_t>(width) * height * 4, 0);
    std::vector<std::uint8_t> saved;
    std::vector<ImageRepresentation> frames;
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& frame = gif->SavedImages[i];
        const ColorMapObject* map = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : gif->SColorMap;
        if (!map || !frame.RasterBits) break;
        GraphicsControlBlock gcb{};
        gcb.TransparentColor = NO_TRANSPARENT_COLOR;
        DGifSavedExtensionToGCB(gif.get(), i, &gcb);
        const int left = frame.ImageDesc.Left, top = frame.ImageDesc.Top;
        const int fw = frame.ImageDesc.Width, fh = frame.ImageDesc.Height;
        if (gcb.DisposalMode == DISPOSE_PREVIOUS) saved = canvas;
        for (int y = 0; y < fh; ++y) {
            const int cy = top + y;
            if (cy < 0 || cy >= height) continue;
            for (int x = 0; x < fw; ++x) {
                const int cx = left + x;
                if (cx < 0 || cx >= width) continue;
                const int index = frame.RasterBits[static_cast<std::size_t>(y) * fw + x];
                if (index == gcb.TransparentColor || index >= map->ColorCount) continue;
                std::uint8_t* p = &canvas[(static_cast<std::size_t>(cy) * width + cx) * 4];
                p[0] = map->Colors[index].Red;
                p[1] = map->Colors[index].Green;
                p[2] = map->Colors[index].Blue;
                p[3] = 255;
            }
        }
        bool opaque = true;
        for (std::size_t p = 3; p < canvas.size() && opaque; p += 4) opaque = canvas[p] == 255;
        Bitmap bitmap = Bitmap::Allocate(width, height, ColorModel::RGB, !opaque);
        if (!bitmap) return nullptr;
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* src = &canvas[static_cast<std::size_t>(y) * width * 4];
            std::uint8_t* dst = bitmap.row(y);
            for (int x = 0; x < width; ++x, src += 4) {
                if (opaque) {
                    std::memcpy(dst + 3 * x, src, 3);
                } else {
                    // Alpha is 0 or 255: premultiplying zeroes the colour of transparent pixels.
                    for (int c = 0; c < 3; ++c) dst[4 * x + c] = src[3] ? src[c] : 0;
                    dst[4 * x + 3] = src[3];
                }
            }
        }
        ImageRepresentation rep;
        rep.bitmap = std::move(bitmap);
        rep.colorKind = SourceColorKind::Indexed;
        rep.bitsPerSample = map->BitsPerPixel;
        rep.hasAlpha = !opaque;
        rep.metadata = NoMetadata();
        frames.push_back(std::move(rep));

        if (gcb.DisposalMode == DISPOSE_BACKGROUND) {
            for (int y = std::max(0, top); y < std::min(height, top + fh); ++y)
                for (int x = std::max(0, left); x < std::min(width, left + fw); ++x)
                    std::memset(&canvas[(static_cast<std::size_t>(y) * width + x) * 4], 0, 4);
        } else if (gcb.DisposalMode == DISPOSE_PREVIOUS && !saved.empty()) {
            canvas.swap(saved);
        }
    }
    return MakeDecodedSource("com.compuserve.gif", std::move(frames));
}

}  // namespace platform::readers
