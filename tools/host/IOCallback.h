// The host's I/O callback, recording input changes and failures.
//
// Thread-safety: callbacks may arrive on any thread; readers may run at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

#include "quarnel/HostObjects.h"

namespace dravnel::host {

class IOCallback : public dravnel::ipcapture::ICaptureIOCallback {
public:
    void OnInputStateChanged(unsigned index, int state) override;
    void OnIOFailure() override;

    std::vector<std::pair<unsigned, int>> Changes() const;
    size_t FailureCount() const;
    bool WaitForChanges(size_t count, std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::pair<unsigned, int>> changes_;
    size_t failures_ = 0;
};

}  // namespace dravnel::host
