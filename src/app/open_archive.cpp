// Opening an archive for the commands that read one: unpack, list and test. Each reports an archive
// that cannot be opened in the same words and with the same exit code.
#include <string>

#include "app/commands.h"
#include "app/console.h"
#include "app/naming.h"
#include "archive/archive.h"
#include "platform/platform.h"

namespace tovrel {

int WithArchive(const char* directory, const char* baseName, const std::function<int(Archive&)>& use) {
  const std::string archivePath = ArchivePath(directory, baseName);
  if (!PathFits(archivePath)) {
    ReportError("cannot open the archive '%s': the path is longer than the system allows",
                archivePath.c_str());
    return kExitNotFound;
  }
  // no command writes an archive it reads
  Archive archive = Archive::ForReading(archivePath.c_str());
  if (!archive.IsOpen()) {
    ReportError("cannot open the archive '%s': %s", archivePath.c_str(), LastFailure().c_str());
    return kExitArchiveFailed;
  }
  return use(archive);
}

}  // namespace tovrel
