#include "video/video_capture.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "core/message_poster.h"
#include "core/registry.h"
#include "video/capture_sources.h"
#include "video/frame.h"
#include "video/frame_exchange.h"

namespace {

constexpr const char* kSinkName = "vistrel_sink";

std::string SizeCaps(const char* media, int32_t width, int32_t height) {
    return std::string(media) + ",width=(int)" + std::to_string(width) + ",height=(int)" + std::to_string(height);
}

std::string RangeCaps(const char* media) {
    return std::string(media) + ",width=(int)[1," + std::to_string(kFrameMaxWidth) + "],height=(int)[1," +
           std::to_string(kFrameMaxHeight) + "]";
}

// The camera is asked for the wanted size first, then for any format up to
// 640 x 480, and only then for anything it has (scaled down afterwards).
std::string CameraCaps(int32_t width, int32_t height) {
    std::string caps;
    if (width > 0) {
        caps = SizeCaps("video/x-raw", width, height) + ";" + SizeCaps("image/jpeg", width, height) + ";";
    }
    return caps + RangeCaps("video/x-raw") + ";" + RangeCaps("image/jpeg") + ";video/x-raw;image/jpeg";
}

// Converts and scales into the Frame's pixel format and ends in the appsink;
// the rows are turned bottom-up as the sample is copied out.
std::string Tail(int32_t width, int32_t height) {
    const std::string size =
        width > 0 ? SizeCaps("video/x-raw,format=BGR", width, height) : RangeCaps("video/x-raw,format=BGR");
    return "videoconvert ! videoscale ! capsfilter caps=\"" + size +
           ",pixel-aspect-ratio=(fraction)1/1\" ! appsink name=" + kSinkName +
           " caps=\"video/x-raw,format=BGR\" max-buffers=1 drop=true enable-last-sample=false";
}

// A buffer mapped for reading as a video frame while this is in scope.
class MappedFrame {
public:
    MappedFrame(GstVideoInfo* info, GstBuffer* buffer)
        : mapped_(gst_video_frame_map(&frame_, info, buffer, GST_MAP_READ)) {}
    ~MappedFrame() {
        if (mapped_) gst_video_frame_unmap(&frame_);
    }
    MappedFrame(const MappedFrame&) = delete;
    MappedFrame& operator=(const MappedFrame&) = delete;
    bool Mapped() const { return mapped_; }
    const GstVideoFrame* Get() const { return &frame_; }

private:
    GstVideoFrame frame_{};
    bool mapped_;
};

}  // namespace

// Trampolines with the signatures GStreamer calls, on its streaming threads.
struct VideoCapture::Callbacks {
    static void Eos(GstAppSink*, gpointer self) { static_cast<VideoCapture*>(self)->OnEnd(nullptr); }

    static GstFlowReturn NewSample(GstAppSink* sink, gpointer self) {
        static_cast<VideoCapture*>(self)->DeliverSample(sink);
        return GST_FLOW_OK;
    }

    static GstBusSyncReply BusMessage(GstBus*, GstMessage* message, gpointer self) {
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            GlibError error;
            gst_message_parse_error(message, error.Out(), nullptr);
            static_cast<VideoCapture*>(self)->OnEnd(error.Message("stream error"));
        } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
            static_cast<VideoCapture*>(self)->OnEnd(nullptr);
        }
        // Nobody pops this bus: every message is dropped once seen, and a
        // handler that drops a message owns it.
        gst_message_unref(message);
        return GST_BUS_DROP;
    }
};

VideoCapture::VideoCapture(Registry& registry) : registry_(&registry) {
    registry.SetHandle("_VideoCapture", this);
    exchange_ = registry.Find<FrameExchange>("_VideoDataCls");
    window_ = registry.Find<MessagePoster>("_MainHwnd");
    GlibError error;
    initialised_ = gst_init_check(nullptr, nullptr, error.Out());
    if (!initialised_) {
        std::fprintf(stderr, "capture: cannot start GStreamer: %s\n", error.Message("unknown error"));
        return;
    }
    cachedInfo_.reset(gst_video_info_new());
    monitor_.reset(gst_device_monitor_new());
    gst_device_monitor_add_filter(monitor_.get(), "Video/Source", nullptr);
}

VideoCapture::~VideoCapture() { StopGraph(); }

void VideoCapture::ResolutionSize(intptr_t value, int32_t& width, int32_t& height) {
    switch (value) {
        case 1: width = 640, height = 480; break;
        case 2: width = 320, height = 240; break;
        case 3: width = 160, height = 120; break;
        default: width = 0, height = 0; break;
    }
}

