#include "recording/recording_status.h"

#include "core/free_space.h"
#include "core/language_table.h"
#include "core/registry.h"

namespace {

// The language file's text of key with %1 and %2 filled in.
std::string Filled(Registry& registry, const char* key, const std::string& first, const std::string& second) {
    auto* table = registry.Find<LanguageTable>("_CL_Language");
    std::string text = table && table->Text(key) ? table->Text(key) : key;
    for (const auto& [mark, value] : {std::pair{"%1", &first}, std::pair{"%2", &second}}) {
        const std::size_t at = text.find(mark);
        if (at != std::string::npos) text.replace(at, 2, *value);
    }
    return text;
}

}  // namespace

std::string RecordingStatus::ProblemText(const Snapshot& status, Registry& registry, int64_t limitBytes) {
    if (!status.active) return "";
    const std::string& folder = status.failureFolder;
    switch (status.failure) {
        case RecordingFailure::kNoSpace:
            // While some space remains the limit, not the disk, stops recording.
            if (status.freeBytes > 0 && BelowSpaceLimit(status.freeBytes, limitBytes))
                return Filled(registry, "StatusLowSpace", folder, std::to_string(limitBytes / 1048576));
            return Filled(registry, "StatusNoSpace", folder, "");
        case RecordingFailure::kNotWritable:
            return Filled(registry, "StatusNotWritable", folder, "");
        case RecordingFailure::kWriteFailed:
            return Filled(registry, "StatusWriteFailed", folder, "");
        case RecordingFailure::kEncoderFailed:
            return Filled(registry, "StatusEncoderFailed", folder, "");
        case RecordingFailure::kNone:
            break;
    }
    return "";
}

void RecordingStatus::SetFailure(RecordingFailure failure, const std::string& folder) {
    if (failure == Failure() && failure == RecordingFailure::kNone) return;
    {
        std::lock_guard guard(textLock_);
        failureFolder_ = folder;
    }
    failure_.store(static_cast<int32_t>(failure), std::memory_order_release);
}

void RecordingStatus::SetOpenFile(const std::string& name) {
    std::lock_guard guard(textLock_);
    fileName_ = name;
}

RecordingStatus::Snapshot RecordingStatus::Read() const {
    Snapshot snapshot;
    snapshot.active = active_.load(std::memory_order_acquire) != 0;
    snapshot.idle = static_cast<RecordingIdle>(idle_.load(std::memory_order_relaxed));
    snapshot.failure = Failure();
    snapshot.frames = frames_.load(std::memory_order_acquire);
    snapshot.freeBytes = freeBytes_.load(std::memory_order_acquire);
    snapshot.dropped = dropped_.load(std::memory_order_acquire);
    std::lock_guard guard(textLock_);
    snapshot.failureFolder = failureFolder_;
    snapshot.fileName = fileName_;
    return snapshot;
}
