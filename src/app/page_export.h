// What the browser page asks of the tool, in the forms the page reads: the page restates none of the
// tool's rules, it asks here. Built into every build, so that it is tested with the rest; only the page
// calls it (web_exports.cpp).
#ifndef TOVREL_APP_PAGE_EXPORT_H_
#define TOVREL_APP_PAGE_EXPORT_H_

#include <string>

namespace tovrel {

// The plan of the files `names` given together (each without a folder, joined by '/', which no file
// name holds), in JSON: {"runs": [{"mode", "target", "args"}...], "none"}, where "mode" is "pack" or
// "unpack", "args" the command line that makes the run alone, and "none" why there is no run when
// there is none, else "".
std::string PlanFilesJson(const std::string& names);

}  // namespace tovrel

#endif  // TOVREL_APP_PAGE_EXPORT_H_