const char* VideoCapture::ResolutionName(intptr_t value) {
    switch (value) {
        case 1: return "640 x 480";
        case 2: return "320 x 240";
        case 3: return "160 x 120";
        default: return "Default";
    }
}

void VideoCapture::DeviceIdentifier(const char* text, char* out) {
    const std::size_t length = std::min<std::size_t>(std::strlen(text), Registry::kMaxValue);
    const GlibText digest(g_compute_checksum_for_string(G_CHECKSUM_MD5, text, static_cast<gssize>(length)));
    CopyCut(out, digest ? digest.get() : "", 32);
}

void VideoCapture::ListDevices(DeviceList& list) { FillDeviceList(monitor_.get(), *registry_, list); }

bool VideoCapture::SelectedDevicePresent() {
    std::string wanted = registry_->GetString("VideoDeviceId");
    if (wanted.empty()) wanted = kDefaultId;
    DeviceList list;
    const int cameras = FillDeviceList(monitor_.get(), *registry_, list);
    if (wanted == kDefaultId) return cameras > 0;
    for (int i = 1; i < list.count; ++i) {
        if (wanted == list.entries[i].identifier) return true;
    }
    return false;
}

GstObjectHolder<GstElement> VideoCapture::BuildPipeline(CaptureSource& source, int32_t width, int32_t height,
                                                        std::string& error) {
    GlibError parseError;
    GstObjectHolder<GstElement> pipeline;
    const std::string tail = Tail(width, height);
    if (source.kind == SourceKind::Camera) {
        const std::string back = "capsfilter caps=\"" + CameraCaps(width, height) + "\" ! decodebin ! " + tail;
        GstElement* bin = gst_parse_bin_from_description_full(back.c_str(), TRUE, nullptr,
                                                              GST_PARSE_FLAG_FATAL_ERRORS, parseError.Out());
        if (bin) {
            pipeline.reset(gst_pipeline_new("capture"));
            GstElement* camera = source.element.get();
            gst_bin_add_many(GST_BIN(pipeline.get()), camera, bin, nullptr);
            source.element.reset();  // The pipeline holds it from here.
            if (!gst_element_link(camera, bin)) {
                error = "the camera offers no usable picture format";
                return nullptr;
            }
        }
    } else {
        std::string text;
        if (source.kind == SourceKind::TestPattern) {
            // The built-in source's own format is the largest picture the program takes.
            const std::string size = width > 0 ? SizeCaps("video/x-raw", width, height)
                                               : SizeCaps("video/x-raw", kFrameMaxWidth, kFrameMaxHeight);
            // The clock comes from the Pango plugins; without them the ball still moves.
            const GstObjectHolder<GstElementFactory> clock(gst_element_factory_find("clockoverlay"));
            const char* overlay = clock ? "clockoverlay halignment=right valignment=top shaded-background=true ! " : "";
            text = "videotestsrc is-live=true pattern=ball ! capsfilter caps=\"" + size + "\" ! " + overlay + tail;
        } else {
            text = source.description + " ! decodebin ! " + tail;
        }
        pipeline.reset(gst_parse_launch_full(text.c_str(), nullptr, GST_PARSE_FLAG_FATAL_ERRORS, parseError.Out()));
        if (pipeline && !GST_IS_PIPELINE(pipeline.get())) {
            pipeline.reset();
            if (!parseError) error = "not a pipeline";
        }
    }
    if (parseError) error = parseError.Message("");
    if (!pipeline) {
        if (error.empty()) error = "cannot build the pipeline";
        return nullptr;
    }
    const GstObjectHolder<GstElement> sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), kSinkName));
    if (!sink) {
        error = "the pipeline has no picture output";
        return nullptr;
    }
    GstAppSinkCallbacks callbacks{};
    callbacks.eos = &Callbacks::Eos;
    callbacks.new_sample = &Callbacks::NewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink.get()), &callbacks, this, nullptr);
    const GstObjectHolder<GstBus> bus(gst_element_get_bus(pipeline.get()));
    gst_bus_set_sync_handler(bus.get(), &Callbacks::BusMessage, this, nullptr);
    return pipeline;
}

