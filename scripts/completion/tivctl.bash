# bash completion for tivctl: sub-commands, their options and the global ones.
_tivctl() {
    local cur prev words cword
    _init_completion || return

    local globals="--port --device --baud --sim --sim-device --json --gateway --help --version"
    local subs="set-rgbx fade-rgbx reset prog set-serial set-group firmware-reset download send monitor demo ports
                identify test release status"

    case $prev in
        -p | --port) COMPREPLY=($(compgen -W "1 2 3 4 5 6 7 8 9" -- "$cur")); return ;;
        -b | --baud) COMPREPLY=($(compgen -W "1200 2400 4800 9600 19200 38400 57600 115200" -- "$cur")); return ;;
        -d | --device) COMPREPLY=($(compgen -f -- "${cur:-/dev/tty}")); return ;;
        --read | --capture | --sysfs) _filedir; return ;;
        --gateway)
            local names=$(compgen -G "/run/tivgate/*/control.sock" | sed 's|/control.sock$||; s|.*/||')
            COMPREPLY=($(compgen -W "$names" -- "$cur"))
            [[ $cur == */* ]] && _filedir
            return ;;
        --sim-device | --frames | --seconds | --interval | --image-bytes | --group) return ;;
    esac

    local sub="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            -p | --port | -b | --baud | -d | --device | --sim-device | --gateway) ((i++)) ;;
            -*) ;;
            *) sub=${words[i]}; break ;;
        esac
    done

    if [[ -z $sub ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$globals" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$subs" -- "$cur"))
        fi
        return
    fi

    local own=""
    case $sub in
        download) own="--interval"; [[ $cur != -* ]] && { _filedir; return; } ;;
        monitor) own="--device --pty --read --capture --frames --seconds" ;;
        demo) own="--image-bytes" ;;
        identify) own="--group --seconds" ;;
        test) own="--seconds"; [[ $cur != -* ]] && COMPREPLY=($(compgen -W "chase" -- "$cur")) ;;
        send)
            [[ $cur != -* ]] && COMPREPLY=($(compgen -W "LIGHT RESET XD_PROG SETUP_BEGIN SETUP_WRITE IMAGE_WRITE" -- "$cur"))
            ;;
    esac
    [[ $cur == -* ]] && COMPREPLY=($(compgen -W "$own $globals" -- "$cur"))
}
complete -F _tivctl tivctl
