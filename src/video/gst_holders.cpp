#include "video/gst_holders.h"

#include <gst/gst.h>
#include <gst/video/video.h>

namespace gst_holders {
void ObjectUnref::operator()(void* object) const { gst_object_unref(object); }
void SampleUnref::operator()(GstSample* sample) const { gst_sample_unref(sample); }
void CapsUnref::operator()(GstCaps* caps) const { gst_caps_unref(caps); }
void StructureFree::operator()(GstStructure* structure) const { gst_structure_free(structure); }
void VideoInfoFree::operator()(GstVideoInfo* info) const { gst_video_info_free(info); }
void TextFree::operator()(char* text) const { g_free(text); }
void DeviceListFree::operator()(GList* devices) const { g_list_free_full(devices, gst_object_unref); }
}  // namespace gst_holders

GlibError::~GlibError() { g_clear_error(&error_); }

const char* GlibError::Message(const char* fallback) const {
    return error_ && error_->message ? error_->message : fallback;
}
