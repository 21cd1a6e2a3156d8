#pragma once

#include <functional>

// The caller's "main queue": the engine posts its page reports here and never waits for them.
// The application installs a hook that posts to its event loop; without a hook the reports run,
// in order, on a serial thread of the layer's own.
namespace platform {

using MainQueueTask = std::function<void()>;
using MainQueueHook = std::function<void(MainQueueTask)>;

void SetMainQueueHook(MainQueueHook hook);
void PostToMainQueue(MainQueueTask task);
// Waits until every task posted to the layer's own serial thread has run (tests).
void DrainDefaultMainQueue();

}  // namespace platform
