#pragma once

#include <functional>
#include <vector>

#include "base/Handles.h"

namespace Orvane {

// Starts `work` on a new thread and hands back the thread's handle; a null
// handle when the system cannot create one (the work is then not run).
KernelHandle StartThread(std::function<void()> work);

// The threads one owner started, each waited for until it has ended entirely.
// A thread still runs after its work returns: the C++ runtime destroys what
// the work left behind and the system's DLLs see it leave. Only the thread's
// handle tells when none of that runs any more, so an owner that goes once a
// counter kept by the work falls to zero may free what the thread's last steps
// use, and a process that exits then has threads in its heap while the static
// objects are destroyed. Used from the owner's thread only.
class OwnedThreads {
public:
    OwnedThreads() = default;
    // Waits for every thread, however long: its owner cancels its work first.
    ~OwnedThreads();
    OwnedThreads(const OwnedThreads&) = delete;
    OwnedThreads& operator=(const OwnedThreads&) = delete;

    // Takes a started thread's handle; a null one is ignored.
    void Add(KernelHandle thread);
    // Waits up to `timeoutMs` (INFINITE: however long) for every thread to
    // end. True when none is left.
    bool WaitAll(unsigned timeoutMs);

private:
    // Closes the handles of threads that have ended.
    void Forget();

    std::vector<KernelHandle> threads_;
};

}  // namespace Orvane
