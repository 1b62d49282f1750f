// The program's global allocation functions. A failed allocation is an internal fault: it
// raises the fatal runtime error ("分配 N 字节内存失败!") instead of throwing, so it ends in the
// error box wherever it happens. The nothrow forms keep their contract and return null, so
// library code that tries a large buffer and falls back on a small one still can.
//
// Every form is defined here, deletes included, so that allocation and release always pair
// malloc with free and _aligned_malloc with _aligned_free.
#include <malloc.h>

#include <cstdlib>
#include <new>

#include "app/fault_sites.h"
#include "text/fatal_error.h"

namespace {

void* Allocate(std::size_t size) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) noexcept {
    return _aligned_malloc(size == 0 ? 1 : size, static_cast<std::size_t>(alignment));
}

[[noreturn]] void AllocationFailed(std::size_t size, fatal::Site site) {
    fatal::Raise(fatal::kNoCode, fatal::AllocationFailedText(size), site);
}

}  // namespace

void* operator new(std::size_t size) {
    if (void* p = Allocate(size)) return p;
    AllocationFailed(size, fault_site::kNew);
}

void* operator new[](std::size_t size) {
    if (void* p = Allocate(size)) return p;
    AllocationFailed(size, fault_site::kNewArray);
}

void* operator new(std::size_t size, std::align_val_t alignment) {
    if (void* p = AllocateAligned(size, alignment)) return p;
    AllocationFailed(size, fault_site::kNewAligned);
}

void* operator new[](std::size_t size, std::align_val_t alignment) {
    if (void* p = AllocateAligned(size, alignment)) return p;
    AllocationFailed(size, fault_site::kNewArrayAligned);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return AllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return AllocateAligned(size, alignment);
}

void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

void operator delete(void* p, std::align_val_t) noexcept {
    _aligned_free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    _aligned_free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    _aligned_free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    _aligned_free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    _aligned_free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    _aligned_free(p);
}
