# Bash completion for relayctl and relayboard-mqtt; installed once under each name, as
# bash-completion loads a command's file by the command's name.

# _relay_panel_value OPTION: completes the value of OPTION into COMPREPLY; fails when
# OPTION takes no value.
_relay_panel_value() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  case $1 in
    --device) mapfile -t COMPREPLY < <(compgen -f -- "${cur:-/dev/tty}") ;;
    --names | --config | --cafile | --certfile | --keyfile | --password-file | \
      --web-cert | --web-key | --web-users)
      mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
    --mqtt-version) mapfile -t COMPREPLY < <(compgen -W '3.1.1 5' -- "$cur") ;;
    --discovery-form) mapfile -t COMPREPLY < <(compgen -W 'device entity' -- "$cur") ;;
    --web-role) mapfile -t COMPREPLY < <(compgen -W 'operator viewer' -- "$cur") ;;
    --broker) mapfile -t COMPREPLY < <(compgen -W 'mqtt:// mqtts://' -- "$cur") ;;
    --since) mapfile -t COMPREPLY < <(compgen -W 'today yesterday' -- "$cur") ;;
    --port | --address | --addresses | --timeout | --from | --to | --line | --prefix | \
      --user | --relay | --answer-timeout | --host | --mqtt-port | --client-id | \
      --discovery-prefix | --button-pulse | --board-manufacturer | --board-model | \
      --schedule | --log-max-events | --log-max-age | --web | --add-web-user | --forget-line)
      COMPREPLY=() ;;
    *) return 1 ;;
  esac
  return 0
}

_relayctl() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local commands='status open close pulse watch names rename scan lines log schedule'
  local options='--port --device --address --names --json --timeout --inverse --from --to
    --since --relay --csv --broker --line --prefix --cafile --user --password-file
    --allow-readable-password-file --allow-plain-password --config --help --version
    --verbose'
  [[ $cur != -* ]] && _relay_panel_value "$prev" && return
  local word command=''
  for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
    [[ " $commands " == *" $word "* ]] && command=$word && break
  done
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
  elif [[ -z $command ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
  elif [[ $command == open || $command == close || $command == pulse ||
    $command == rename ]]; then
    mapfile -t COMPREPLY < <(compgen -W 'all' -- "$cur")
  elif [[ $command == schedule ]]; then
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  fi
}

_relayboard_mqtt() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local options='--config --port --device --addresses --answer-timeout --names --line
    --host --mqtt-port --client-id --user --password-file --allow-readable-password-file
    --allow-plain-password --cafile --certfile --keyfile --mqtt-version --prefix
    --discovery-prefix --discovery-form --button-pulse --board-manufacturer --board-model
    --no-discovery --json-state --schedule --log-max-events --log-max-age --verbose --web
    --web-cert --web-key --web-users --add-web-user --web-role --forget-line --help
    --version'
  [[ $cur != -* ]] && _relay_panel_value "$prev" && return
  mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
}

complete -F _relayctl relayctl relayctl.exe
complete -F _relayboard_mqtt relayboard-mqtt
