#include "video/frame_exchange.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/message_poster.h"
#include "core/registry.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Slack behind each buffer: the pixel copies move 4 bytes at a time and may
// read one byte past the last pixel.
constexpr int32_t kSlack = 16;
// Destination rows turned together by a quarter turn; their write positions
// and the source bytes they read stay in the first-level cache.
constexpr int32_t kStripRows = 16;
// Only byte differences above this count toward the motion level.
constexpr uint32_t kNoiseLimit = 6;

std::unique_ptr<uint8_t[]> NewBuffer() { return std::unique_ptr<uint8_t[]>(new uint8_t[kFrameBytes + kSlack]()); }

// Moves one pixel with a 4-byte copy; the extra byte lands on the next pixel
// of the destination row, which is written later.
inline void CopyPixelWide(uint8_t* to, const uint8_t* from) { std::memcpy(to, from, 4); }
inline void CopyPixel(uint8_t* to, const uint8_t* from) {
    to[0] = from[0];
    to[1] = from[1];
    to[2] = from[2];
}

// Compares picture bytes with the previous picture: writes the difference
// image, copies the picture into previous (and into out when asked) and
// returns the sum of the differences above the noise limit.
template <bool kCopyOut>
uint64_t CompareBytes(const uint8_t* picture, uint8_t* out, uint8_t* previous, uint8_t* difference,
                      std::size_t count) {
    uint64_t sum = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i ones = _mm_set1_epi8(static_cast<char>(0xFF));
    const __m128i limit = _mm_set1_epi8(static_cast<char>(kNoiseLimit + 1));
    const __m128i zero = _mm_setzero_si128();
    __m128i total = _mm_setzero_si128();
    for (; i + 16 <= count; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(picture + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(previous + i));
        const __m128i d = _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(difference + i), _mm_xor_si128(d, ones));
        if constexpr (kCopyOut) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), a);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(previous + i), a);
        const __m128i counted = _mm_and_si128(d, _mm_cmpeq_epi8(_mm_max_epu8(d, limit), d));
        total = _mm_add_epi64(total, _mm_sad_epu8(counted, zero));
    }
    uint64_t halves[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(halves), total);
    sum = halves[0] + halves[1];
#endif
    for (; i < count; ++i) {
        const uint8_t a = picture[i];
        const uint8_t b = previous[i];
        const uint32_t d = a > b ? a - b : b - a;
        difference[i] = static_cast<uint8_t>(255 - d);
        if constexpr (kCopyOut) out[i] = a;
        previous[i] = a;
        if (d > kNoiseLimit) sum += d;
    }
    return sum;
}

// Writes the pixels of a row in reverse order.
void ReverseRow(const uint8_t* from, uint8_t* to, int32_t width) {
    const uint8_t* last = from + (width - 1) * kFrameBytesPerPixel;
    for (int32_t x = 0; x + 1 < width; ++x) CopyPixelWide(to + x * 3, last - x * 3);
    CopyPixel(to + (width - 1) * 3, from);
}

struct Layout {
    const uint8_t* source;
    int32_t width;   // Source columns.
    int32_t height;  // Source rows.
};

// Half-turn family: every destination row is one source row, optionally
// taken from the other end and optionally with its pixels reversed.
uint64_t OrientRows(const Layout& in, bool reverseRows, bool reversePixels, uint8_t* out, uint8_t* previous,
                    uint8_t* difference) {
    const std::size_t rowBytes = static_cast<std::size_t>(in.width) * kFrameBytesPerPixel;
    if (!reverseRows && !reversePixels)
        return CompareBytes<true>(in.source, out, previous, difference, rowBytes * in.height);
    uint64_t sum = 0;
    for (int32_t y = 0; y < in.height; ++y) {
        const uint8_t* from = in.source + rowBytes * (reverseRows ? in.height - 1 - y : y);
        const std::size_t at = rowBytes * y;
        if (reversePixels) {
            ReverseRow(from, out + at, in.width);
            sum += CompareBytes<false>(out + at, out + at, previous + at, difference + at, rowBytes);
        } else {
            sum += CompareBytes<true>(from, out + at, previous + at, difference + at, rowBytes);
        }
    }
    return sum;
}

// Quarter-turn family: destination pixel (dx, dy) is source pixel
// (dy or W-1-dy, dx or H-1-dx). Works in strips of destination rows, each
// compared while it is still in the cache.
uint64_t OrientColumns(const Layout& in, bool reverseColumns, bool reverseRows, uint8_t* out, uint8_t* previous,
                       uint8_t* difference) {
    const int32_t outWidth = in.height;
    const int32_t outHeight = in.width;
    const std::size_t inRowBytes = static_cast<std::size_t>(in.width) * kFrameBytesPerPixel;
    const std::size_t outRowBytes = static_cast<std::size_t>(outWidth) * kFrameBytesPerPixel;
    const std::ptrdiff_t step = reverseColumns ? -kFrameBytesPerPixel : kFrameBytesPerPixel;
    uint64_t sum = 0;
    for (int32_t top = 0; top < outHeight; top += kStripRows) {
        const int32_t rows = std::min(kStripRows, outHeight - top);
        const int32_t firstColumn = reverseColumns ? in.width - 1 - top : top;
        uint8_t* strip = out + outRowBytes * top;
        for (int32_t dx = 0; dx < outWidth; ++dx) {
            const int32_t sy = reverseRows ? in.height - 1 - dx : dx;
            const uint8_t* from = in.source + inRowBytes * sy + firstColumn * kFrameBytesPerPixel;
            uint8_t* to = strip + dx * kFrameBytesPerPixel;
            if (dx + 1 < outWidth) {
                for (int32_t r = 0; r < rows; ++r) CopyPixelWide(to + outRowBytes * r, from + step * r);
            } else {
                for (int32_t r = 0; r < rows; ++r) CopyPixel(to + outRowBytes * r, from + step * r);
            }
        }
        const std::size_t at = outRowBytes * top;
        sum += CompareBytes<false>(out + at, out + at, previous + at, difference + at, outRowBytes * rows);
    }
    return sum;
}

