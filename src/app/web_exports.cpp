// What the browser page asks of the tool's own rules, so that the page never restates one. Built only
// into the browser's engine, beside main, which the page runs once per command as a process of its own.
#include <cstdlib>
#include <new>

#include "app/commands.h"

// The FileKind of the file name `name`: 0 another file, 1 a save to pack, 2 an archive to unpack.
extern "C" int TovrelFileKind(const char* name) { return static_cast<int>(tovrel::KindOf(name)); }

// The browser's C++ runtime is built without exceptions, and its nothrow operator new then aborts the
// whole run when memory runs out. The tool expects null there, to say which file did not fit and go on
// with the next entry, as it does natively: these return what malloc returns (operator delete frees).
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size != 0 ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size != 0 ? size : 1); }
