// Small owners of the Win32 resources kel.exe holds, so that every path
// releases them.
#pragma once
#include <windows.h>
#include <utility>

// A movable global memory block (GlobalAlloc with GMEM_MOVEABLE).
class GlobalBlock {
public:
    GlobalBlock() = default;
    GlobalBlock(SIZE_T bytes, UINT flags = GMEM_MOVEABLE | GMEM_ZEROINIT) : h_(GlobalAlloc(flags, bytes)) {}
    ~GlobalBlock() { reset(); }
    GlobalBlock(GlobalBlock&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
    GlobalBlock& operator=(GlobalBlock&& o) noexcept { if (this != &o) { reset(); h_ = std::exchange(o.h_, nullptr); } return *this; }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;
    HGLOBAL get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    void reset() { if (h_) { GlobalFree(h_); h_ = nullptr; } }
private:
    HGLOBAL h_ = nullptr;
};

// GlobalLock for the lifetime of the object.
class GlobalLockGuard {
public:
    explicit GlobalLockGuard(HGLOBAL h) : h_(h), p_(h ? GlobalLock(h) : nullptr) {}
    ~GlobalLockGuard() { if (p_) GlobalUnlock(h_); }
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
    void* get() const { return p_; }
private:
    HGLOBAL h_;
    void* p_;
};

// A reserved region of address space (VirtualAlloc with MEM_RESERVE); the
// library commits pages inside it as the string heap grows.
class ReservedRegion {
public:
    explicit ReservedRegion(SIZE_T bytes)
        : p_(VirtualAlloc(nullptr, bytes, MEM_RESERVE, PAGE_READWRITE)), size_(p_ ? bytes : 0) {}
    ~ReservedRegion() { if (p_) VirtualFree(p_, 0, MEM_RELEASE); }
    ReservedRegion(const ReservedRegion&) = delete;
    ReservedRegion& operator=(const ReservedRegion&) = delete;
    void* get() const { return p_; }
    SIZE_T size() const { return size_; }
private:
    void* p_;
    SIZE_T size_;
};

// A file handle from CreateFile.
class FileHandle {
public:
    explicit FileHandle(HANDLE h) : h_(h) {}
    ~FileHandle() { if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE get() const { return h_; }
    bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
private:
    HANDLE h_;
};

// A loaded library.
class Module {
public:
    explicit Module(HMODULE m) : m_(m) {}
    ~Module() { if (m_) FreeLibrary(m_); }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    HMODULE get() const { return m_; }
private:
    HMODULE m_;
};
