#include "core/save_request.h"

#include "core/registry.h"

SaveRequest* SaveRequest::Of(Registry& registry) { return registry.Find<SaveRequest>("_SaveRequest"); }

void SaveRequest::AskFor(Registry& registry) {
    if (SaveRequest* request = Of(registry)) request->Ask();
}

bool SaveRequest::SaveNowFor(Registry& registry) {
    SaveRequest* request = Of(registry);
    return request && request->SaveNow();
}
