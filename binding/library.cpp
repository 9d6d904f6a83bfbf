// bind::library::find(): which file the loader bound the module's driver
// import to, asked of the bound address (see library.hpp).  Compiled into
// each module on its own, so that <windows.h> meets no driver header.
#include "library.hpp"  // first: Python.h before the system headers

#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#endif

namespace bind {
namespace library {

namespace {

const char* const mark = simulator_mark;

#if defined(_WIN32)
HMODULE module_at(const void* address) {
    HMODULE m = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(address), &m))
        return nullptr;
    return m;
}

bool inside(HMODULE m, const unsigned char* p) {
    auto base = reinterpret_cast<const unsigned char*>(m);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return p >= base && p < base + nt->OptionalHeader.SizeOfImage;
}

// An imported function's address taken in this module is its import thunk
// here (jmp [slot], perhaps behind an incremental-link jmp); the slot holds
// the address the loader bound.
const void* bound_address(const void* fn) {
    HMODULE self = module_at(reinterpret_cast<const void*>(&bound_address));
    auto p = static_cast<const unsigned char*>(fn);
    for (int hop = 0; hop < 4 && self && inside(self, p); ++hop) {
        int32_t rel;
        if (p[0] == 0xE9) {
            std::memcpy(&rel, p + 1, 4);
            p = p + 5 + rel;
        } else if (p[0] == 0xFF && p[1] == 0x25) {
            std::memcpy(&rel, p + 2, 4);
#if defined(_WIN64)
            const unsigned char* slot = p + 6 + rel;  // rip-relative
#else
            auto slot = reinterpret_cast<const unsigned char*>(static_cast<uintptr_t>(static_cast<uint32_t>(rel)));
#endif
            const void* target;
            std::memcpy(&target, slot, sizeof target);
            p = static_cast<const unsigned char*>(target);
        } else {
            break;
        }
    }
    return p;
}
#endif

}  // namespace

Bound find() {
    Bound b{std::string(), false};
#if defined(_WIN32)
    HMODULE lib = module_at(bound_address(driver_function()));
    if (!lib || lib == module_at(reinterpret_cast<const void*>(&find))) return b;
    std::wstring wide(32768, L'\0');
    DWORD n = GetModuleFileNameW(lib, &wide[0], (DWORD)wide.size());
    if (n == 0 || n >= wide.size()) return b;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)n, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return b;
    b.path.resize(bytes);
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)n, &b.path[0], bytes, nullptr, nullptr);
    b.simulator = GetProcAddress(lib, mark) != nullptr;
#else
    Dl_info info, self;
    if (!dladdr(driver_function(), &info) || !info.dli_fname || !*info.dli_fname) return b;
    if (dladdr(reinterpret_cast<const void*>(&find), &self) && self.dli_fbase == info.dli_fbase) return b;
    b.path = info.dli_fname;
    if (b.path[0] != '/') {  // found through a relative LD_LIBRARY_PATH entry
        char full[PATH_MAX];
        if (realpath(info.dli_fname, full)) b.path = full;
    }
    if (void* h = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD)) {
        b.simulator = dlsym(h, mark) != nullptr;
        dlclose(h);
    }
#endif
    return b;
}

// The recording's writes (record.hpp): here, beside the system headers.
bool write_all(long long file, const char* data, size_t size) {
    while (size) {
#if defined(_WIN32)
        DWORD done = 0;
        const DWORD part = size > 0x40000000u ? 0x40000000u : (DWORD)size;
        if (!WriteFile(reinterpret_cast<HANDLE>((intptr_t)file), data, part, &done, nullptr) || !done) return false;
#else
        const ssize_t done = ::write((int)file, data, size);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
#endif
        data += done;
        size -= (size_t)done;
    }
    return true;
}

}  // namespace library
}  // namespace bind