// Bytes of a camera frame of that size; -1 for a size no frame can have.
int64_t SampleBytes(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return -1;
    return int64_t{width} * height * kFrameBytesPerPixel;
}

// level = clamp(trunc(5 * sqrt(15 * S / N) - 10), 0, 100) with the
// single-precision steps the level has always been computed with.
int32_t MotionLevel(uint64_t sum, int32_t count) {
    const float mean = static_cast<float>(static_cast<double>(sum) / count);
    const float scaled = static_cast<float>(static_cast<double>(mean) * 15.0);
    const double root = std::sqrt(static_cast<double>(scaled));
    const int32_t level = static_cast<int32_t>(root * 5.0 - 10.0);
    return std::clamp(level, 0, 100);
}

}  // namespace

FrameExchange::FrameExchange(Registry& registry)
    : registry_(&registry),
      pending_(NewBuffer()),
      header_(FrameHeader(kFrameMaxWidth, kFrameMaxHeight)),
      blank_(NewBuffer()),
      display_(NewBuffer()),
      difference_(NewBuffer()),
      previous_(NewBuffer()) {
    registry_->SetHandle("_VideoDataCls", this);
    mainWindow_ = registry_->Find<MessagePoster>("_MainHwnd");
    dataMessage_ = static_cast<uint32_t>(registry_->GetHandle("_VideoDataMsg"));
    SetSourceSize(kFrameMaxWidth, kFrameMaxHeight);
    ClearBuffers();
}

FrameExchange::~FrameExchange() = default;

void FrameExchange::PutSample(double sampleTime, const uint8_t* data, int32_t length) {
    if (length <= 0 || length > kFrameBytes || data == nullptr) return;
    if (length != SampleBytes(sourceWidth_.load(std::memory_order_relaxed),
                              sourceHeight_.load(std::memory_order_relaxed)))
        return;
    if (pendingFlag_.load(std::memory_order_acquire) == 0) {
        sampleTime_ = sampleTime;
        pendingLength_ = length;
        std::memcpy(pending_.get(), data, static_cast<std::size_t>(length));
        pendingFlag_.store(1, std::memory_order_release);
    }
    if (mainWindow_) mainWindow_->Post(dataMessage_, 0, 1);
}

int32_t FrameExchange::FetchFrame(double& sampleTime, uint8_t* buffer, int32_t& length) {
    length = 0;
    if (pendingFlag_.load(std::memory_order_acquire) == 0 || pendingLength_ > kFrameBytes || buffer == nullptr)
        return 0;
    const int32_t width = sourceWidth_.load(std::memory_order_relaxed);
    const int32_t height = sourceHeight_.load(std::memory_order_relaxed);
    // A sample left from before the camera changed size would be oriented
    // with the wrong geometry; drop it.
    if (SampleBytes(width, height) != pendingLength_) {
        pendingFlag_.store(0, std::memory_order_release);
        return 0;
    }
    sampleTime = sampleTime_;
    length = pendingLength_;
    const Layout in{pending_.get(), width, height};
    const int32_t reflect = reflect_;
    uint64_t sum = 0;
    switch (rotate_) {
        case 1:
            sum = OrientColumns(in, reflect == 2, reflect != 1, buffer, previous_.get(), difference_.get());
            break;
        case 2:
            sum = OrientRows(in, reflect != 1, reflect != 2, buffer, previous_.get(), difference_.get());
            break;
        case 3:
            sum = OrientColumns(in, reflect != 2, reflect == 1, buffer, previous_.get(), difference_.get());
            break;
        default:
            sum = OrientRows(in, reflect == 1, reflect == 2, buffer, previous_.get(), difference_.get());
            break;
    }
    const int32_t level = MotionLevel(sum, pendingLength_);
    pendingFlag_.store(0, std::memory_order_release);
    return level;
}

void FrameExchange::SetSourceSize(int32_t width, int32_t height) {
    sourceWidth_.store(width, std::memory_order_relaxed);
    sourceHeight_.store(height, std::memory_order_relaxed);
    ApplyOrientation();
}

void FrameExchange::ApplyOrientation() {
    const intptr_t reflect = registry_->GetHandle("VideoReflect");
    const intptr_t rotate = registry_->GetHandle("VideoRotate");
    // Values outside the offered choices count as no reflection and no turn.
    reflect_ = reflect == 1 || reflect == 2 ? static_cast<int32_t>(reflect) : 0;
    rotate_ = rotate >= 0 && rotate <= 3 ? static_cast<int32_t>(rotate) : 0;
    const int32_t width = sourceWidth_.load(std::memory_order_relaxed);
    const int32_t height = sourceHeight_.load(std::memory_order_relaxed);
    if (rotate_ % 2 == 1) {
        header_.biWidth = height;
        header_.biHeight = width;
    } else {
        header_.biWidth = width;
        header_.biHeight = height;
    }
}

void FrameExchange::ClearBuffers() {
    for (uint8_t* buffer : {blank_.get(), display_.get(), difference_.get(), previous_.get(), pending_.get()})
        std::memset(buffer, 0, kFrameBytes);
}
