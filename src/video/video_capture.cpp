#include "video/video_capture.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "core/message_poster.h"
#include "core/registry.h"
#include "video/frame.h"
#include "video/frame_exchange.h"

namespace {

constexpr const char* kSinkName = "vistrel_sink";

// Copies at most limit bytes of src without splitting a UTF-8 sequence.
void CopyCut(char* dst, const char* src, std::size_t limit) {
    std::size_t length = std::strlen(src);
    if (length > limit) {
        length = limit;
        while (length > 0 && (static_cast<unsigned char>(src[length]) & 0xC0) == 0x80) --length;
    }
    std::memcpy(dst, src, length);
    dst[length] = '\0';
}

// "name|pipeline" of one "VideoSourceN" setting; false when it names no pipeline.
bool ParseSourceSetting(const std::string& value, int index, std::string& name, std::string& pipeline) {
    const std::size_t bar = value.find('|');
    if (bar == std::string::npos) {
        name = "VideoSource" + std::to_string(index);
        pipeline = value;
    } else {
        name = value.substr(0, bar);
        pipeline = value.substr(bar + 1);
    }
    if (pipeline.find_first_not_of(" \t") == std::string::npos) return false;
    if (name.empty()) name = "VideoSource" + std::to_string(index);
    return true;
}

// The text that stays the same for a camera across replugs into the same
// port and across /dev/videoN renumbering: the udev bus path first.
std::string CameraText(GstDevice* device) {
    std::string text;
    if (GstStructure* props = gst_device_get_properties(device)) {
        for (const char* key : {"device.bus_path", "v4l2.device.bus_info", "device.serial", "device.path"}) {
            const char* value = gst_structure_get_string(props, key);
            if (value && *value) {
                text = value;
                break;
            }
        }
        gst_structure_free(props);
    }
    if (text.empty()) {
        gchar* name = gst_device_get_display_name(device);
        if (name) text = name;
        g_free(name);
    }
    return text;
}

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
            GError* error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            static_cast<VideoCapture*>(self)->OnEnd(error && error->message ? error->message : "stream error");
            g_clear_error(&error);
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
    GError* error = nullptr;
    initialised_ = gst_init_check(nullptr, nullptr, &error);
    if (!initialised_) {
        std::fprintf(stderr, "capture: cannot start GStreamer: %s\n", error ? error->message : "unknown error");
        g_clear_error(&error);
        return;
    }
    cachedInfo_ = gst_video_info_new();
    monitor_ = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor_, "Video/Source", nullptr);
}

VideoCapture::~VideoCapture() {
    StopGraph();
    if (monitor_) gst_object_unref(monitor_);
    if (cachedInfo_) gst_video_info_free(cachedInfo_);
}

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
    gchar* digest = g_compute_checksum_for_string(G_CHECKSUM_MD5, text, static_cast<gssize>(length));
    CopyCut(out, digest ? digest : "", 32);
    g_free(digest);
}

void VideoCapture::ListDevices(DeviceList& list) { FillList(list); }

int VideoCapture::FillList(DeviceList& list) {
    std::memset(&list, 0, sizeof list);
    std::strcpy(list.entries[0].name, kDefaultId);
    std::strcpy(list.entries[0].identifier, kDefaultId);
    int next = 1;
    int cameras = 0;
    if (monitor_) {
        GList* devices = gst_device_monitor_get_devices(monitor_);
        for (GList* item = devices; item && cameras < kMaxCameras; item = item->next) {
            GstDevice* device = GST_DEVICE(item->data);
            DeviceEntry& entry = list.entries[next++];
            ++cameras;
            if (gchar* name = gst_device_get_display_name(device)) {
                CopyCut(entry.name, name, sizeof entry.name - 1);
                g_free(name);
            }
            DeviceIdentifier(CameraText(device).c_str(), entry.identifier);
        }
        g_list_free_full(devices, gst_object_unref);
    }
    for (int i = 1; i <= kSourceSettings && next < DeviceList::kCapacity - 1; ++i) {
        std::string name;
        std::string pipeline;
        const std::string key = "VideoSource" + std::to_string(i);
        if (!ParseSourceSetting(registry_->GetString(key.c_str()), i, name, pipeline)) continue;
        DeviceEntry& entry = list.entries[next++];
        CopyCut(entry.name, name.c_str(), sizeof entry.name - 1);
        DeviceIdentifier(pipeline.c_str(), entry.identifier);
    }
    std::strcpy(list.entries[next].name, kTestPatternName);
    std::strcpy(list.entries[next].identifier, kTestPatternId);
    list.count = next + 1;
    return cameras;
}

