// The engine's side of the browser page: the tool's answers to the page (page_export.h) as plain C
// functions the page's worker calls, and what the browser's runtime must do as the native one does.
// Built only into the browser's engine. One instance of the engine serves one set of files a player
// gives, run by run, as one process serves a command line; texts returned live until the next call.
#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "app/console.h"
#include "app/page_export.h"

namespace {

// The files the page was given; one set at a time, as one process serves one command line.
std::optional<tovrel::PageSession> session;

const char* Kept(std::string text) {
  static std::string kept;
  kept = std::move(text);
  return kept.c_str();
}

}  // namespace

// Prints the banner, as the tool does before anything else. Call it first: stdout then goes out line
// by line, as on a console, so that the page shows it in order with stderr's lines.
extern "C" void TovrelBanner() {
  (void)std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  tovrel::PrintBanner();
}

// Takes the files `names` ('/'-joined) given with `inspection` ("", "list" or "test") and returns their
// plan (PageSession::PlanJson). Requires: called before TovrelReads and TovrelRunInTurn.
extern "C" const char* TovrelPlan(const char* names, const char* inspection) {
  session.emplace(names, inspection);
  return Kept(session->PlanJson());
}

extern "C" const char* TovrelReads(int index) {
  return Kept(session->ReadsJson(static_cast<std::size_t>(index)));
}

extern "C" int TovrelRunInTurn(int index) { return session->RunInTurn(static_cast<std::size_t>(index)); }

// The browser's C++ runtime is built without exceptions, and its nothrow operator new then aborts the
// whole run when memory runs out. The tool expects null there, to say which file did not fit and go on
// with the next entry, as it does natively: these return what malloc returns (operator delete frees).
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size != 0 ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size != 0 ? size : 1);
}
