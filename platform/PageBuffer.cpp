#include "platform/PageBuffer.h"

#include <sys/mman.h>

namespace dravnel::platform {

PageBuffer::PageBuffer(size_t bytes) {
    if (bytes == 0) return;
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    data_ = static_cast<uint8_t*>(p);
    size_ = bytes;
}

void PageBuffer::Release() noexcept {
    if (data_) munmap(data_, size_);
    data_ = nullptr;
    size_ = 0;
}

}  // namespace dravnel::platform
