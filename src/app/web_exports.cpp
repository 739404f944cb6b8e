// What the browser page asks of the tool's own rules, so that the page never restates one. Built only
// into the browser's engine, beside main, which the page runs once per command as a process of its own.
#include "app/commands.h"

// The FileKind of the file name `name`: 0 another file, 1 a save to pack, 2 an archive to unpack.
extern "C" int TovrelFileKind(const char* name) { return static_cast<int>(tovrel::KindOf(name)); }
