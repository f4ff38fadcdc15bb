# bash completion for lkpctl: commands, options, package files, and the names
# of loaded and installed packages. The commands are read from lkpctl --help,
# so they never drift from the tool.

# The package names lkpctl list shows (lines not indented, before " (").
_lkpctl_loaded() {
    "$1" list 2>/dev/null | awk '!/^ / && / \(/ { sub(/ \(.*/, ""); print }' |
        grep -v '^PACKAGE$'
}

# The installed package names of the store (--root DIR when given).
_lkpctl_installed() {
    local root=${2:-/} release
    release=$(uname -r)
    local order="${root%/}/var/lib/tesvar/$release/order"
    [ -r "$order" ] && grep -v '^#' "$order" | tr -d '\r' | grep -v '^$'
}

_lkpctl() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    local tool=${COMP_WORDS[0]}
    local command="" root="" i word
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        case $word in
            --root) root=${COMP_WORDS[i + 1]} ;;
            -*) ;;
            *) [ -z "$command" ] && [ "${COMP_WORDS[i - 1]}" != --root ] && command=$word ;;
        esac
    done
    local globals="--json -v --verbose --no-wait -h --help --version --"
    case $prev in
        -o | --output)
            COMPREPLY=($(compgen -f -X '!*.tar.gz' -- "$cur") $(compgen -d -- "$cur"))
            return
            ;;
        --root)
            COMPREPLY=($(compgen -d -- "$cur"))
            return
            ;;
        --description | --date | --kernel-release)
            return
            ;;
        --version)
            [ "$command" = pack ] && return
            ;;
        --before | --after)
            COMPREPLY=($(compgen -W "$(_lkpctl_installed "$tool" "$root")" -- "$cur"))
            return
            ;;
    esac
    if [ -z "$command" ]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$globals" -- "$cur"))
        else
            local commands
            commands=$("$tool" --help 2>/dev/null |
                awk '/^Commands:/ { on = 1; next } on && /^$/ { exit } on { print $1 }')
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
    fi
    local options=$globals
    case $command in
        load | deactivate) options+=" --wait --wait=" ;;
        activate | remove) options+=" --wait --wait= --root" ;;
        boot) options+=" --wait --wait= --root" ;;
        pack) options+=" -o --output --version --description --date --any-name" ;;
        check) options+=" --kernel-release" ;;
        install) options+=" --before --after --root --kernel-release" ;;
        uninstall | status) options+=" --root --kernel-release" ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    case $command in
        load | preload | validate | check | info | install)
            COMPREPLY=($(compgen -f -X '!*.tar.gz' -- "$cur") $(compgen -d -- "$cur"))
            ;;
        pack | insmod)
            COMPREPLY=($(compgen -f -X '!*.ko' -- "$cur") $(compgen -d -- "$cur"))
            ;;
        activate | deactivate | state | remove)
            COMPREPLY=($(compgen -W "$(_lkpctl_loaded "$tool")" -- "$cur"))
            ;;
        uninstall)
            COMPREPLY=($(compgen -W "$(_lkpctl_installed "$tool" "$root")" -- "$cur"))
            ;;
        help)
            COMPREPLY=($(compgen -W "$("$tool" --help 2>/dev/null |
                awk '/^Commands:/ { on = 1; next } on && /^$/ { exit } on { print $1 }')" -- "$cur"))
            ;;
    esac
}
complete -o filenames -F _lkpctl lkpctl