bool VideoCapture::SelectedDevicePresent() {
    std::string wanted = registry_->GetString("VideoDeviceId");
    if (wanted.empty()) wanted = kDefaultId;
    DeviceList list;
    const int cameras = FillList(list);
    if (wanted == kDefaultId) return cameras > 0;
    for (int i = 1; i < list.count; ++i) {
        if (wanted == list.entries[i].identifier) return true;
    }
    return false;
}

bool VideoCapture::FindConfiguredSource(const char* wanted, Source& source) {
    for (int i = 1; i <= kSourceSettings; ++i) {
        std::string name;
        std::string pipeline;
        const std::string key = "VideoSource" + std::to_string(i);
        if (!ParseSourceSetting(registry_->GetString(key.c_str()), i, name, pipeline)) continue;
        char identifier[33];
        DeviceIdentifier(pipeline.c_str(), identifier);
        if (std::strcmp(identifier, wanted) != 0) continue;
        source.kind = SourceKind::Configured;
        source.description = pipeline;
        CopyCut(source.name, name.c_str(), sizeof source.name - 1);
        return true;
    }
    return false;
}

bool VideoCapture::FindSource(const char* wanted, Source& source) {
    if (std::strcmp(wanted, kTestPatternId) == 0) {
        source.kind = SourceKind::TestPattern;
        std::strcpy(source.name, kTestPatternName);
        return true;
    }
    const bool anyCamera = std::strcmp(wanted, kDefaultId) == 0;
    if (!anyCamera && FindConfiguredSource(wanted, source)) return true;
    if (!monitor_) return false;
    GList* devices = gst_device_monitor_get_devices(monitor_);
    bool found = false;
    for (GList* item = devices; item && !found; item = item->next) {
        GstDevice* device = GST_DEVICE(item->data);
        if (!anyCamera) {
            char identifier[33];
            DeviceIdentifier(CameraText(device).c_str(), identifier);
            if (std::strcmp(identifier, wanted) != 0) continue;
        }
        gchar* name = gst_device_get_display_name(device);
        if (!name || !*name) {
            g_free(name);
            continue;
        }
        GstElement* element = gst_device_create_element(device, nullptr);
        if (element) {
            source.kind = SourceKind::Camera;
            source.element = GST_ELEMENT(gst_object_ref_sink(element));
            CopyCut(source.name, name, sizeof source.name - 1);
            found = true;
        }
        g_free(name);
    }
    g_list_free_full(devices, gst_object_unref);
    return found;
}

