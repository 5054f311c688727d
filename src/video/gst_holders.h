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
struct ObjectUnref {
    void operator()(void* object) const;
};
struct SampleUnref {
    void operator()(GstSample* sample) const;
};
struct CapsUnref {
    void operator()(GstCaps* caps) const;
};
struct StructureFree {
    void operator()(GstStructure* structure) const;
};
struct VideoInfoFree {
    void operator()(GstVideoInfo* info) const;
};
struct TextFree {
    void operator()(char* text) const;
};
// A list of devices from a device monitor, each element a reference.
struct DeviceListFree {
    void operator()(GList* devices) const;
};
}  // namespace gst_holders

// Any GstObject (element, bus, monitor, device, factory).
template <typename T>
using GstObjectHolder = std::unique_ptr<T, gst_holders::ObjectUnref>;
using GstSampleHolder = std::unique_ptr<GstSample, gst_holders::SampleUnref>;
using GstCapsHolder = std::unique_ptr<GstCaps, gst_holders::CapsUnref>;
using GstStructureHolder = std::unique_ptr<GstStructure, gst_holders::StructureFree>;
using GstVideoInfoHolder = std::unique_ptr<GstVideoInfo, gst_holders::VideoInfoFree>;
using GlibText = std::unique_ptr<char, gst_holders::TextFree>;
using DeviceListHolder = std::unique_ptr<GList, gst_holders::DeviceListFree>;

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
