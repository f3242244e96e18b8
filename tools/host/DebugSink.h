// A host debug sink that records every line with its level.
//
// Thread-safety: OnDebugInfo and every reader may run on any thread at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "quarnel/HostObjects.h"

namespace dravnel::host {

struct DebugLine {
    int level = 0;
    bool nullText = false;
    std::string text;
};

class DebugSink : public dravnel::ipcapture::IHostDebugSink {
public:
    void OnDebugInfo(const dravnel::CDebugInfoIf* info) override;

    std::vector<DebugLine> Lines() const;
    size_t Count() const;
    // Lines whose text contains `part`.
    size_t CountContaining(const std::string& part) const;
    bool Contains(const std::string& part) const { return CountContaining(part) > 0; }
    // Waits until a line containing `part` has arrived.
    bool WaitFor(const std::string& part, std::chrono::milliseconds timeout) const;
    void Clear();
    // Called for each line as it arrives (the CLI prints through it).
    void SetListener(std::function<void(const DebugLine&)> listener);

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<DebugLine> lines_;
    std::function<void(const DebugLine&)> listener_;
};

}  // namespace dravnel::host