bool VideoCapture::Connect() {
    ConnectState state = StartConnect();
    if (state == ConnectState::Pending) {
        int32_t width = 0;
        int32_t height = 0;
        WaitForFormat(width, height);
        state = FinishConnect();
        if (state == ConnectState::Pending) StopGraph();
    }
    return state == ConnectState::Connected;
}

VideoCapture::ConnectState VideoCapture::StartConnect() {
    std::string wanted = registry_->GetString("VideoDeviceId");
    if (wanted.empty()) wanted = kDefaultId;
    const intptr_t resolution = registry_->GetHandle("VideoResolution");
    if (connected_ && wanted == connectedId_ && resolution == connectedResolution_)
        return ConnectState::Unchanged;
    if (pending_ && wanted == pendingId_ && resolution == pendingResolution_) return ConnectState::Pending;
    StopGraph();
    if (!initialised_ || !exchange_) {
        Report(Failure::Build, wanted, "no GStreamer or no frame exchange");
        return ConnectState::Failed;
    }
    CaptureSource source;
    if (!FindSource(monitor_.get(), *registry_, wanted.c_str(), source)) {
        Report(Failure::NotFound, wanted,
               wanted == kDefaultId ? "no camera found" : ("camera " + wanted + " not found").c_str());
        return ConnectState::Failed;
    }
    int32_t width = 0;
    int32_t height = 0;
    ResolutionSize(resolution, width, height);
    std::string error;
    pipeline_ = BuildPipeline(source, width, height, error);
    if (!pipeline_) {
        Report(Failure::Build, wanted, ("\"" + std::string(source.name) + "\": " + error).c_str());
        return ConnectState::Failed;
    }
    std::memcpy(sourceName_, source.name, sizeof sourceName_);
    pendingId_ = wanted;
    pendingResolution_ = resolution;
    if (width > 0) Accept(width, height);
    // Wanted before the pipeline runs, so no first offer or early end goes unposted.
    else settleWanted_.store(true, std::memory_order_release);
    if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        const std::string why = TakeError();
        settleWanted_.store(false, std::memory_order_release);
        ReleasePipeline(false);
        Report(Failure::Start, wanted, ("cannot start \"" + std::string(source.name) + "\": " + why).c_str());
        return ConnectState::Failed;
    }
    if (width == 0) {
        pending_ = true;
        return ConnectState::Pending;
    }
    Complete();
    return ConnectState::Connected;
}

VideoCapture::ConnectState VideoCapture::FinishConnect() {
    if (!pending_) return ConnectState::Unchanged;
    int32_t width = 0;
    int32_t height = 0;
    {
        std::lock_guard guard(mutex_);
        width = offeredWidth_;
        height = offeredHeight_;
    }
    if (width > 0) {
        pending_ = false;
        Accept(width, height);
        Complete();
        return ConnectState::Connected;
    }
    if (!ended_.load(std::memory_order_acquire)) return ConnectState::Pending;
    StopGraph();
    return ConnectState::Failed;
}

void VideoCapture::Complete() {
    registry_->SetText("_VideoDeviceStName", sourceName_);
    connectedId_ = pendingId_;
    connectedResolution_ = pendingResolution_;
    connected_ = true;
}

void VideoCapture::PostSettled() {
    if (settleWanted_.exchange(false, std::memory_order_acq_rel) && window_)
        window_->Post(kSettledMessage, 0, 0);
}

void VideoCapture::ReportNoPicture(const std::string& why) {
    const std::string text =
        "\"" + std::string(sourceName_) + "\" gave no picture: " + (why.empty() ? "no format agreed" : why);
    Report(Failure::Negotiate, pendingId_, text.c_str());
}

void VideoCapture::Accept(int32_t width, int32_t height) {
    exchange_->SetSourceSize(width, height);
    acceptedWidth_.store(width, std::memory_order_relaxed);
    acceptedHeight_.store(height, std::memory_order_relaxed);
    accepting_.store(true, std::memory_order_release);
}

bool VideoCapture::WaitForFormat(int32_t& width, int32_t& height) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(kNegotiateTimeoutMs),
                      [this] { return offeredWidth_ > 0 || ended_.load(std::memory_order_acquire); });
    if (offeredWidth_ <= 0) return false;
    width = offeredWidth_;
    height = offeredHeight_;
    return true;
}

std::string VideoCapture::TakeError() {
    std::lock_guard guard(mutex_);
    std::string text = errorText_;
    if (text.empty() && ended_.load(std::memory_order_acquire)) text = "end of stream";
    errorText_[0] = '\0';
    return text;
}

