// What the browser page asks of the tool's own rules, so that the page never restates one. Built only
// into the browser's engine, beside main, which the page runs once per command as a process of its own.
#include <algorithm>
#include <string>
#include <vector>

#include "app/plan.h"

namespace {

// `text` as a JSON string.
std::string Json(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20) {
      static const char kHex[] = "0123456789abcdef";
      quoted += "\\u00";
      quoted += kHex[byte >> 4];
      quoted += kHex[byte & 15];
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

const char* ModeName(tovrel::RunMode mode) {
  switch (mode) {
    case tovrel::RunMode::kPack:
      return "pack";
    case tovrel::RunMode::kUnpack:
      return "unpack";
    case tovrel::RunMode::kList:
      return "list";
    case tovrel::RunMode::kTest:
      return "test";
    case tovrel::RunMode::kNothing:
      break;
  }
  return "nothing";
}

}  // namespace

// The plan for the files `names` given to the page together, each name without a folder and the names
// joined by '/' (which no file name holds), as JSON: {"runs": [{"mode", "target", "args"}...]}, where
// "args" is the command line that makes the run alone, and "none": why there is no run (or "").
// The text lives until the next call.
extern "C" const char* TovrelPlanFiles(const char* names) {
  const std::string joined = names;
  std::vector<std::string> given;
  for (std::size_t start = 0, end; start < joined.size(); start = end + 1) {
    end = std::min(joined.find('/', start), joined.size());
    if (end > start) given.push_back(joined.substr(start, end - start));
  }
  const std::vector<tovrel::Run> runs = tovrel::PlanFiles(given);
  static std::string json;
  json = "{\"runs\":[";
  for (const tovrel::Run& run : runs) {
    if (&run != &runs.front()) json += ',';
    json += "{\"mode\":\"" + std::string(ModeName(run.mode)) + "\",\"target\":" + Json(run.target) +
            ",\"args\":[" + Json(run.target) + "]}";
  }
  json += "],\"none\":" + Json(runs.empty() ? tovrel::NoRunReason() : "") + "}";
  return json.c_str();
}
