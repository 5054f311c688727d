#pragma once

#include <memory>

// Owning holders for the GStreamer and GLib objects the capture keeps or
// borrows: each releases its object the way its library asks, on every way
// out of a scope. Only the type names are needed here, so a header that
// holds them needs no GStreamer.
typedef struct _GError GError;
typedef struct _GList GList;
typedef struct _GstCaps GstCaps;
typedef struct _GstSample GstSample;
typedef struct _GstStructure GstStructure;
typedef struct _GstVideoInfo GstVideoInfo;

namespace gst_holders {
// Gives back whatever GStreamer or GLib object it is handed, each the way its
// kind is released.
struct Release {
    void operator()(void* object) const;  // any GstObject
    void operator()(GstSample* sample) const;
    void operator()(GstCaps* caps) const;
    void operator()(GstStructure* structure) const;
    void operator()(GstVideoInfo* info) const;
    void operator()(char* text) const;
    // A list of devices from a device monitor, each element a reference.
    void operator()(GList* devices) const;
};
}  // namespace gst_holders

// Any GstObject (element, bus, monitor, device, factory).
template <typename T>
using GstObjectHolder = std::unique_ptr<T, gst_holders::Release>;
using GstSampleHolder = std::unique_ptr<GstSample, gst_holders::Release>;
using GstCapsHolder = std::unique_ptr<GstCaps, gst_holders::Release>;
using GstStructureHolder = std::unique_ptr<GstStructure, gst_holders::Release>;
using GstVideoInfoHolder = std::unique_ptr<GstVideoInfo, gst_holders::Release>;
using GlibText = std::unique_ptr<char, gst_holders::Release>;
using DeviceListHolder = std::unique_ptr<GList, gst_holders::Release>;

// Where a GLib call reports its error; freed when it goes out of scope.
class GlibError {
public:
    GlibError() = default;
    ~GlibError();
    GlibError(const GlibError&) = delete;
    GlibError& operator=(const GlibError&) = delete;
    GError** Out() { return &error_; }
    explicit operator bool() const { return error_ != nullptr; }
    // The error's text, or fallback when there is none.
    const char* Message(const char* fallback) const;

private:
    GError* error_ = nullptr;
};
