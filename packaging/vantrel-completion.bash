# Bash completion for vantrel-poll and vantrel-slave, installed once for each, named after
# it, where bash-completion loads it the first time the program's name is completed.
# The options come from the program's own --help, so that a new option is completed
# without a change here; so does whether an option takes a value.

# The options that --help lists, one a line: the name, a blank, and the placeholder of its
# value if it takes one ("-t TYPE", "--mode rtu|ascii", "--rs485 "). Option lines are the
# lines indented by at most ten blanks that go on with '-'; the option's names and value
# end where two blanks start its description.
_vantrel_options() {
  local line lead word value
  local -a words names
  while IFS= read -r line; do
    [[ $line =~ ^\ {1,10}(-.*)$ ]] || continue
    lead=${BASH_REMATCH[1]%%  *}
    read -ra words <<<"${lead//,/ }"
    names=()
    value=""
    for word in "${words[@]}"; do
      [[ $word == -* ]] || { value=$word; break; }
      if [[ $word == *=* ]]; then  # --name=VALUE
        names+=("${word%%=*}")
        value=${word#*=}
        break
      fi
      names+=("$word")
    done
    for word in "${names[@]}"; do printf '%s %s\n' "$word" "$value"; done
  done < <("$1" --help 2>/dev/null)
}

_vantrel_tool() {
  local program=${COMP_WORDS[0]}
  [[ $program == "~/"* ]] && program=$HOME/${program#"~/"}
  local cur=${COMP_WORDS[COMP_CWORD]} prev=""
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  # Readline splits "--word-order=high-first" at '=': --word-order, =, high-first.
  if [[ $cur == "=" ]]; then
    cur=""
  elif [[ $prev == "=" ]] && ((COMP_CWORD > 1)); then
    prev=${COMP_WORDS[COMP_CWORD - 2]}
  fi

  local options name rest value="" found=""
  options=$(_vantrel_options "$program")
  while read -r name rest; do
    [[ $name == "$prev" ]] && { found=1; value=$rest; }
  done <<<"$options"

  # The value of the option before, when it takes one (one in brackets is optional).
  if [[ -n $found && -n $value && $value != \[*\] ]]; then
    local choices
    case $prev in
      -t) choices="0 1 3 4" ;;
      -m | --mode) choices="rtu ascii tcp rtutcp" ;;
      -P | --parity) choices="none even odd mark space" ;;
      --word-order) choices="low-first high-first low-first-swapped high-first-swapped" ;;
      -i | --image | --save | --workspace | --save-workspace | --map | --pcap)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
        ;;
    esac
    [[ $value == *"|"* ]] && choices=${value//|/ }  # the choices --help names: "rtu|ascii"
    mapfile -t COMPREPLY < <(compgen -W "$choices" -- "$cur")
    return
  fi

  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(cut -d' ' -f1 <<<"$options")" -- "$cur")
    return
  fi

  # The device. Over TCP (-m tcp or rtutcp) a host; for the poller on a serial line the
  # serial devices, their lasting names and the COMn entries of the current folder; for
  # the simulator's LINK a file name.
  local i mode
  for ((i = 1; i < COMP_CWORD; ++i)); do
    mode=${COMP_WORDS[i]}
    [[ $mode == -m ]] && mode=-m${COMP_WORDS[i + 1]}
    if [[ $mode == -mtcp || $mode == -mrtutcp ]]; then
      mapfile -t COMPREPLY < <(compgen -A hostname -- "$cur")
      return
    fi
  done
  if [[ ${program##*/} == vantrel-slave ]]; then
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    return
  fi
  local -a devices=()
  local entry
  for entry in COM[0-9]* /dev/tty* /dev/serial/by-id/*; do
    [[ -e $entry || -L $entry ]] && devices+=("$entry")
  done
  mapfile -t COMPREPLY < <(compgen -W "${devices[*]}" -- "$cur")
}

complete -F _vantrel_tool vantrel-poll vantrel-slave
