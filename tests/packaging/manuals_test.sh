#!/usr/bin/env bash
# The manual pages, the bash completion and the programs' --help name the same commands
# and options, both ways.
#   manuals_test.sh SOURCE_DIR ZORVANE_CLI ZORVANE_VDRIVE [ZORVANE]
set -uo pipefail
export LC_ALL=C
source_dir=$1 cli=$2 vdrive=$3 gui=${4:-}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

options_of() { grep -oE -- '(^|[^a-z-])--[a-z][a-z-]*' | grep -oE -- '--[a-z][a-z-]*' | sort -u; }
# Words set in bold in a manual page's source: *word*.
bold_in() { grep -oE '\*[^* ]+\*' "$1" | tr -d '*' | sort -u; }

# Two sets agree: $1 names what is compared, $2 and $3 the two lists.
agree() {
  local missing extra
  local first second
  first=$(echo "$2" | grep . | sort -u)
  second=$(echo "$3" | grep . | sort -u)
  missing=$(comm -23 <(echo "$first") <(echo "$second"))
  extra=$(comm -13 <(echo "$first") <(echo "$second"))
  [ -z "$missing" ] || fail "$1: in the first but not the second: $(echo $missing)"
  [ -z "$extra" ] || fail "$1: in the second but not the first: $(echo $extra)"
}

# zorvane-cli: the commands of --help, with every option of each command's own --help.
help=$("$cli" --help)
commands=$(echo "$help" | sed -n '/^Commands:/,/^$/p' | grep -E '^  [a-z]' | awk '{print $1}' | sort -u)
[ -n "$commands" ] || fail "no commands found in zorvane-cli --help"
cli_options=$(echo "$help" | sed -n '/^Options:/,/^$/p' | options_of)
command_options=""
for command in $commands; do
  command_options+=$("$cli" "$command" --help | options_of)$'\n'
done
all_cli=$(printf '%s\n%s\n' "$cli_options" "$command_options" | grep . | sort -u)

page="$source_dir/docs/man/zorvane-cli.1.scd"
bold=$(bold_in "$page")
manual_commands=$(sed -n '/^# COMMANDS/,/^# VIRTUAL/p' "$page" | grep -E '^\*[a-z]' | grep -oE '^\*[a-z0-9-]+\*' | tr -d '*' | sort -u)
agree "zorvane-cli commands (--help, manual)" "$commands" "$manual_commands"
agree "zorvane-cli options (--help, manual)" "$all_cli" "$(echo "$bold" | grep -E '^--' | sort -u)"
for status in 0 1 2 130; do
  grep -qE "^\*$status\*" "$page" || fail "zorvane-cli manual: exit status $status missing"
  grep -qE "(^|[^0-9])$status([^0-9]|$)" <<< "$help" || fail "zorvane-cli --help: exit status $status missing"
done
# Every preset the drive knows is in the manual.
for preset in $(sed -n '/^## Presets/,/^## Keys/p' "$source_dir/vdrive/README.md" |
                grep -oE '^\| `[a-z0-9+-]+` \|' | tr -d '|` '); do
  grep -qx -- "$preset" <<< "$bold" || fail "zorvane-cli manual: preset $preset missing"
done

# The bash completion offers the same commands and, for each, the same options.
completion="$source_dir/data/bash-completion/zorvane-cli"
completion_commands=$(sed -n '/local commands="/,/"/p' "$completion" | tr -d '"' | sed 's/local commands=//' | tr ' ' '\n' | grep . | sort -u)
agree "zorvane-cli commands (--help, completion)" "$commands" "$completion_commands"
agree "zorvane-cli options (--help, completion)" "$all_cli" "$(options_of < "$completion")"

# zorvane-vdrive and zorvane: options of --help and of the manual.
check_program() {
  local name=$1 binary=$2
  local page="$source_dir/docs/man/$name.1.scd"
  agree "$name options (--help, manual)" "$("$binary" --help 2>&1 | options_of; echo --help)" \
    "$(bold_in "$page" | grep -E '^--' | sort -u)"
}
check_program zorvane-vdrive "$vdrive"
[ -z "$gui" ] || check_program zorvane "$gui"

if [ "$failures" -ne 0 ]; then
  echo "$failures mismatches"
  exit 1
fi
echo "manual pages, completion and --help agree"
