// Binary-interface conventions shared by the host SDK and the driver.
//
// Hosts on Windows are built with Microsoft's compiler, which gives a virtual destructor one table
// slot (a scalar deleting destructor taking a flags word) where GCC gives it two, on 32-bit and
// 64-bit x86 alike. Slot 0 of every host-facing interface is therefore declared through
// NORVANE_SLOT0, so that both compilers agree on the position of every later slot. Elsewhere slot 0
// is an ordinary virtual destructor. Member functions use __thiscall on 32-bit x86 only; 64-bit
// Windows has one calling convention.
#pragma once

#include <stdint.h>

#if defined(_WIN32) && defined(__GNUC__) && defined(__i386__) && !defined(_MSC_VER)
#define NORVANE_MS_SLOT0 1
#define NORVANE_THISCALL __thiscall
#elif defined(_WIN32) && defined(__GNUC__) && defined(__x86_64__) && !defined(_MSC_VER)
#define NORVANE_MS_SLOT0 1
#define NORVANE_THISCALL
#else
#define NORVANE_MS_SLOT0 0
#define NORVANE_THISCALL
#endif

#if defined(_WIN32)
#define NORVANE_CDECL __cdecl
#define NORVANE_EXPORT
#else
#define NORVANE_CDECL
#define NORVANE_EXPORT __attribute__((visibility("default")))
#endif

// Flag bit of the scalar deleting destructor that asks for the memory to be freed as well.
#define NORVANE_DELETE_FLAG 1u

#if NORVANE_MS_SLOT0
// Slot 0 in Microsoft's layout: one scalar deleting destructor. The interface's own destructor is
// protected and non-virtual, so it occupies no slot.
#define NORVANE_SLOT0(Iface)                                                                       \
public:                                                                                            \
    virtual void* NORVANE_THISCALL ScalarDeletingDestructor(unsigned flags) = 0;                   \
                                                                                                   \
protected:                                                                                         \
    ~Iface() = default;                                                                            \
                                                                                                   \
public:

// An interface that extends another keeps the protected, non-virtual destructor.
#define NORVANE_DERIVED_SLOT0(Iface)                                                               \
protected:                                                                                         \
    ~Iface() = default;                                                                            \
                                                                                                   \
public:

// The destructor of a class implementing an interface is declared `virtual ~C()
// NORVANE_DTOR_OVERRIDE;`: here it overrides nothing in the interface (its GCC slots come after
// every interface slot, where no host looks); elsewhere it overrides slot 0.
#define NORVANE_DTOR_OVERRIDE

// Implements slot 0 in a concrete class: destroys the object through its own virtual destructor
// and frees it when the flags ask for it.
#define NORVANE_IMPLEMENT_SLOT0(Class)                                                             \
public:                                                                                            \
    void* NORVANE_THISCALL ScalarDeletingDestructor(unsigned flags) override {                     \
        if (flags & NORVANE_DELETE_FLAG) {                                                         \
            delete this;                                                                           \
        } else {                                                                                   \
            this->~Class();                                                                        \
        }                                                                                          \
        return this;                                                                               \
    }
#else
#define NORVANE_SLOT0(Iface)                                                                       \
public:                                                                                            \
    virtual ~Iface() = default;

#define NORVANE_DERIVED_SLOT0(Iface) public:
#define NORVANE_DTOR_OVERRIDE override
#define NORVANE_IMPLEMENT_SLOT0(Class)
#endif

#ifdef __cplusplus
namespace norvane {

// DestroyThroughSlot0 deletes an object handed across the binary interface the way its creator
// expects: through slot 0, in its deleting form. Null is ignored.
template <class T>
inline void DestroyThroughSlot0(T* object) {
    if (object == nullptr) {
        return;
    }
#if NORVANE_MS_SLOT0
    object->ScalarDeletingDestructor(NORVANE_DELETE_FLAG);
#else
    delete object;
#endif
}

} // namespace norvane
#endif
