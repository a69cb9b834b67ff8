// GIF decoding: giflib reads the file record by record from memory; the frames
// are composed onto the logical screen the way viewers show them.
#include "GifCodec.h"

#include "GifLib.h"
#include "GraphicError.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace pixhold::imaging {

namespace {

struct TMemoryReader {
    TBytes Data;
    std::size_t Pos = 0;
    bool ShortRead = false;  // giflib asked for bytes past the end
};

extern "C" int ReadFromMemory(GifFileType* gif, GifByteType* buffer, int length) {
    auto* reader = static_cast<TMemoryReader*>(gif->UserData);
    if (length <= 0) return 0;
    const std::size_t left = reader->Data.size() - reader->Pos;
    const std::size_t n = std::min(left, static_cast<std::size_t>(length));
    if (n < static_cast<std::size_t>(length)) reader->ShortRead = true;
    if (n > 0) std::memcpy(buffer, reader->Data.data() + reader->Pos, n);
    reader->Pos += n;
    return static_cast<int>(n);
}

struct TGifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using TGifHandle = std::unique_ptr<GifFileType, TGifCloser>;

// The number of images the file holds, by walking its blocks without
// decompressing them; stops at the trailer or at the first thing that is not
// a block (giflib reports that later).
std::uint64_t CountImages(TBytes data) {
    std::size_t pos = 13;  // signature and logical screen descriptor
    if (data.size() < pos) return 0;
    if (data[10] & 0x80) pos += 3u << ((data[10] & 7) + 1);
    const auto skipSubBlocks = [&] {
        while (pos < data.size()) {
            const std::size_t n = data[pos];
            pos += 1 + n;
            if (n == 0) return true;
        }
        return false;
    };
    std::uint64_t count = 0;
    while (pos < data.size()) {
        const std::uint8_t introducer = data[pos];
        if (introducer == 0x2C) {
            if (pos + 10 > data.size()) return count + 1;
            const std::uint8_t packed = data[pos + 9];
            pos += 10;
            if (packed & 0x80) pos += 3u << ((packed & 7) + 1);
            ++count;
            pos += 1;  // LZW minimum code size
            if (!skipSubBlocks()) return count;
        } else if (introducer == 0x21) {
            pos += 2;
            if (!skipSubBlocks()) return count;
        } else {
            return count;
        }
    }
    return count;
}

constexpr std::uint64_t MinFrameCost = 1024;

// The row of the frame that the i-th line of an interlaced image fills
// (passes of every 8th row from 0, every 8th from 4, every 4th from 2, and
// every 2nd from 1).
int InterlacedRow(int i, int height) {
    const int pass1 = (height + 7) / 8;
    if (i < pass1) return i * 8;
    i -= pass1;
    const int pass2 = (height + 3) / 8;
    if (i < pass2) return 4 + i * 8;
    i -= pass2;
    const int pass3 = (height + 1) / 4;
    if (i < pass3) return 2 + i * 4;
    i -= pass3;
    return 1 + i * 2;
}

// The graphics control extension in force for the next image.
struct TControl {
    int Disposal = 0;
    int DelayHundredths = 0;
    int TransparentIndex = -1;
};

// Raised inside the decoder for damage in the file; the caller decides
// whether the frames before it are kept.
struct TDamage {
    std::string Message;
};

class TGifDecoder {
public:
    explicit TGifDecoder(TBytes data) { reader_.Data = data; }

    TGifAnimation Decode() {
        int error = 0;
        gif_.reset(DGifOpen(&reader_, ReadFromMemory, &error));
        if (!gif_) throw EInvalidGraphic(Message(error));
        const int width = gif_->SWidth;
        const int height = gif_->SHeight;
        CheckPictureSize(width, height, "GIF");
        CheckBudget(width, height, std::max<std::uint64_t>(1, CountImages(reader_.Data)));

        animation_.Width = width;
        animation_.Height = height;

        try {
            ReadRecords();
        } catch (const TDamage& damage) {
            // Frames complete before the damage are kept.
            if (animation_.Frames.empty()) throw EInvalidGraphic(damage.Message);
        }
        if (animation_.Frames.empty()) throw EInvalidGraphic("GIF image has no frames");
        return std::move(animation_);
    }

private:
    static void CheckBudget(int width, int height, std::uint64_t frames) {
        // A frame costs its pixels, and at least a little for its own record
        // (a file of a million 1 x 1 frames is refused too).
        const std::uint64_t frameBytes =
            std::max<std::uint64_t>(std::uint64_t(width) * std::uint64_t(height) * 4, MinFrameCost);
        if (frames > GifFrameMemoryBudget / frameBytes) {
            throw EInvalidGraphic("GIF image is too large: " + std::to_string(frames) + " frames of " +
                                  std::to_string(width) + " x " + std::to_string(height) +
                                  " pixels would need more than " +
                                  std::to_string(GifFrameMemoryBudget >> 20) + " MB");
        }
    }

