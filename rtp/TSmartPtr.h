// A reference-counted pointer to an object with a virtual destructor, shared
// by several owners (RTP sources, the preset storage). The last owner to let
// go deletes the object.
//
// Thread-safety: the count is atomic, so copies may be made and dropped on
// different threads; one TSmartPtr object is used by one thread at a time.
#pragma once

#include <cstddef>
#include <memory>

namespace dravnel {

template <class T>
class TSmartPtr {
public:
    TSmartPtr() = default;
    // Takes ownership of a new object (count 1); null gives an empty pointer.
    explicit TSmartPtr(T* object) : ptr_(object) {}
    TSmartPtr(std::nullptr_t) {}

    // Drops the old object, then takes ownership of the new one.
    TSmartPtr& operator=(T* object) {
        ptr_.reset();
        if (object) ptr_.reset(object);
        return *this;
    }

    void Release() { ptr_.reset(); }

    T* get() const { return ptr_.get(); }
    T* operator->() const { return ptr_.get(); }
    T& operator*() const { return *ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    long UseCount() const { return ptr_.use_count(); }

    friend bool operator==(const TSmartPtr& a, const TSmartPtr& b) { return a.ptr_ == b.ptr_; }

private:
    std::shared_ptr<T> ptr_;
};

}  // namespace dravnel
