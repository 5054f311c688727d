#include "recording/jpeg_decoder.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

struct JpegDecoder::State {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr errors{};
    std::jmp_buf failed;
};

namespace {

void Bail(j_common_ptr cinfo) {
    std::longjmp(*static_cast<std::jmp_buf*>(cinfo->client_data), 1);
}

}  // namespace

JpegDecoder::JpegDecoder(int32_t maxBytes)
    : state_(std::make_unique<State>()), pixels_(new uint8_t[static_cast<std::size_t>(maxBytes)]), maxBytes_(maxBytes) {
    state_->cinfo.err = jpeg_std_error(&state_->errors);
    state_->errors.error_exit = Bail;
    state_->errors.output_message = [](j_common_ptr) {};
    jpeg_create_decompress(&state_->cinfo);
    state_->cinfo.client_data = &state_->failed;
}

JpegDecoder::~JpegDecoder() { jpeg_destroy_decompress(&state_->cinfo); }

const uint8_t* JpegDecoder::Decode(const uint8_t* jpeg, int32_t bytes, int32_t width, int32_t height) {
    jpeg_decompress_struct& cinfo = state_->cinfo;
    const std::size_t row = static_cast<std::size_t>(width) * 3;
    if (width <= 0 || height <= 0 || row * static_cast<std::size_t>(height) > static_cast<std::size_t>(maxBytes_))
        return nullptr;
    if (setjmp(state_->failed) != 0) {
        jpeg_abort_decompress(&cinfo);
        return nullptr;
    }
    jpeg_mem_src(&cinfo, jpeg, static_cast<unsigned long>(bytes));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGR;
    if (static_cast<int32_t>(cinfo.image_width) != width || static_cast<int32_t>(cinfo.image_height) != height) {
        jpeg_abort_decompress(&cinfo);
        return nullptr;
    }
    jpeg_start_decompress(&cinfo);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rowPointer = pixels_.get() + (static_cast<std::size_t>(height) - 1 - cinfo.output_scanline) * row;
        jpeg_read_scanlines(&cinfo, &rowPointer, 1);
    }
    jpeg_finish_decompress(&cinfo);
    return pixels_.get();
}
