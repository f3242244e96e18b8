#include "threads/CBaseThread.h"

namespace dravnel {

CBaseThread::CBaseThread(IDebugMessage* logger) : logger_(logger) {}

CBaseThread::~CBaseThread() { StopThread(2000); }

bool CBaseThread::StartThread(const std::string& name) {
    stopEvent_.Reset();
    if (thread_.Held()) {
        if (thread_.Running()) return false;
        thread_.Join();
    }
    name_ = name;
    return thread_.Start([this] {
        // The OS name (15 characters at most) helps when reading thread lists.
        platform::SetCurrentThreadName(name_);
        Run();
    });
}

bool CBaseThread::Finish(unsigned timeoutMs, const char* operation, bool terminates) {
    stopEvent_.Set();
    if (!thread_.Held()) return true;
    if (thread_.IsCurrent()) return false;
    const uint32_t id = thread_.Id();
    if (!thread_.WaitFinished(timeoutMs)) {
        // Killing a thread would leave its locks and memory behind: a stop
        // warns as the message has always read, then waits for it after all.
        if (logger_) {
            logger_->DebugMessage(
                kLevelWarning, "%s: Thread (id=%u, name=\"%s\") was not stopped during %lu milliseconds%s", operation,
                id, name_.c_str(), static_cast<unsigned long>(timeoutMs), terminates ? " and will be terminated!" : "");
        }
        thread_.WaitFinished(platform::kInfinite);
        if (logger_) {
            logger_->DebugMessage(kLevelInfo, "%s: Thread (id=%u, name=\"%s\") was stopped correctly", operation, id,
                                  name_.c_str());
        }
    }
    thread_.Join();
    return true;
}

bool CBaseThread::JoinThread(unsigned timeoutMs) {
    return Finish(timeoutMs, "dravnel::CBaseThread::JoinThread", false);
}

bool CBaseThread::StopThread(unsigned timeoutMs) { return Finish(timeoutMs, "dravnel::CBaseThread::StopThread", true); }

}  // namespace dravnel
