// The list and test commands: they look at an archive without changing anything. The archive is
// opened for reading alone, no file is written and no temporary is made, so a player can check an old
// archive without putting today's save at risk.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/console.h"
#include "app/naming.h"
#include "archive/archive.h"
#include "platform/platform.h"

namespace tovrel {

namespace {

// `text` (digits or a plain heading) padded with spaces on the left to `width` characters.
std::string RightAligned(const std::string& text, std::size_t width) {
  return std::string(width - std::min(width, text.size()), ' ') + text;
}

}  // namespace

int ListArchive(const char* directory, const char* baseName) {
  return WithArchive(directory, baseName, [&](Archive& archive) {
    struct Row {
      std::string original, stored, file;
    };
    std::vector<Row> rows = {{"Original", "Stored", "File"}};
    std::uint64_t originalTotal = 0, storedTotal = 0;
    EntryRules rules(directory, baseName);
    // the same decisions, in the same order, as unpacking makes them; every entry is taken as intact
    archive.VisitEntries([&](const char* name, const ArchiveEntry& entry) {
      const EntryDecision decision = rules.Decide(name);
      std::string file = Printable(std::string(baseName) + name);
      if (decision.fate == EntryFate::kWrite) {
        rules.Count();
      } else {
        file += (decision.fate == EntryFate::kSkipped ? "  (skipped: " : "  (refused: ") +
                FateReason(decision.fate) + ")";
      }
      rows.push_back({std::to_string(entry.originalSize), std::to_string(entry.storedSize), file});
      originalTotal += entry.originalSize;
      storedTotal += entry.storedSize;
    });
    const std::size_t entries = rows.size() - 1;
    rows.push_back({std::to_string(originalTotal), std::to_string(storedTotal),
                    std::to_string(entries) + (entries == 1 ? " entry, " : " entries, ") +
                        std::to_string(rules.Files()) + (rules.Files() == 1 ? " file" : " files") +
                        " to write"});
    // the totals are the widest numbers; the names come last, so no width of theirs matters
    const std::size_t originalWidth = std::max(rows.back().original.size(), rows.front().original.size());
    const std::size_t storedWidth = std::max(rows.back().stored.size(), rows.front().stored.size());
    std::string text;
    for (const Row& row : rows) {
      text += RightAligned(row.original, originalWidth) + "  " + RightAligned(row.stored, storedWidth) +
              "  " + row.file + "\n";
    }
    WriteText(stdout, text);
    return kExitOk;
  });
}

int TestArchive(const char* directory, const char* baseName) {
  return WithArchive(directory, baseName, [&](Archive& archive) {
    std::int32_t entries = 0, damaged = 0;
    std::string text;
    archive.VisitEntries([&](const char* name, const ArchiveEntry&) {
      entries += 1;
      const std::string file = Printable(std::string(baseName) + name);
      if (archive.Verify(name)) {
        text += "intact   " + file + "\n";
      } else {
        damaged += 1;
        text += "damaged  " + file + ": " + LastFailure() + "\n";
      }
    });
    text += std::to_string(entries) + (entries == 1 ? " entry: " : " entries: ") +
            std::to_string(entries - damaged) + " intact, " + std::to_string(damaged) + " damaged\n";
    WriteText(stdout, text);
    if (damaged == 0) return kExitOk;
    ReportError("'%s' has %d damaged %s", archive.Path(), damaged, damaged == 1 ? "entry" : "entries");
    return kExitArchiveFailed;
  });
}

}  // namespace tovrel
