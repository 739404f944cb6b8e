// The page's questions, answered by the tool's own plan, naming rules and runner.
#include "app/page_export.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/console.h"
#include "app/naming.h"
#include "app/plan.h"
#include "app/runner.h"
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

// `texts` as a JSON array of strings.
std::string JsonArray(const std::vector<std::string>& texts) {
  std::string json = "[";
  for (const std::string& text : texts) json += (json.size() > 1 ? "," : "") + Json(text);
  return json + "]";
}

Inspection InspectionOf(const std::string& inspection) {
  if (inspection == "list") return Inspection::kList;
  if (inspection == "test") return Inspection::kTest;
  return Inspection::kNone;
}

// Why files given together make no run, as the page says it.
std::string NoRunReason(Inspection inspection) {
  if (inspection != Inspection::kNone) {
    return std::string("None of these files is an archive (") + kArchiveExtension + ").";
  }
  return std::string("None of these files is a save (") + kSaveExtension + ") or an archive (" +
         kArchiveExtension + ").";
}

}  // namespace

std::vector<std::string> SplitNames(const std::string& names) {
  std::vector<std::string> split;
  std::size_t start = 0;
  for (std::size_t end; (end = names.find('/', start)) != std::string::npos; start = end + 1) {
    if (end > start) split.push_back(names.substr(start, end - start));
  }
  if (start < names.size()) split.push_back(names.substr(start));
  return split;
}

PageSession::PageSession(const std::string& names, const std::string& inspection)
    : inspection_(InspectionOf(inspection)), plan_(MakeFilesPlan(SplitNames(names), inspection_)) {}

std::string PageSession::PlanJson() const {
  std::vector<std::string> targets;
  for (const Run& run : plan_.runs) targets.push_back(run.target.given);
  return "{\"runs\":" + JsonArray(targets) +
         ",\"none\":" + Json(plan_.runs.empty() ? NoRunReason(inspection_) : "") + "}";
}

std::string PageSession::ReadsJson(std::size_t index) const {
  std::vector<std::string> reads;
  if (index < plan_.runs.size() && plan_.runs[index].target.resolved) {
    const Run& run = plan_.runs[index];
    const PathParts& parts = run.target.parts;
    if (run.mode == RunMode::kPack) {
      const std::string archivePath = ArchivePath(parts.directory, parts.baseName);
      // a save that cannot be listed reads nothing: its run says why
      (void)ListMembers(parts.directory.c_str(), parts.baseName.c_str(), archivePath,
                        /*noteLookAlikes=*/false, &reads);
    } else if (run.mode != RunMode::kNothing) {
      reads.push_back(parts.baseName + kArchiveExtension);
    }
  }
  return JsonArray(reads);
}

int PageSession::RunInTurn(std::size_t index) const {
  if (index >= plan_.runs.size()) return kExitUsage;
  const int code = tovrel::RunInTurn(plan_, index);
  (void)std::fflush(stdout);  // a "not found" line has no newline of its own
  return code;
}

}  // namespace tovrel
