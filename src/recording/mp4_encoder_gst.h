#pragma once

#include <memory>

#include "recording/h264_file_encoder.h"

// The H.264 MP4 writer on GStreamer: appsrc -> videoconvert -> encoder ->
// h264parse -> mp4mux -> filesink. The encoder is the first that works of a
// VA-API one (when a VA device answers), x264enc and openh264enc; none gives
// a null pointer. The MP4 keeps its index at the front, rewritten twice
// a second, so a file cut off by a crash plays up to its last rewrite.
std::unique_ptr<H264FileEncoder> CreateGstH264Encoder();
