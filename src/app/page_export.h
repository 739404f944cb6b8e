// What the browser page asks of the tool, in the forms the page reads, so that the page restates none of
// the tool's rules. The page gives the names of the files a player chose, all in the one folder its runs
// happen in (the current directory), and runs the plan for them one run at a time, supplying each
// run's files just before it. Built into every build, so that it is tested with the rest; only the page
// calls it (web_exports.cpp).
#ifndef TOVREL_APP_PAGE_EXPORT_H_
#define TOVREL_APP_PAGE_EXPORT_H_

#include <cstddef>
#include <string>
#include <vector>

namespace tovrel {

// Every function here takes the same two arguments: `names`, the files given together, each without a
// folder, joined by '/' (which no file name holds); and `inspection`, what is to be done with them:
// "" to pack and unpack them, "list" or "test" to look into the archives among them.

// The names in `names`, in order.
std::vector<std::string> SplitNames(const std::string& names);

// Their plan as JSON: {"runs": [<target>...], "none": <why there is no run, or "">}.
std::string PagePlanJson(const std::string& names, const std::string& inspection);

// The names of the files in the current folder that run `index` of that plan reads, as a JSON array,
// as the folder is now (a later run may read what an earlier one made). Empty past the last run.
std::string PageReadsJson(const std::string& names, const std::string& inspection, std::size_t index);

// Makes run `index` of that plan as RunPlan makes it (the line naming it first, when there are
// several) and returns its exit code; everything it printed has been flushed. Past the last run it
// does nothing and returns the usage exit code.
int PageRunInTurn(const std::string& names, const std::string& inspection, std::size_t index);

}  // namespace tovrel

#endif  // TOVREL_APP_PAGE_EXPORT_H_