    std::string Message(int error) const {
        const char* what = reader_.ShortRead ? "GIF image is truncated: " : "GIF image is damaged: ";
        return what + gif::ErrorText(error);
    }
    [[noreturn]] void Fail() const { throw TDamage{Message(gif_->Error)}; }

    void ReadRecords() {
        for (;;) {
            GifRecordType type = UNDEFINED_RECORD_TYPE;
            if (DGifGetRecordType(gif_.get(), &type) == GIF_ERROR) Fail();
            switch (type) {
            case IMAGE_DESC_RECORD_TYPE:
                if (DGifGetImageDesc(gif_.get()) == GIF_ERROR) Fail();
                ReadImage();
                control_ = TControl{};
                break;
            case EXTENSION_RECORD_TYPE:
                ReadExtension();
                break;
            case TERMINATE_RECORD_TYPE:
                return;
            default:
                throw TDamage{"GIF image is damaged: " + gif::ErrorText(D_GIF_ERR_WRONG_RECORD)};
            }
        }
    }

    void ReadExtension() {
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif_.get(), &code, &block) == GIF_ERROR) Fail();
        bool loopExtension = false;
        if (block != nullptr && code == GRAPHICS_EXT_FUNC_CODE && block[0] >= 4) {
            control_.Disposal = (block[1] >> 2) & 7;
            control_.DelayHundredths = block[2] | (block[3] << 8);
            control_.TransparentIndex = (block[1] & 1) ? block[4] : -1;
        } else if (block != nullptr && code == APPLICATION_EXT_FUNC_CODE && block[0] == 11) {
            loopExtension = std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0 ||
                            std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0;
        }
        while (block != nullptr) {
            if (DGifGetExtensionNext(gif_.get(), &block) == GIF_ERROR) Fail();
            if (loopExtension && block != nullptr && block[0] >= 3 && block[1] == 1) {
                animation_.LoopCount = block[2] | (block[3] << 8);
            }
        }
    }

    // Skips what is left of the image's compressed data.
    void SkipImageData() {
        GifByteType* block = nullptr;
        do {
            if (DGifGetCodeNext(gif_.get(), &block) == GIF_ERROR) Fail();
        } while (block != nullptr);
    }

    // The logical screen is made when the first frame has been read whole: a
    // small file that claims a large screen and holds no frame costs nothing.
    void EnsureCanvas() {
        if (!canvas_.isNull()) return;
        canvas_ = QImage(animation_.Width, animation_.Height, QImage::Format_ARGB32);
        if (canvas_.isNull()) throw EInvalidGraphic("Out of memory while reading a GIF image");
        canvas_.fill(Qt::transparent);
    }

    void ApplyPendingDisposal() {
        if (pendingRect_.isEmpty()) return;
        if (pendingDisposal_ == DISPOSE_BACKGROUND) {
            // Cleared to transparent, as browsers do (the screen's background
            // colour index is not painted).
            for (int y = pendingRect_.top(); y <= pendingRect_.bottom(); ++y) {
                auto* row = reinterpret_cast<QRgb*>(canvas_.scanLine(y));
                std::fill(row + pendingRect_.left(), row + pendingRect_.right() + 1, QRgb{0});
            }
        } else if (pendingDisposal_ == DISPOSE_PREVIOUS) {
            for (int y = 0; y < saved_.height(); ++y) {
                std::memcpy(canvas_.scanLine(pendingRect_.top() + y) + 4 * pendingRect_.left(),
                            saved_.constScanLine(y), static_cast<std::size_t>(saved_.width()) * 4);
            }
        }
        pendingRect_ = QRect();
        saved_ = QImage();
    }

    void ReadImage() {
        const GifImageDesc& desc = gif_->Image;
        const ColorMapObject* map = desc.ColorMap != nullptr ? desc.ColorMap : gif_->SColorMap;
        if (map == nullptr) throw TDamage{"GIF image is damaged: " + gif::ErrorText(D_GIF_ERR_NO_COLOR_MAP)};
        const int frameWidth = desc.Width;
        const int frameHeight = desc.Height;
        if (frameWidth > 0 && frameHeight > 0) CheckPictureSize(frameWidth, frameHeight, "GIF frame");

        // Indices beyond the colour table are drawn black.
        QRgb colours[256];
        std::fill(std::begin(colours), std::end(colours), qRgb(0, 0, 0));
        const int count = std::clamp(map->ColorCount, 0, 256);
        for (int i = 0; i < count; ++i) {
            colours[i] = qRgb(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue);
        }
        const int transparent = control_.TransparentIndex;

        // The part of the frame on the logical screen; the rest is decoded
        // (the data is one stream) but not drawn. The visible rows are read
        // first (the buffer grows with the data really there) and drawn once
        // the frame's data has been read without damage.
        const QRect visible = QRect(desc.Left, desc.Top, std::max(frameWidth, 0), std::max(frameHeight, 0)) &
                              QRect(0, 0, animation_.Width, animation_.Height);
        pixels_.clear();
        rows_.clear();
        if (visible.isEmpty()) {
            SkipImageData();
        } else {
            line_.resize(static_cast<std::size_t>(frameWidth));
            const int left = visible.left() - desc.Left;
            int rowsLeft = visible.height();
            for (int i = 0; i < frameHeight && rowsLeft > 0; ++i) {
                if (DGifGetLine(gif_.get(), line_.data(), frameWidth) == GIF_ERROR) Fail();
                const int y = desc.Top + (desc.Interlace ? InterlacedRow(i, frameHeight) : i);
                if (y > visible.bottom()) continue;
                --rowsLeft;
                rows_.push_back(y);
                pixels_.insert(pixels_.end(), line_.begin() + left, line_.begin() + left + visible.width());
                // All visible rows read: the rest of a frame reaching past
                // the screen's bottom is not decompressed.
                if (rowsLeft == 0 && i + 1 < frameHeight) SkipImageData();
            }
        }

        EnsureCanvas();
        ApplyPendingDisposal();
        if (control_.Disposal == DISPOSE_PREVIOUS && !visible.isEmpty()) {
            saved_ = canvas_.copy(visible);
            if (saved_.isNull()) throw EInvalidGraphic("Out of memory while reading a GIF image");
        }
        for (std::size_t k = 0; k < rows_.size(); ++k) {
            auto* row = reinterpret_cast<QRgb*>(canvas_.scanLine(rows_[k])) + visible.left();
            const GifPixelType* src = pixels_.data() + k * static_cast<std::size_t>(visible.width());
            for (int x = 0; x < visible.width(); ++x) {
                if (src[x] != transparent) row[x] = colours[src[x]];
            }
        }

        TGifFrame frame;
        frame.Image = canvas_;  // shared until the canvas changes
        frame.DelayMs = control_.DelayHundredths * 10;
        frame.Disposal = control_.Disposal <= DISPOSE_PREVIOUS ? control_.Disposal : DISPOSAL_UNSPECIFIED;
        frame.TransparentIndex = transparent;
        animation_.Frames.push_back(std::move(frame));
        pendingDisposal_ = animation_.Frames.back().Disposal;
        pendingRect_ = (pendingDisposal_ == DISPOSE_BACKGROUND || pendingDisposal_ == DISPOSE_PREVIOUS)
                           ? visible
                           : QRect();
    }

    TMemoryReader reader_;
    TGifHandle gif_;
    TGifAnimation animation_;
    QImage canvas_;
    TControl control_;
    int pendingDisposal_ = 0;
    QRect pendingRect_;  // the last frame's area still to be disposed of
    QImage saved_;       // what that area showed before it (restore to previous)
    std::vector<GifPixelType> line_;
    std::vector<GifPixelType> pixels_;  // the visible rows of the frame being read
    std::vector<int> rows_;             // their rows on the screen
};

}  // namespace

TGifAnimation DecodeGif(TBytes data) { return TGifDecoder(data).Decode(); }

}  // namespace pixhold::imaging
