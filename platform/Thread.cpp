#include "platform/Thread.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>

#include "platform/Process.h"

namespace dravnel::platform {

#ifdef _WIN32
void SetCurrentThreadName(const std::string& name) {
    // SetThreadDescription is there from Windows 10 1607 on; older systems
    // keep their threads unnamed.
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    static const auto set = reinterpret_cast<SetDescription>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
    if (!set) return;
    std::wstring wide(name.begin(), name.end());
    set(GetCurrentThread(), wide.c_str());
}
#else
void SetCurrentThreadName(const std::string& name) { pthread_setname_np(pthread_self(), name.substr(0, 15).c_str()); }
#endif

Thread::~Thread() {
    if (!thread_.joinable()) return;
    if (IsCurrent()) {
        thread_.detach();  // an object destroyed by its own thread cannot wait for it
        return;
    }
    thread_.join();
}

bool Thread::Start(std::function<void()> body) {
    if (thread_.joinable()) return false;
    auto finished = std::make_shared<Event>(Event::Mode::Manual);
    std::shared_ptr<Event> signal = finished;
    // The body waits until this object knows its thread, so that it may ask
    // IsCurrent() or Running() at once.
    struct Handshake {
        std::mutex mutex;
        std::condition_variable changed;
        uint32_t id = 0;
        bool go = false;
    };
    auto handshake = std::make_shared<Handshake>();
    id_ = 0;
    try {
        thread_ = std::thread([signal, handshake, body = std::move(body)]() mutable {
            {
                std::unique_lock<std::mutex> lock(handshake->mutex);
                handshake->id = CurrentThreadId();
                handshake->changed.notify_all();
                handshake->changed.wait(lock, [&] { return handshake->go; });
            }
            body();
            signal->Set();
        });
    } catch (const std::system_error&) {
        return false;
    }
    finished_ = std::move(finished);
    std::unique_lock<std::mutex> lock(handshake->mutex);
    handshake->changed.wait(lock, [&] { return handshake->id != 0; });
    id_ = handshake->id;
    handshake->go = true;
    handshake->changed.notify_all();
    return true;
}

bool Thread::Running() const { return thread_.joinable() && finished_ && !finished_->IsSet(); }

bool Thread::IsCurrent() const { return thread_.joinable() && thread_.get_id() == std::this_thread::get_id(); }

bool Thread::WaitFinished(uint32_t timeoutMs) {
    if (!thread_.joinable()) return true;
    return finished_->Wait(timeoutMs);
}

bool Thread::Join() {
    if (!thread_.joinable()) return true;
    if (IsCurrent()) return false;
    thread_.join();
    finished_.reset();
    id_ = 0;
    return true;
}

}  // namespace dravnel::platform
