#pragma once

#include <functional>

// The caller's "main queue": the engine posts its page reports here and never waits for them.
// The application installs a hook that posts to its event loop; without a hook the reports run,
// in order, on a serial thread of the layer's own. The thread that installs a hook is taken to
// be the main thread.
namespace platform {

using MainQueueTask = std::function<void()>;
using MainQueueHook = std::function<void(MainQueueTask)>;

void SetMainQueueHook(MainQueueHook hook);
void PostToMainQueue(MainQueueTask task);
// Runs `task` on the main queue and returns once it has run. On the main thread itself it runs
// at once; without a hook it runs on the caller's thread.
void PerformOnMainQueueAndWait(const MainQueueTask& task);
// Waits until every task posted to the layer's own serial thread has run (tests).
void DrainDefaultMainQueue();

}  // namespace platform
