#!/usr/bin/env bash
# Sourced by the test lanes. skip_lane LANE REASON ends a lane whose tools cannot be installed: for a
# person trying the project it prints "LANE lane: skipped: REASON" and succeeds; where every lane must
# run (TOVREL_REQUIRE_ALL_LANES=1, as .ci/run sets it) it prints the reason on stderr and fails.
skip_lane() {
  if [ "${TOVREL_REQUIRE_ALL_LANES:-}" = 1 ]; then
    echo "$1 lane: cannot run, and every lane must: $2" >&2
    exit 1
  fi
  echo "$1 lane: skipped: $2"
  exit 0
}
