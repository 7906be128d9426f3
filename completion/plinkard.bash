# bash completion for plinkard                             -*- shell-script -*-
# Installed as share/bash-completion/completions/plinkard. Without
# bash-completion it works too, after `source`ing this file.

# Completes $cur with folder names (-d) or file names, through
# bash-completion where it is loaded.
_plinkard_paths()
{
    if declare -F _filedir >/dev/null; then
        _filedir "$@"
        return
    fi
    compopt -o filenames 2>/dev/null
    local IFS=$'\n'
    if [[ $1 == -d ]]; then
        COMPREPLY=($(compgen -d -- "$cur"))
    else
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}

_plinkard()
{
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion || return
    else
        COMPREPLY=()
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD - 1]}
    fi

    case $prev in
        -i | -o)
            _plinkard_paths -d
            return
            ;;
        -l)
            _plinkard_paths
            return
            ;;
        -s)
            COMPREPLY=($(compgen -W 'all' -- "$cur"))
            return
            ;;
        -d)
            COMPREPLY=($(compgen -W '0 1 2' -- "$cur"))
            return
            ;;
        -c)
            COMPREPLY=($(compgen -W 'mp3 m4a opus ogg' -- "$cur"))
            return
            ;;
        -f | -in | -ex | -p | -t | -e)
            # An extension list, an expression, a name in the target
            # folder or a number: nothing to offer.
            return
            ;;
    esac

    COMPREPLY=($(compgen -W '-i -o -s -f -in -ex -d -l -w -m -v -n -r -p
        -a -t -e -c -h --help --version' -- "$cur"))
} &&
    complete -F _plinkard plinkard
