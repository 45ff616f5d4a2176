# shellcheck shell=bash
# SPDX-License-Identifier: MIT
# Sourced by the scripts that run the 32-bit Windows build (from the top of the tree): decides,
# once a run, whether its programs run under 32-bit Wine here.
#
# wine32_decide [INSTALL_DEPS_FLAG]...
#   Installs what the flags ask and, where this machine executes 32-bit x86 code, 32-bit Wine,
#   in one tools/install-deps.sh call. Exports KT_WINE32: "yes"; "cannot-execute" (a machine
#   that cannot execute 32-bit x86 code); "not-installed" (one that could, where 32-bit Wine
#   could not be installed: a registry serving a broken i386 index, say), with KT_WINE32_WHY.
#   A verdict already in the environment (.ci/run decides at its start) is kept, so that a
#   registry's failure is met once, not by every stage. Fails when anything else could not be
#   installed.
# wine32_banner WHAT-RUNS-INSTEAD
#   Says, in a block that cannot be missed, that 32-bit Wine could not be installed and why.
# wine32_summary CLAUSE
#   Prints the clause, and adds it to the file KT_CI_SUMMARY names, for .ci/run's last line.

wine32_decide() {
  if [ -n "${KT_WINE32:-}" ]; then
    tools/install-deps.sh "$@"
    return
  fi
  local probe=0 status=0 log
  tools/can-execute-32bit.sh || probe=$?
  case "$probe" in
    0) ;;
    1) tools/install-deps.sh "$@"
       export KT_WINE32=cannot-execute KT_WINE32_WHY="this machine cannot execute 32-bit x86 code"
       return ;;
    *) return 1 ;;
  esac
  log=$(mktemp)
  tools/install-deps.sh "$@" --wine32 2>&1 | tee "$log" || status=$?
  case "$status" in
    0) export KT_WINE32=yes KT_WINE32_WHY= ;;
    3) # The registry's own words: the index it could not fetch, else why apt would not install.
       local why
       why=$(grep -m 1 -E '^  E: Failed to fetch' "$log" || grep -m 1 -E '^  E:' "$log" || true)
       why=${why#  E: }
       export KT_WINE32=not-installed
       export KT_WINE32_WHY="32-bit Wine (wine32:i386) could not be installed: ${why:-see the install above}"
       wine32_banner "the stages that need it say what they run instead" ;;
    *) rm -f "$log"
       return 1 ;;
  esac
  rm -f "$log"
}

wine32_banner() {
  local rule
  rule=$(printf '#%.0s' {1..100})
  printf '\n%s\n%s\n' "$rule" "# 32-BIT WINE IS MISSING on a machine that executes 32-bit x86 code"
  printf '#   why:     %s\n' "$KT_WINE32_WHY"
  printf '#   instead: %s\n%s\n\n' "$1" "$rule"
}

wine32_summary() {
  echo "$1"
  if [ -n "${KT_CI_SUMMARY:-}" ]; then
    echo "$1" >>"$KT_CI_SUMMARY"
  fi
}