bool VideoCapture::StopGraph() {
    const bool wasConnected = connected_;
    if (pending_) {
        // A source stopped before it offered a picture failed to connect.
        pending_ = false;
        settleWanted_.store(false, std::memory_order_release);
        const std::string why = TakeError();
        ReleasePipeline(false);
        ReportNoPicture(why);
        return false;
    }
    ReleasePipeline(true);
    connected_ = false;
    return wasConnected;
}

void VideoCapture::ReleasePipeline(bool report) {
    if (!pipeline_) return;
    accepting_.store(false, std::memory_order_release);
    // Returns once every streaming thread of the pipeline has ended.
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    gst_bus_set_sync_handler(GstObjectHolder<GstBus>(gst_element_get_bus(pipeline_.get())).get(), nullptr, nullptr,
                             nullptr);
    pipeline_.reset();
    cachedCaps_.reset();
    if (report) {
        const bool ended = ended_.load(std::memory_order_acquire);
        const std::string why = TakeError();
        if (!why.empty()) {
            Report(ended && why == "end of stream" ? Failure::Ended : Failure::Stream, connectedId_,
                   ("\"" + std::string(sourceName_) + "\" stopped: " + why).c_str());
        } else if (samplesDelivered_.load(std::memory_order_acquire) > 0) {
            // A source that worked until it was stopped may report its next failure again.
            reportedFailure_ = Failure::None;
        }
    }
    std::lock_guard guard(mutex_);
    offeredWidth_ = 0;
    offeredHeight_ = 0;
    errorText_[0] = '\0';
    ended_.store(false, std::memory_order_release);
    samplesDelivered_.store(0, std::memory_order_release);
}

void VideoCapture::Report(Failure failure, const std::string& id, const char* text) {
    if (failure == reportedFailure_ && id == reportedId_) return;
    reportedFailure_ = failure;
    reportedId_ = id;
    std::fprintf(stderr, "capture: %s\n", text);
}

void VideoCapture::OnEnd(const char* errorText) {
    {
        std::lock_guard guard(mutex_);
        if (errorText && errorText_[0] == '\0') CopyCut(errorText_, errorText, sizeof errorText_ - 1);
        ended_.store(true, std::memory_order_release);
    }
    changed_.notify_all();
    PostSettled();
}

void VideoCapture::DeliverSample(GstAppSink* sink) {
    const GstSampleHolder sample(gst_app_sink_pull_sample(sink));
    if (!sample) return;
    GstCaps* caps = gst_sample_get_caps(sample.get());
    GstBuffer* buffer = gst_sample_get_buffer(sample.get());
    if (caps && caps != cachedCaps_.get() && gst_video_info_from_caps(cachedInfo_.get(), caps))
        cachedCaps_.reset(gst_caps_ref(caps));
    if (!buffer || !cachedCaps_ || caps != cachedCaps_.get()) return;
    const int32_t width = GST_VIDEO_INFO_WIDTH(cachedInfo_.get());
    const int32_t height = GST_VIDEO_INFO_HEIGHT(cachedInfo_.get());
    if (!accepting_.load(std::memory_order_acquire)) {
        {
            std::lock_guard guard(mutex_);
            if (offeredWidth_ == 0) {
                offeredWidth_ = width;
                offeredHeight_ = height;
            }
        }
        changed_.notify_all();
        PostSettled();
        return;
    }
    const int32_t rowBytes = width * kFrameBytesPerPixel;
    // A sample of another size than the one announced is never passed on.
    if (width != acceptedWidth_.load(std::memory_order_relaxed) ||
        height != acceptedHeight_.load(std::memory_order_relaxed) || rowBytes * height > kFrameBytes)
        return;
    const MappedFrame frame(cachedInfo_.get(), buffer);
    if (!frame.Mapped()) return;
    const auto* plane = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(frame.Get(), 0));
    const int32_t stride = GST_VIDEO_FRAME_PLANE_STRIDE(frame.Get(), 0);
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    const double seconds = GST_CLOCK_TIME_IS_VALID(pts) ? static_cast<double>(pts) / GST_SECOND : 0.0;
    // The pipeline delivers rows top-down, padded or not: walking them up
    // from the last one gives the bottom-up picture, measured where it lies.
    exchange_->PutSampleRows(seconds, plane + std::ptrdiff_t{stride} * (height - 1), -std::ptrdiff_t{stride}, width,
                             height);
    samplesDelivered_.fetch_add(1, std::memory_order_release);
}