GstElement* VideoCapture::BuildPipeline(Source& source, int32_t width, int32_t height, std::string& error) {
    GError* parseError = nullptr;
    GstElement* pipeline = nullptr;
    const std::string tail = Tail(width, height);
    if (source.kind == SourceKind::Camera) {
        const std::string back = "capsfilter caps=\"" + CameraCaps(width, height) + "\" ! decodebin ! " + tail;
        GstElement* bin =
            gst_parse_bin_from_description_full(back.c_str(), TRUE, nullptr, GST_PARSE_FLAG_FATAL_ERRORS, &parseError);
        if (bin) {
            pipeline = gst_pipeline_new("capture");
            GstElement* camera = source.element;
            source.element = nullptr;  // The pipeline owns it from here.
            gst_bin_add_many(GST_BIN(pipeline), camera, bin, nullptr);
            gst_object_unref(camera);
            if (!gst_element_link(camera, bin)) {
                error = "the camera offers no usable picture format";
                gst_object_unref(pipeline);
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
            GstElementFactory* clock = gst_element_factory_find("clockoverlay");
            const char* overlay = clock ? "clockoverlay halignment=right valignment=top shaded-background=true ! " : "";
            if (clock) gst_object_unref(clock);
            text = "videotestsrc is-live=true pattern=ball ! capsfilter caps=\"" + size + "\" ! " + overlay + tail;
        } else {
            text = source.description + " ! decodebin ! " + tail;
        }
        pipeline = gst_parse_launch_full(text.c_str(), nullptr, GST_PARSE_FLAG_FATAL_ERRORS, &parseError);
        if (pipeline && !GST_IS_PIPELINE(pipeline)) {
            gst_object_unref(pipeline);
            pipeline = nullptr;
            if (!parseError) error = "not a pipeline";
        }
    }
    if (parseError) {
        error = parseError->message;
        g_clear_error(&parseError);
    }
    if (!pipeline) {
        if (error.empty()) error = "cannot build the pipeline";
        return nullptr;
    }
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), kSinkName);
    if (!sink) {
        error = "the pipeline has no picture output";
        gst_object_unref(pipeline);
        return nullptr;
    }
    GstAppSinkCallbacks callbacks{};
    callbacks.eos = &Callbacks::Eos;
    callbacks.new_sample = &Callbacks::NewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    gst_object_unref(sink);
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(bus, &Callbacks::BusMessage, this, nullptr);
    gst_object_unref(bus);
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
    Source source;
    if (!FindSource(wanted.c_str(), source)) {
        Report(Failure::NotFound, wanted,
               wanted == kDefaultId ? "no camera found" : ("camera " + wanted + " not found").c_str());
        return ConnectState::Failed;
    }
    int32_t width = 0;
    int32_t height = 0;
    ResolutionSize(resolution, width, height);
    std::string error;
    pipeline_ = BuildPipeline(source, width, height, error);
    if (source.element) gst_object_unref(source.element);
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
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
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
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    GstBus* bus = gst_element_get_bus(pipeline_);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    gst_object_unref(pipeline_);
    pipeline_ = nullptr;
    gst_caps_replace(&cachedCaps_, nullptr);
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
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample) return;
    GstCaps* caps = gst_sample_get_caps(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (caps && caps != cachedCaps_) {
        if (gst_video_info_from_caps(cachedInfo_, caps)) {
            gst_caps_replace(&cachedCaps_, caps);
        }
    }
    if (!buffer || !cachedCaps_ || caps != cachedCaps_) {
        gst_sample_unref(sample);
        return;
    }
    const int32_t width = GST_VIDEO_INFO_WIDTH(cachedInfo_);
    const int32_t height = GST_VIDEO_INFO_HEIGHT(cachedInfo_);
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
        gst_sample_unref(sample);
        return;
    }
    const int32_t rowBytes = width * kFrameBytesPerPixel;
    // A sample of another size than the one announced is never passed on.
    if (width != acceptedWidth_.load(std::memory_order_relaxed) ||
        height != acceptedHeight_.load(std::memory_order_relaxed) || rowBytes * height > kFrameBytes) {
        gst_sample_unref(sample);
        return;
    }
    GstVideoFrame frame;
    if (gst_video_frame_map(&frame, cachedInfo_, buffer, GST_MAP_READ)) {
        const auto* plane = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
        const int32_t stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
        const GstClockTime pts = GST_BUFFER_PTS(buffer);
        const double seconds = GST_CLOCK_TIME_IS_VALID(pts) ? static_cast<double>(pts) / GST_SECOND : 0.0;
        // The pipeline delivers rows top-down, padded or not: walking them up
        // from the last one gives the bottom-up picture, measured where it lies.
        exchange_->PutSampleRows(seconds, plane + std::ptrdiff_t{stride} * (height - 1), -std::ptrdiff_t{stride},
                                 width, height);
        samplesDelivered_.fetch_add(1, std::memory_order_release);
        gst_video_frame_unmap(&frame);
    }
    gst_sample_unref(sample);
}
