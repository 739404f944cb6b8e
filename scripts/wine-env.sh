#!/usr/bin/env bash
# Sourced by the scripts that run Tovrel.exe under Wine (test-windows.sh, cross_check.sh): one Wine
# setup for both. wine_prefix_create DIR LANE makes a fresh prefix in DIR, which this run owns, and
# wine_prefix_remove ends its server and deletes it; wine_settings alone suits a prefix made by the
# caller. Every Wine run gets a UTF-8 locale and no debug output; the first start takes about 10 s.

# wine_settings: what every run of Wine here needs, in a prefix of its own or the caller's
wine_settings() {
  # no Mono or Gecko install dialog while a prefix is made; no debug lines among the tool's output
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # Wine takes file names and arguments from the Unix locale: UTF-8, so non-ASCII names reach the tool
  export LC_ALL=C.UTF-8
}

# wine_prefix_create DIR LANE: a fresh prefix in DIR, exported as WINEPREFIX; fails with one line
# naming LANE when Wine cannot set it up. DIR is a scratch folder of the run's, deleted again by
# wine_prefix_remove: Wine needs a home it can write to, and the user's own prefix stays out of tests.
wine_prefix_create() {
  wine_settings
  export WINEPREFIX=$1
  wine_prefix_owned=1
  echo "$2: creating a Wine prefix in $WINEPREFIX"
  wine wineboot --init >/dev/null 2>&1 || true
  wineserver -w 2>/dev/null || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "$2: Wine could not set up its prefix in $WINEPREFIX" >&2
    return 1
  fi
}

# wine_prefix_remove: ends and deletes the prefix wine_prefix_create made; nothing when it made none
wine_prefix_remove() {
  if [ "${wine_prefix_owned:-0}" = 1 ]; then
    # the server leaves by itself once the last program ends; one left hanging in this prefix is ended
    timeout 60 wineserver -w 2>/dev/null || wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    wine_prefix_owned=0
  fi
}
