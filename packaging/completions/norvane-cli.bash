# bash completion for norvane-cli
_norvane_cli() {
  local cur prev words cword
  _init_completion || return

  local commands="walk window export realtime-export ports identify scan download config clock send
    screenshot wifi monitor record collect map store simulate"
  local global="--settings --store --no-store --model --port --trace --help"
  local first="$global --version"
  local models="ZQT-400 ZQT-200 ZQT-120+V5 ZQT-120 ZQT-100 ZQT-LT ZQT-600 ZQT-1010 ZQT-3010 ZQT-3020
    ZQT-3030 RadonTrak RadonMax"

  case $prev in
    --settings | --trace | --history | --config | --store | --link | --log | --reply-log)
      _filedir
      return
      ;;
    --out)
      _filedir -d
      return
      ;;
    --model)
      COMPREPLY=($(compgen -W "$models" -- "$cur"))
      return
      ;;
    --port)
      COMPREPLY=($(compgen -W "$(compgen -G '/dev/tty[UA][SC][BM]*') $(compgen -G '/dev/norvane-*') \
        $(compgen -G '/dev/serial/by-id/*')" -- "$cur"))
      return
      ;;
    --type)
      COMPREPLY=($(compgen -W "ALL csv htm html rbn r@h" -- "$cur"))
      return
      ;;
    --fault)
      COMPREPLY=($(compgen -W "silent silent-after= stall stall= question wrong-ack= short-counts
        marked-counts marked-counts= strict-baud deaf-config reset-nak= short-config=" -- "$cur"))
      [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
      return
      ;;
    --family)
      COMPREPLY=($(compgen -W "0 1 4 5 6 7 8" -- "$cur"))
      return
      ;;
    --format)
      COMPREPLY=($(compgen -W "original tidy" -- "$cur"))
      return
      ;;
    --seconds | --autosave | --speed | --pos | --listen | --cpm | --acpm | --seed | --version | \
      --ssid | --password | --website | --url | --user-id | --counter-id | --period | --set | --serial | \
      --from | --to | --counter | --usv-per-cpm | --dead-time-us)
      return
      ;;
  esac

  # The command is the first word that is neither an option nor an option's value.
  local i command="" sub=""
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      --settings | --model | --port | --trace) ((i++)) ;;
      -*) ;;
      *)
        if [[ -z $command ]]; then command=${words[i]}; elif [[ -z $sub ]]; then sub=${words[i]}; fi
        ;;
    esac
  done

  local options=""
  case $command in
    "") options=$first ;;
    window) options="--pos --json" ;;
    export | realtime-export) options="--semicolon" ;;
    ports | identify) options="--json" ;;
    download) options="--all --new --speed --csv" ;;
    config)
      if [[ -z $sub ]]; then
        COMPREPLY=($(compgen -W "decode convert read write set factory-reset" -- "$cur"))
        return
      fi
      options="--family --json --set --yes"
      ;;
    clock)
      [[ -z $sub ]] && COMPREPLY=($(compgen -W "get sync" -- "$cur"))
      return
      ;;
    send) options="--text --listen" ;;
    wifi)
      if [[ -z $sub ]]; then
        COMPREPLY=($(compgen -W "show set" -- "$cur"))
        return
      fi
      options="--json --ssid --password --website --url --user-id --counter-id --period --yes"
      ;;
    monitor) options="--seconds --out --autosave --type --submit --demo --quiet" ;;
    record) options="--log --submit --echo --seconds --mqtt --mqtt-password-file --mqtt-ca --mqtt-every --discovery-prefix --metrics --alarm-rate --alarm-usv-h --on-alarm --radmon --radmon-password-file --safecast --safecast-key-file --opensensemap --opensensemap-token-file --sensor-community --sensor-community-id-file --position --upload-every --upload-url" ;;
    collect) options="--mqtt --mqtt-password-file --mqtt-ca --journal --client-id --seconds" ;;
    map)
      if [[ -z $sub ]]; then
        COMPREPLY=($(compgen -W "verify submit" -- "$cur"))
        return
      fi
      options="--cpm --acpm"
      ;;
    store)
      if [[ -z $sub ]]; then
        COMPREPLY=($(compgen -W "info stats export import check calibrate calibrations uploads" -- "$cur"))
        return
      fi
      options="--from --to --counter --json --format --semicolon --quality --usv-per-cpm --dead-time-us"
      ;;
    simulate) options="--version --history --config --cpm --seed --serial --grow --pace --link --reply-log --fault" ;;
  esac

  if [[ -z $command && $cur != -* ]]; then
    COMPREPLY=($(compgen -W "$commands" -- "$cur"))
  elif [[ $cur == -* && -z $command ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  elif [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options $global" -- "$cur"))
  else
    _filedir
  fi
} &&
  complete -F _norvane_cli norvane-cli
