#include "video/frame_exchange.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include <sys/mman.h>

#include "core/message_poster.h"
#include "core/registry.h"
#include "video/orientation.h"

namespace {

// Slack behind each buffer: the pixel copies move 4, 16 or 32 bytes at a
// time and may read up to 8 bytes past the last pixel.
constexpr int32_t kSlack = 16;

// Buffers start at different offsets within a memory page, so that loads
// from one and stores to another at the same index never look alike to the
// processor's store forwarding.
constexpr std::size_t kCacheLine = 64;
constexpr std::size_t kPageStagger = 5 * kCacheLine;
constexpr std::size_t kPage = 4096;
constexpr std::size_t kMappedBytes = kFrameCapacityBytes + kSlack + kPage;

// Bytes of a camera frame of that size; -1 for a size no frame can have.
int64_t SampleBytes(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return -1;
    return int64_t{width} * height * kFrameBytesPerPixel;
}

// The bytes a picture of that size uses in the buffers, at most all of them.
std::size_t PictureBytes(int32_t width, int32_t height) {
    return static_cast<std::size_t>(std::clamp<int64_t>(SampleBytes(width, height), 0, kFrameCapacityBytes));
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

FrameExchange::PictureBuffer FrameExchange::NewBuffer(int index) {
    PictureBuffer buffer;
    void* mapping = mmap(nullptr, kMappedBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) throw std::bad_alloc();
    // Zero until written, and given memory page by page as pictures are written.
    buffer.storage.reset(static_cast<uint8_t*>(mapping));
    const auto start = reinterpret_cast<uintptr_t>(buffer.storage.get());
    const uintptr_t aligned = (start + kCacheLine - 1) & ~uintptr_t{kCacheLine - 1};
    buffer.data = reinterpret_cast<uint8_t*>(aligned + (index * kPageStagger) % (kPage - kCacheLine));
    return buffer;
}

void FrameExchange::Unmap::operator()(uint8_t* mapping) const { munmap(mapping, kMappedBytes); }

FrameExchange::FrameExchange(Registry& registry)
    : registry_(&registry),
      header_(FrameHeader(kFrameMaxWidth, kFrameMaxHeight)),
      blank_(NewBuffer(0)),
      display_(NewBuffer(1)),
      difference_(NewBuffer(2)),
      pendingDifference_(NewBuffer(3)),
      previous_(NewBuffer(4)),
      strip_(NewBuffer(5)),
      staging_(NewBuffer(6)) {
    registry_->SetHandle("_VideoDataCls", this);
    mainWindow_ = registry_->Find<MessagePoster>("_MainHwnd");
    dataMessage_ = static_cast<uint32_t>(registry_->GetHandle("_VideoDataMsg"));
    SetSourceSize(kFrameMaxWidth, kFrameMaxHeight);
    ClearBuffers();
}

FrameExchange::~FrameExchange() = default;

void FrameExchange::PutSample(double sampleTime, const uint8_t* data, int32_t length) {
    const int32_t width = sourceWidth_.load(std::memory_order_relaxed);
    const int32_t height = sourceHeight_.load(std::memory_order_relaxed);
    if (length != SampleBytes(width, height)) return;
    PutSampleRows(sampleTime, data, std::ptrdiff_t{width} * kFrameBytesPerPixel, width, height);
}

void FrameExchange::PutSampleRows(double sampleTime, const uint8_t* bottomRow, std::ptrdiff_t stride, int32_t width,
                                  int32_t height) {
    if (bottomRow == nullptr || width != sourceWidth_.load(std::memory_order_relaxed) ||
        height != sourceHeight_.load(std::memory_order_relaxed))
        return;
    const int64_t length = SampleBytes(width, height);
    if (length <= 0 || length > kFrameCapacityBytes) return;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * kFrameBytesPerPixel;
    if (static_cast<std::size_t>(stride < 0 ? -stride : stride) < rowBytes) return;
    if (pendingFlag_.load(std::memory_order_acquire) == 0) {
        std::lock_guard guard(configLock_);
        // Set under the lock, so a change of the geometry or the orientation
        // that drops the pending sample cannot come between.
        if (width == sourceWidth_.load(std::memory_order_relaxed) &&
            height == sourceHeight_.load(std::memory_order_relaxed)) {
            sampleTime_ = sampleTime;
            pendingLength_ = static_cast<int32_t>(length);
            Measure(bottomRow, stride, width, height);
            pendingFlag_.store(1, std::memory_order_release);
        }
    }
    if (mainWindow_) mainWindow_->Post(dataMessage_, 0, 1);
}

void FrameExchange::Measure(const uint8_t* bottomRow, std::ptrdiff_t stride, int32_t width, int32_t height) {
    // A mask loaded for another size than the picture's is not applied.
    const bool masked = !measureMask_.Empty() && measureMask_.Width() == header_.biWidth &&
                        measureMask_.Height() == header_.biHeight;
    const PixelWalk walk = WalkOf(reflect_, rotate_);
    // Turns and reversed rows move pixels with loads that reach a few bytes
    // past the last one: they work on a copy with room behind it, never on
    // the capture side's memory. A picture whose rows only change order is
    // compared where it lies.
    if (NeedsPaddedSource(walk)) {
        const std::size_t rowBytes = static_cast<std::size_t>(width) * kFrameBytesPerPixel;
        for (int32_t y = 0; y < height; ++y)
            std::memcpy(staging_.get() + rowBytes * y, bottomRow + stride * y, rowBytes);
        bottomRow = staging_.get();
        stride = static_cast<std::ptrdiff_t>(rowBytes);
    }
    pendingHasDifference_ = differenceWanted_.load(std::memory_order_relaxed);
    pendingWhole_ = grid_.step == 1 || pictureWanted_.load(std::memory_order_relaxed);
    const unsigned writes =
        (pendingHasDifference_ ? kWriteDifference : 0u) | (pendingWhole_ ? 0u : kWriteGridLinesOnly);
    const SourceRows source{bottomRow, stride, width, height};
    pendingCounted_ = pendingLength_ - (masked ? measureMask_.MaskedBytes() : 0);
    if (grid_.step == 1) {
        // Nothing is copied out here: previous is the picture.
        const ByteChanges found = OrientAndCompare(walk, source, masked ? &measureMask_ : nullptr, strip_.get(),
                                                   previous_.get(), previous_.get(), pendingDifference_.get(), writes);
        pendingChanged_ = static_cast<int64_t>(found.changed);
        pendingDifferenceWidth_ = header_.biWidth;
        pendingDifferenceHeight_ = header_.biHeight;
        // With everything masked there is nothing to measure.
        pendingLevel_ = pendingCounted_ > 0 ? MotionLevel(found.sum, static_cast<int32_t>(pendingCounted_)) : 0;
        return;
    }
    // A larger picture is compared on its grid only, the other lines copied:
    // the level costs about what 640 x 480 costs.
    const ByteChanges found = OrientAndCompare(walk, source, masked ? &measureMask_ : nullptr, strip_.get(),
                                               previous_.get(), previous_.get(), pendingDifference_.get(), writes,
                                               &grid_);
    // The changed bytes are told as the share of the picture's counted bytes the samples found.
    pendingChanged_ = gridCounted_ > 0 ? static_cast<int64_t>(found.changed) * pendingCounted_ / gridCounted_ : 0;
    pendingDifferenceWidth_ = header_.biWidth;
    pendingDifferenceHeight_ = grid_.rows;
    pendingLevel_ = gridCounted_ > 0 && pendingCounted_ > 0
                        ? MotionLevel(found.sum, static_cast<int32_t>(gridCounted_))
                        : 0;
}

void FrameExchange::PrepareGrid() {
    const int32_t width = header_.biWidth;
    const int32_t height = header_.biHeight;
    grid_.step = width > 0 && height > 0 ? MotionGridStep(width, height) : 1;
    grid_.pictureHeight = height;
    grid_.rows = height / grid_.step;
    grid_.difference = pendingDifference_.get();
    if (grid_.step == 1) return;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * kFrameBytesPerPixel;
    gridCounted_ = static_cast<int64_t>(rowBytes) * grid_.rows;
    if (measureMask_.Empty() || measureMask_.Width() != width || measureMask_.Height() != height) return;
    // With a mask: each band's grid lines count the bytes it leaves open.
    gridCounted_ = 0;
    for (int b = 0; b < measureMask_.BandCount(); ++b) {
        const DetectorMask::Band& band = measureMask_.BandAt(b);
        int64_t lines = 0;
        for (int32_t row = band.firstRow; row < band.firstRow + band.rows; ++row) {
            const int32_t fromTop = height - 1 - row;
            if (fromTop % grid_.step == 0 && fromTop / grid_.step < grid_.rows) ++lines;
        }
        if (band.kind == DetectorMask::BandKind::kOpen) gridCounted_ += static_cast<int64_t>(rowBytes) * lines;
        if (band.kind == DetectorMask::BandKind::kMixed)
            gridCounted_ += std::count_if(band.rowMask, band.rowMask + rowBytes, [](uint8_t m) { return m != 0; }) *
                            lines;
    }
}

bool FrameExchange::PeekMeasured(Measured& measured) const {
    if (pendingFlag_.load(std::memory_order_acquire) == 0) return false;
    measured.sampleTime = sampleTime_;
    measured.level = pendingLevel_;
    measured.countedBytes = pendingCounted_;
    measured.changedBytes = pendingChanged_;
    measured.whole = pendingWhole_;
    return true;
}

int32_t FrameExchange::FetchFrame(double& sampleTime, uint8_t* buffer, int32_t& length) {
    return FetchFrame(sampleTime, buffer, length, kWriteOut | kWriteDifference);
}

int32_t FrameExchange::FetchFrame(double& sampleTime, uint8_t* buffer, int32_t& length, unsigned writes) {
    const int32_t level = CopyPending(sampleTime, buffer, length, writes, header_.biHeight);
    if (length > 0) ReturnLent();
    return level;
}

const uint8_t* FrameExchange::LendFrame(double& sampleTime, uint8_t* band, int32_t bandRows, int32_t& length,
                                        unsigned writes) {
    CopyPending(sampleTime, band, length, writes | kWriteOut, std::clamp(bandRows, 0, header_.biHeight));
    if (length > 0 && pendingWhole_) return previous_.get();
    if (length > 0) ReturnLent();
    return nullptr;
}

bool FrameExchange::CopyLastPicture(uint8_t* buffer, int32_t fromRow) {
    std::lock_guard guard(configLock_);
    if (!pendingWhole_ || buffer == nullptr) return false;
    const std::size_t rowBytes = static_cast<std::size_t>(header_.biWidth) * kFrameBytesPerPixel;
    const std::size_t from = rowBytes * static_cast<std::size_t>(std::clamp(fromRow, 0, header_.biHeight));
    const std::size_t bytes = PictureBytes(header_.biWidth, header_.biHeight);
    if (from < bytes) std::memcpy(buffer + from, previous_.get() + from, bytes - from);
    return true;
}

int32_t FrameExchange::CopyPending(double& sampleTime, uint8_t* buffer, int32_t& length, unsigned writes,
                                   int32_t rows) {
    length = 0;
    if (pendingFlag_.load(std::memory_order_acquire) == 0 || buffer == nullptr) return 0;
    sampleTime = sampleTime_;
    length = pendingLength_;
    const std::size_t bytes = static_cast<std::size_t>(header_.biWidth) * kFrameBytesPerPixel * rows;
    if ((writes & kWriteOut) != 0 && pendingWhole_) std::memcpy(buffer, previous_.get(), bytes);
    if ((writes & kWriteDifference) != 0 && pendingHasDifference_) {
        differenceWidth_ = pendingDifferenceWidth_;
        differenceHeight_ = pendingDifferenceHeight_;
        std::memcpy(difference_.get(), pendingDifference_.get(),
                    static_cast<std::size_t>(differenceWidth_) * differenceHeight_ * kFrameBytesPerPixel);
    }
    countedBytes_ = pendingCounted_;
    changedBytes_ = pendingChanged_;
    return pendingLevel_;
}

void FrameExchange::SetSourceSize(int32_t width, int32_t height) {
    {
        std::lock_guard guard(configLock_);
        // A picture of another size, measured or pending, is nothing to compare with.
        if (width != sourceWidth_.load(std::memory_order_relaxed) ||
            height != sourceHeight_.load(std::memory_order_relaxed))
            std::memset(previous_.get(), 0, PictureBytes(width, height));
        sourceWidth_.store(width, std::memory_order_relaxed);
        sourceHeight_.store(height, std::memory_order_relaxed);
    }
    ApplyOrientation();
}

void FrameExchange::ApplyOrientation() {
    const intptr_t reflect = registry_->GetHandle("VideoReflect");
    const intptr_t rotate = registry_->GetHandle("VideoRotate");
    char mask[Registry::kBufferSize];
    registry_->GetText("DetectorMask", mask);
    std::lock_guard guard(configLock_);
    // A sample measured with the old orientation is never fetched.
    pendingFlag_.store(0, std::memory_order_release);
    reflect_ = ReflectFromSetting(reflect);
    rotate_ = RotateFromSetting(rotate);
    const int32_t width = sourceWidth_.load(std::memory_order_relaxed);
    const int32_t height = sourceHeight_.load(std::memory_order_relaxed);
    if (SwapsSides(rotate_)) {
        header_.biWidth = height;
        header_.biHeight = width;
    } else {
        header_.biWidth = width;
        header_.biHeight = height;
    }
    mask_.Load(mask, header_.biWidth, header_.biHeight);
    measureMask_.CopyFrom(mask_);
    PrepareGrid();
}

void FrameExchange::MaskEdited() {
    std::lock_guard guard(configLock_);
    measureMask_.CopyFrom(mask_);
    PrepareGrid();
}

void FrameExchange::ClearBuffers() {
    std::lock_guard guard(configLock_);
    const std::size_t bytes =
        PictureBytes(sourceWidth_.load(std::memory_order_relaxed), sourceHeight_.load(std::memory_order_relaxed));
    for (uint8_t* buffer : {blank_.get(), display_.get(), difference_.get(), pendingDifference_.get(), previous_.get()})
        std::memset(buffer, 0, bytes);
    differenceWidth_ = header_.biWidth;
    differenceHeight_ = header_.biHeight;
}
