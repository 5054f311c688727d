#include "video/capture_sources.h"

#include <gst/gst.h>

#include <cstring>

#include "core/registry.h"

namespace {

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
    if (const GstStructureHolder props{gst_device_get_properties(device)}) {
        for (const char* key : {"device.bus_path", "v4l2.device.bus_info", "device.serial", "device.path"}) {
            const char* value = gst_structure_get_string(props.get(), key);
            if (value && *value) return value;
        }
    }
    const GlibText name(gst_device_get_display_name(device));
    return name ? name.get() : "";
}

bool FindConfiguredSource(Registry& registry, const char* wanted, CaptureSource& source) {
    for (int i = 1; i <= VideoCapture::kSourceSettings; ++i) {
        std::string name;
        std::string pipeline;
        const std::string key = "VideoSource" + std::to_string(i);
        if (!ParseSourceSetting(registry.GetString(key.c_str()), i, name, pipeline)) continue;
        char identifier[33];
        VideoCapture::DeviceIdentifier(pipeline.c_str(), identifier);
        if (std::strcmp(identifier, wanted) != 0) continue;
        source.kind = SourceKind::Configured;
        source.description = pipeline;
        CopyCut(source.name, name.c_str(), sizeof source.name - 1);
        return true;
    }
    return false;
}

}  // namespace

void CopyCut(char* dst, const char* src, std::size_t limit) {
    std::size_t length = std::strlen(src);
    if (length > limit) {
        length = limit;
        while (length > 0 && (static_cast<unsigned char>(src[length]) & 0xC0) == 0x80) --length;
    }
    std::memcpy(dst, src, length);
    dst[length] = '\0';
}

int FillDeviceList(GstDeviceMonitor* monitor, Registry& registry, DeviceList& list) {
    std::memset(&list, 0, sizeof list);
    std::strcpy(list.entries[0].name, VideoCapture::kDefaultId);
    std::strcpy(list.entries[0].identifier, VideoCapture::kDefaultId);
    int next = 1;
    int cameras = 0;
    if (monitor) {
        const DeviceListHolder devices(gst_device_monitor_get_devices(monitor));
        for (GList* item = devices.get(); item && cameras < VideoCapture::kMaxCameras; item = item->next) {
            GstDevice* device = GST_DEVICE(item->data);
            DeviceEntry& entry = list.entries[next++];
            ++cameras;
            if (const GlibText name{gst_device_get_display_name(device)})
                CopyCut(entry.name, name.get(), sizeof entry.name - 1);
            VideoCapture::DeviceIdentifier(CameraText(device).c_str(), entry.identifier);
        }
    }
    for (int i = 1; i <= VideoCapture::kSourceSettings && next < DeviceList::kCapacity - 1; ++i) {
        std::string name;
        std::string pipeline;
        const std::string key = "VideoSource" + std::to_string(i);
        if (!ParseSourceSetting(registry.GetString(key.c_str()), i, name, pipeline)) continue;
        DeviceEntry& entry = list.entries[next++];
        CopyCut(entry.name, name.c_str(), sizeof entry.name - 1);
        VideoCapture::DeviceIdentifier(pipeline.c_str(), entry.identifier);
    }
    std::strcpy(list.entries[next].name, VideoCapture::kTestPatternName);
    std::strcpy(list.entries[next].identifier, VideoCapture::kTestPatternId);
    list.count = next + 1;
    return cameras;
}

bool FindSource(GstDeviceMonitor* monitor, Registry& registry, const char* wanted, CaptureSource& source) {
    if (std::strcmp(wanted, VideoCapture::kTestPatternId) == 0) {
        source.kind = SourceKind::TestPattern;
        std::strcpy(source.name, VideoCapture::kTestPatternName);
        return true;
    }
    const bool anyCamera = std::strcmp(wanted, VideoCapture::kDefaultId) == 0;
    if (!anyCamera && FindConfiguredSource(registry, wanted, source)) return true;
    if (!monitor) return false;
    const DeviceListHolder devices(gst_device_monitor_get_devices(monitor));
    for (GList* item = devices.get(); item; item = item->next) {
        GstDevice* device = GST_DEVICE(item->data);
        if (!anyCamera) {
            char identifier[33];
            VideoCapture::DeviceIdentifier(CameraText(device).c_str(), identifier);
            if (std::strcmp(identifier, wanted) != 0) continue;
        }
        const GlibText name(gst_device_get_display_name(device));
        if (!name || !*name) continue;
        GstElement* element = gst_device_create_element(device, nullptr);
        if (!element) continue;
        source.kind = SourceKind::Camera;
        source.element.reset(GST_ELEMENT(gst_object_ref_sink(element)));
        CopyCut(source.name, name.get(), sizeof source.name - 1);
        return true;
    }
    return false;
}
