#include "recording/jpeg_encoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
// After jpeglib.h, which it needs.
#include <jerror.h>

#include "recording/shot_data.h"

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

struct Destination {
    jpeg_destination_mgr pub;
    MemorySink* sink;
    JOCTET* buffer;
};

void ErrorExit(j_common_ptr cinfo) {
    longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings are not worth a line per frame; errors are reported by Encode.
void OutputMessage(j_common_ptr) {}

void InitDestination(j_compress_ptr cinfo) {
    Destination* destination = reinterpret_cast<Destination*>(cinfo->dest);
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = JpegEncoder::kDestinationBytes;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    Destination* destination = reinterpret_cast<Destination*>(cinfo->dest);
    const std::size_t n = JpegEncoder::kDestinationBytes;
    if (destination->sink->Append(destination->buffer, n) != n) ERREXIT(cinfo, JERR_FILE_WRITE);
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = n;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    Destination* destination = reinterpret_cast<Destination*>(cinfo->dest);
    const std::size_t n = JpegEncoder::kDestinationBytes - destination->pub.free_in_buffer;
    if (n > 0 && destination->sink->Append(destination->buffer, n) != n) ERREXIT(cinfo, JERR_FILE_WRITE);
}

// Holds no C++ objects, so the error handler may longjmp back into it.
bool CompressRows(jpeg_compress_struct* cinfo, ErrorManager* errors, const uint8_t* pixels, int width,
                  int height, int quality) {
    if (setjmp(errors->jump) != 0) {
        jpeg_abort_compress(cinfo);
        return false;
    }
    cinfo->image_width = static_cast<JDIMENSION>(width);
    cinfo->image_height = static_cast<JDIMENSION>(height);
    jpeg_set_quality(cinfo, quality, TRUE);
    jpeg_start_compress(cinfo, TRUE);
    const std::size_t stride = static_cast<std::size_t>(width) * 3;
    // Memory holds the bottom row first; the JPEG wants the top row first.
    while (cinfo->next_scanline < cinfo->image_height) {
        const std::size_t rowIndex = static_cast<std::size_t>(height) - cinfo->next_scanline - 1;
        JSAMPROW row = const_cast<JSAMPROW>(pixels + rowIndex * stride);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

}  // namespace

struct JpegEncoder::State {
    MemorySink sink{kSinkCapacity};
    ErrorManager errors{};
    Destination destination{};
    jpeg_compress_struct cinfo{};
    bool failing = false;  // Reports a run of failures once.
};

JpegEncoder::JpegEncoder() : state_(new State), capacity_(ShotData::kBufferBytes) {
    State& s = *state_;
    s.cinfo.err = jpeg_std_error(&s.errors.pub);
    s.errors.pub.error_exit = ErrorExit;
    s.errors.pub.output_message = OutputMessage;
    jpeg_create_compress(&s.cinfo);
    s.destination.sink = &s.sink;
    // Allocated once for the encoder's whole life, not per picture.
    s.destination.buffer = static_cast<JOCTET*>(
        (*s.cinfo.mem->alloc_small)(reinterpret_cast<j_common_ptr>(&s.cinfo), JPOOL_PERMANENT, kDestinationBytes));
    s.destination.pub.init_destination = InitDestination;
    s.destination.pub.empty_output_buffer = EmptyOutputBuffer;
    s.destination.pub.term_destination = TermDestination;
    s.cinfo.dest = &s.destination.pub;
    s.cinfo.image_width = 640;
    s.cinfo.image_height = 480;
    s.cinfo.input_components = 3;
    // Reading blue-green-red directly gives the same bytes as swapping to RGB first.
    s.cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&s.cinfo);
    jpeg_set_quality(&s.cinfo, kDefaultQuality, TRUE);
}

JpegEncoder::~JpegEncoder() { jpeg_destroy_compress(&state_->cinfo); }

const MemorySink& JpegEncoder::Sink() const { return state_->sink; }

bool JpegEncoder::EncodePicture(const uint8_t* pixels, int width, int height, int quality) {
    State& s = *state_;
    s.sink.Clear();
    if (pixels == nullptr || width < 1 || height < 1) return false;
    if (!CompressRows(&s.cinfo, &s.errors, pixels, width, height, quality)) {
        if (!s.failing) {
            char message[JMSG_LENGTH_MAX];
            (*s.errors.pub.format_message)(reinterpret_cast<j_common_ptr>(&s.cinfo), message);
            std::fprintf(stderr, "recording: JPEG encoder failed: %s\n", message);
        }
        s.failing = true;
        return false;
    }
    if (s.sink.Overflowed() || s.sink.Length() == 0 || s.sink.Length() > static_cast<std::size_t>(capacity_)) {
        if (!s.failing && s.sink.Length() > 0) {
            std::fprintf(stderr, "recording: JPEG picture of %dx%d is larger than %d bytes, dropped\n", width,
                         height, capacity_);
        }
        s.failing = true;
        return false;
    }
    s.failing = false;
    return true;
}

int JpegEncoder::Encode(ShotData& shot) {
    const int32_t n = shot.frameBytes;
    const int32_t w = shot.frameWidth;
    const int32_t h = shot.frameHeight;
    if (n < 1 || n > ShotData::kBufferBytes || w < 1 || h < 1 ||
        static_cast<int64_t>(w) * h * 3 != static_cast<int64_t>(n)) {
        shot.encodeStatus = 2;
        return 1;
    }
    shot.encodeStatus = 0;
    if (!EncodePicture(shot.picture.get(), w, h, shot.quality)) {
        shot.encodeStatus = 1;
        return 1;
    }
    const MemorySink& sink = state_->sink;
    shot.jpegBytes = static_cast<int32_t>(sink.Length());
    shot.jpegWidth = w;
    shot.jpegHeight = h;
    std::memcpy(shot.jpeg.get(), sink.Data(), sink.Length());
    shot.encodedTime = shot.captureTime;
    return 0;
}
