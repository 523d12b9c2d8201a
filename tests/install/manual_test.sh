#!/bin/bash
# What an operator reads and types: every option a program's --help names is in its
# manual page and completes in bash; groff finds nothing to warn about in any page.
#   manual_test.sh pages SOURCE_DIR NAME=PROGRAM...
#   manual_test.sh completion SOURCE_DIR NAME=PROGRAM...
set -uo pipefail
mode=$1 source=$2
shift 2
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# help_options PROGRAM: the long options its --help names, one a line.
help_options() {
  QT_QPA_PLATFORM=offscreen "$1" --help | grep -oE -- '--[a-z][a-z0-9.-]*[a-z0-9]' | sort -u
}

# completions WORD...: what bash completes for the words, the last being typed.
completions() {
  bash -c 'source "$1" && shift && COMP_WORDS=("$@") && COMP_CWORD=$(($# - 1)) &&
    complete -p "$1" >/dev/null && $(complete -p "$1" | sed -E "s/.*-F ([^ ]+).*/\1/") &&
    echo "${COMPREPLY[*]}"' _ "$source/data/completion/relay-panel.bash" "$@"
}

case $mode in
  pages)
    for page in "$source"/data/man/*.[15]; do
      warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
      [[ -z $warnings ]] || fail "$page: $warnings"
      # A table row left open shows its T{ on the page.
      MANWIDTH=80 man -l "$page" 2>/dev/null | grep -qE 'T[{}]' && fail "$page: a table cell shows"
    done
    for pair in "$@"; do
      name=${pair%%=*} program=${pair#*=}
      text=$(sed -E 's/\\-/-/g; s/\\f[BIRP]//g' "$source/data/man/$name.1")
      while read -r option; do
        grep -qE -- "(^|[^a-z-])$option([^a-z0-9-]|$)" <<<"$text" ||
          fail "$name.1 does not name $option"
      done < <(help_options "$program")
    done
    ;;
  completion)
    # A few completions an operator types, as word... => what bash offers.
    while IFS='|' read -r words expected; do
      read -ra argv <<<"$words"
      [[ $words == *' ' ]] && argv+=('')
      got=$(completions "${argv[@]}")
      [[ $got == "$expected" ]] || fail "'$words': '$got', not '$expected'"
    done <<'CASES'
relayctl st|status
relayctl --port 1 pu|pulse
relayctl --address 1,3 status --js|--json
relayctl open |all
relayctl --since y|yesterday
relayboard-mqtt --mqtt-version |3.1.1 5
relayboard-mqtt --discovery-form e|entity
relayboard-mqtt --no-d|--no-discovery
CASES
    for pair in "$@"; do
      name=${pair%%=*} program=${pair#*=}
      offered=" $(completions "$name" --) "
      while read -r option; do
        [[ $offered == *" $option "* ]] || fail "$name does not complete $option"
      done < <(help_options "$program")
    done
    ;;
esac
((failures == 0))
