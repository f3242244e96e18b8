// Memory taken from the OS in whole pages and given back whole.
//
// A receive thread lives for one streaming session. A buffer it took from the
// C heap would sit in that thread's allocator arena and, freed when the
// session ends, leave a hole there that smaller, longer-lived allocations
// then pin: a process that reconnects for months keeps growing. Pages from
// the OS go back entire on release, and pages nothing wrote to never become
// resident.
//
// Thread-safety: none of its own; one owner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace dravnel::platform {

class PageBuffer {
public:
    PageBuffer() = default;
    // Zero-filled pages for `bytes` (none for 0); throws std::bad_alloc when
    // the OS has no room, as new does.
    explicit PageBuffer(size_t bytes);
    ~PageBuffer() { Release(); }
    PageBuffer(PageBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    PageBuffer& operator=(PageBuffer&& other) noexcept {
        if (this != &other) {
            Release();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    PageBuffer(const PageBuffer&) = delete;
    PageBuffer& operator=(const PageBuffer&) = delete;

    uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }

    // `count` value-initialised objects of a trivially destructible T at
    // `offset`, which the caller keeps aligned for T and within Size().
    template <class T>
    T* Construct(size_t offset, size_t count) {
        static_assert(std::is_trivially_destructible_v<T>);
        T* first = reinterpret_cast<T*>(data_ + offset);
        std::uninitialized_value_construct_n(first, count);
        return std::launder(first);
    }

private:
    void Release() noexcept;

    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

// Offsets of arrays laid one after another in one block, each aligned for
// its type.
class BlockLayout {
public:
    template <class T>
    size_t Add(size_t count) {
        const size_t at = (end_ + alignof(T) - 1) / alignof(T) * alignof(T);
        end_ = at + count * sizeof(T);
        return at;
    }
    size_t Size() const { return end_; }

private:
    size_t end_ = 0;
};

}  // namespace dravnel::platform
