#include <windows.h>

#include "platform/PageBuffer.h"

namespace dravnel::platform {

PageBuffer::PageBuffer(size_t bytes) {
    if (bytes == 0) return;
    void* p = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!p) throw std::bad_alloc();
    data_ = static_cast<uint8_t*>(p);
    size_ = bytes;
}

void PageBuffer::Release() noexcept {
    if (data_) VirtualFree(data_, 0, MEM_RELEASE);
    data_ = nullptr;
    size_ = 0;
}

}  // namespace dravnel::platform
