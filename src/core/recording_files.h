#pragma once

#include "core/registry.h"

// Hears of the recordings and photos the program finishes and deletes, so a
// list of them stays current without looking at the folders again. Found as
// "_CL_RecordingFiles"; the calls come from the output worker, with full paths.
class RecordingFiles {
public:
    static constexpr const char* kRegistryKey = "_CL_RecordingFiles";

    virtual ~RecordingFiles() = default;
    // A recording finished or recovered, or a photo written.
    virtual void FileAdded(const char* path) = 0;
    // A recording deleted (with its side files).
    virtual void FileRemoved(const char* path) = 0;
    // The temporary file being recorded now; "" when none is open.
    virtual void RecordingOpened(const char* path) = 0;

    // The registered listener, nullptr when none is.
    static RecordingFiles* Find(Registry& registry) { return registry.Find<RecordingFiles>(kRegistryKey); }
};
