# bash completion for marrowick-cli: its commands, each command's options, and folders where a folder goes.
# Installed to share/bash-completion/completions/marrowick-cli, where bash-completion loads it on first use.

_marrowick_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    COMPREPLY=()
    local commands='list info ls find export locations relocate'
    if ((COMP_CWORD == 1)); then
        mapfile -t COMPREPLY < <(compgen -W "$commands help --help --version" -- "$cur")
        return
    fi

    local command=${COMP_WORDS[1]} options=
    case $command in
    list) options='--json' ;;
    info | find) options='--json --password-file' ;;
    ls) options='-R --json --password-file' ;;
    export) options='-q --password-file' ;;
    relocate) options='--restore' ;;
    locations) ;;
    help)
        ((COMP_CWORD == 2)) && mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
        return
        ;;
    *) return ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options --help" -- "$cur")
        return
    fi

    # The arguments before the one being completed, options left out.
    local i arguments=0
    for ((i = 2; i < COMP_CWORD; i++)); do
        [[ ${COMP_WORDS[i]} == -* ]] || ((arguments++))
    done

    # BACKUP (the first argument of info, ls, find and export) may be a backup folder; so may the other folders.
    case $command:$arguments in
    info:0 | ls:0 | find:0 | export:0 | export:2 | relocate:0 | locations:1)
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        ;;
    locations:0)
        mapfile -t COMPREPLY < <(compgen -W 'add remove' -- "$cur")
        ;;
    esac
}

complete -o filenames -F _marrowick_cli marrowick-cli
