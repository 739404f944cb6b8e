// What the browser page asks of the tool, so that the page never restates one of its rules. Built only
// into the browser's engine, beside main, which the page runs once per command as a process of its own.
#include <string>

#include "app/plan.h"

// The plan for the files the page was given, as PlanFilesJson gives it. The text lives until the next
// call.
extern "C" const char* TovrelPlanFiles(const char* names) {
  static std::string json;
  json = tovrel::PlanFilesJson(names);
  return json.c_str();
}
