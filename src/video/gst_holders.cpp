#include "video/gst_holders.h"

#include <gst/gst.h>
#include <gst/video/video.h>

namespace gst_holders {
void Release::operator()(void* object) const { gst_object_unref(object); }
void Release::operator()(GstSample* sample) const { gst_sample_unref(sample); }
void Release::operator()(GstCaps* caps) const { gst_caps_unref(caps); }
void Release::operator()(GstStructure* structure) const { gst_structure_free(structure); }
void Release::operator()(GstVideoInfo* info) const { gst_video_info_free(info); }
void Release::operator()(char* text) const { g_free(text); }
void Release::operator()(GList* devices) const { g_list_free_full(devices, gst_object_unref); }
}  // namespace gst_holders

GlibError::~GlibError() { g_clear_error(&error_); }

const char* GlibError::Message(const char* fallback) const {
    return error_ && error_->message ? error_->message : fallback;
}
