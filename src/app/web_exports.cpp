// What the browser page asks of the tool, so that the page never restates one of its rules, and what
// the browser's runtime must do as the native one does. Built only into the browser's engine, beside
// main, which the page runs once per command as a process of its own.
#include <cstdlib>
#include <new>
#include <string>

#include "app/page_export.h"

// The plan for the files the page was given, as PlanFilesJson gives it. The text lives until the next
// call.
extern "C" const char* TovrelPlanFiles(const char* names) {
  static std::string json;
  json = tovrel::PlanFilesJson(names);
  return json.c_str();
}

// The browser's C++ runtime is built without exceptions, and its nothrow operator new then aborts the
// whole run when memory runs out. The tool expects null there, to say which file did not fit and go on
// with the next entry, as it does natively: these return what malloc returns (operator delete frees).
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size != 0 ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size != 0 ? size : 1);
}
