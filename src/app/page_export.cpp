// The page's questions, answered by the tool's own plan.
#include "app/page_export.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/plan.h"
#include "archive/archive_format.h"

namespace tovrel {

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
      char escaped[7];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

// Why files given together make no run, as the page says it.
std::string NoRunReason() {
  return std::string("None of these files is a save (") + kSaveExtension + ") or an archive (" +
         kArchiveExtension + ").";
}

}  // namespace

std::string PlanFilesJson(const std::string& names) {
  std::vector<std::string> given;
  for (std::size_t start = 0, end; start < names.size(); start = end + 1) {
    end = std::min(names.find('/', start), names.size());
    if (end > start) given.push_back(names.substr(start, end - start));
  }
  const Plan plan = MakeFilesPlan(given, Inspection::kNone);
  std::string json = "{\"runs\":[";
  for (const Run& run : plan.runs) {
    if (&run != &plan.runs.front()) json += ',';
    const std::string target = Json(run.target.given);
    json += std::string("{\"mode\":") + (run.mode == RunMode::kPack ? "\"pack\"" : "\"unpack\"") +
            ",\"target\":" + target + ",\"args\":[" + target + "]}";
  }
  return json + "],\"none\":" + Json(plan.runs.empty() ? NoRunReason() : "") + "}";
}

}  // namespace tovrel
