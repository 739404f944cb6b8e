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

#include "app/plan.h"

namespace tovrel {

// The names in `names` (each without a folder, joined by '/', which no file name holds), in order.
std::vector<std::string> SplitNames(const std::string& names);

// The files a player gave the page, and their plan: made once, when they are given, with each name
// resolved then (the folder the page's runs happen in is the current directory).
class PageSession {
 public:
  // The plan of the files `names` (as SplitNames reads them) given together, to be packed and unpacked
  // when `inspection` is "", or, when it is "list" or "test", the archives among them looked into.
  PageSession(const std::string& names, const std::string& inspection);

  // The plan as JSON: {"runs": [<target>...], "none": <why there is no run, or "">}.
  std::string PlanJson() const;

  // The names of the files in the current folder that run `index` reads, as a JSON array, as the
  // folder is now (a later run may read what an earlier one made). Empty past the last run.
  std::string ReadsJson(std::size_t index) const;

  // Makes run `index` as RunPlan makes it (the line naming it first, when there are several) and
  // returns its exit code; everything it printed has been flushed. Past the last run it does nothing
  // and returns the usage exit code.
  int RunInTurn(std::size_t index) const;

 private:
  Inspection inspection_;
  Plan plan_;
};

}  // namespace tovrel

#endif  // TOVREL_APP_PAGE_EXPORT_H_
