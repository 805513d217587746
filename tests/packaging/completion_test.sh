#!/usr/bin/env bash
# The bash completion of zorvane-cli, driven as readline drives it: the words split at
# blanks, '=' and ':', the completion function called, its answer compared.
#   completion_test.sh COMPLETION_FILE
set -uo pipefail
completion_file=$1
source /usr/share/bash-completion/bash_completion || { echo "bash-completion is missing"; exit 1; }
source "$completion_file"
failures=0

[[ $(complete -p zorvane-cli) == "complete -F _zorvane_cli zorvane-cli" ]] ||
  { echo "FAIL: zorvane-cli is not completed by _zorvane_cli"; failures=$((failures + 1)); }

# Outside a real completion compopt refuses; the options it sets are not what is tested.
compopt() { :; }

expect() {  # LINE EXPECTED [sorted]: the completions offered at the end of LINE
  local line=$1 expected=$2 word="" n c
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMP_WORDS=()
  for ((n = 0; n < ${#line}; n++)); do
    c=${line:n:1}
    if [[ $c == " " ]]; then
      [[ -n $word ]] && COMP_WORDS+=("$word")
      word=""
    elif [[ $c == "=" || $c == ":" ]]; then
      [[ -n $word ]] && COMP_WORDS+=("$word")
      COMP_WORDS+=("$c")
      word=""
    else
      word+=$c
    fi
  done
  COMP_WORDS+=("$word")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _zorvane_cli zorvane-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  local got="${COMPREPLY[*]}"
  # File names come in the order the folder lists them.
  [[ ${3:-} == sorted ]] && got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//')
  if [[ $got != "$expected" ]]; then
    echo "FAIL: '$line' offered '$got', expected '$expected'"
    failures=$((failures + 1))
  fi
}

directory=$(mktemp -d)
trap 'rm -rf "$directory"' EXIT
touch "$directory/disc.iso" "$directory/song.wav" "$directory/notes.txt"

expect "zorvane-cli --de" "--demo --device"
expect "zorvane-cli --device " "d e f g h i j"
expect "zorvane-cli --drive e" "e="
expect "zorvane-cli --drive d=virtual:cdr-" "cdr-blank cdr-open cdr-closed cdr-multi"
expect "zorvane-cli --drive d=virtual:dvd+rw,st" "dvd+rw,state="
expect "zorvane-cli --drive d=virtual:cdr-blank,fa" "cdr-blank,fault= cdr-blank,fail="
expect "zorvane-cli --demo cl" "close-tray close-session"
expect "zorvane-cli --drive d=virtual:cdr-blank wr" "write write-at"
expect "zorvane-cli --demo write --c" "--close --cdtext"
expect "zorvane-cli --demo write --close " "none track session disc"
expect "zorvane-cli --demo erase --type m" "minimal"
expect "zorvane-cli --demo format --" "--wait --help"
expect "zorvane-cli --demo write --speed " ""
expect "zorvane-cli --demo write --gap " ""
# Images for write: the image kinds and folders, not other files.
expect "zorvane-cli --demo write $directory/" "$directory/disc.iso $directory/song.wav" sorted

if [ "$failures" -ne 0 ]; then
  echo "$failures completions differ"
  exit 1
fi
echo "completion answers as expected"
