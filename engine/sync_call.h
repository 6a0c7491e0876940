// Calls onto the main thread, and waits on the main thread that keep serving such calls.
#pragma once

#include <chrono>
#include <functional>

// True on the thread that runs the application's event loop (or when there is no application
// object, on every thread: then there is no loop to hand calls to).
bool IsMainThread();

// True on the thread that runs the application's event loop; false when there is no application.
bool OnEventLoopThread();

// Runs AMethod on the main thread and returns after it has run. On the main thread, or when no
// application object exists, calls it directly.
void SyncCall(const std::function<void()> &AMethod);

// Dispatches every pending event of the calling thread's loop, queued calls included.
void ProcessPendingMessages();

// Waits until ADone() holds or ATimeout passes. On the main thread the wait goes in 20 ms slices
// and serves queued calls between them, so that workers blocked in SyncCall can finish.
// Returns ADone() at the end.
bool WaitServing(const std::function<bool()> &ADone,
                 std::chrono::milliseconds ATimeout = std::chrono::milliseconds::max());
