#pragma once

#include <cstddef>
#include <string>

#include "video/gst_holders.h"
#include "video/video_capture.h"

typedef struct _GstDeviceMonitor GstDeviceMonitor;
typedef struct _GstElement GstElement;
class Registry;

// Finding the sources the capture can connect to: the cameras a device
// monitor sees, the configured pipelines "VideoSource1".."VideoSource4" and
// the built-in test pattern. UI thread only.

enum class SourceKind { Camera, TestPattern, Configured };

struct CaptureSource {
    SourceKind kind = SourceKind::Camera;
    GstObjectHolder<GstElement> element;  // A camera's source element.
    std::string description;              // Pipeline text of a configured source.
    char name[128] = {};
};

// Copies at most limit bytes of src into dst without splitting a UTF-8 sequence.
void CopyCut(char* dst, const char* src, std::size_t limit);
// Fills list and returns how many real cameras it holds; monitor may be null.
int FillDeviceList(GstDeviceMonitor* monitor, Registry& registry, DeviceList& list);
// The source whose identifier is wanted ("Default": the first camera).
bool FindSource(GstDeviceMonitor* monitor, Registry& registry, const char* wanted, CaptureSource& source);
