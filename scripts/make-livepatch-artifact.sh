#!/bin/sh
# Writes a Mender artifact of type tesvar-livepatch from live patch packages,
# for the device update module mender/tesvar-livepatch (manual:
# mender/make-livepatch-artifact.1).
#
#   scripts/make-livepatch-artifact.sh -o OUT.mender -n ARTIFACT_NAME
#       -t DEVICE_TYPE [-t DEVICE_TYPE...] [-k PRIVATE_KEY.pem]
#       [-r REPLACED_PACKAGE...] [-a] PACKAGE.tar.gz...
#
# The packages are applied in the order given (the meta-data's "packages"
# keeps it: the client does not). The kernel release the modules are built
# for (their vermagic) goes into the meta-data's "kernel_release": devices
# running another release refuse the artifact. Needs mender-artifact,
# lkpctl (or TESVAR_LKPCTL), and openssl with -k.
set -eu
LC_ALL=C
export LC_ALL
me=${0##*/}
LKPCTL=${TESVAR_LKPCTL:-lkpctl}

usage() {
    cat <<EOF
usage: $me -o OUT.mender -n NAME -t DEVICE_TYPE [-t ...] [-k KEY.pem]
       [-r REPLACED.tar.gz ...] [-a] PACKAGE.tar.gz ...
  -o FILE     the artifact to write
  -n NAME     the artifact's name
  -t TYPE     a device type the artifact is for (once per type)
  -k KEY.pem  sign with this ECDSA P-256 or RSA private key (any PEM form)
  -r NAME     a package the new ones replace: taken out on install, uninstalled
              on commit (once per package)
  -a          the modules carry no vermagic: let any kernel release install it
  -h          this help
Packages are applied in the order given. Package names hold only letters,
digits, '.', '_' and '-', start with neither '-' nor '.', end in .tar.gz.
EOF
}
die() {
    printf '%s: %s\n' "$me" "$*" >&2
    exit 1
}

# quote TEXT: TEXT as one shell word, for the command built below.
quote() { printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"; }

# valid_name NAME: a name the update engine can carry and the update module
# takes: letters, digits, ".", "_", "-"; not starting with "-" or ".";
# ending in ".tar.gz"; at most 63 characters.
valid_name() {
    case $1 in
    -* | .* | *[!A-Za-z0-9._-]*) return 1 ;;
    ?*.tar.gz) [ "${#1}" -le 63 ] ;;
    *) return 1 ;;
    esac
}

out='' name='' key='' types='' type_names='' replaces='' replace_names='' any=''
while getopts o:n:t:k:r:ah option; do
    case $option in
    o) out=$OPTARG ;;
    n) name=$OPTARG ;;
    t)
        types="$types -t $(quote "$OPTARG")"
        type_names="$type_names $OPTARG"
        ;;
    k) key=$OPTARG ;;
    r)
        valid_name "$OPTARG" ||
            die "-r $(quote "$OPTARG"): not a package name (a package's name is its file name: letters, digits, '.', '_', '-', ending in .tar.gz)"
        replaces="$replaces $OPTARG"
        ;;
    a) any=1 ;;
    h)
        usage
        exit 0
        ;;
    *)
        usage >&2
        exit 2
        ;;
    esac
done
shift $((OPTIND - 1))
if [ -z "$out" ] || [ -z "$name" ] || [ -z "$types" ] || [ $# -eq 0 ]; then
    usage >&2
    exit 2
fi
command -v mender-artifact >/dev/null || die "mender-artifact is not installed"

# Names are checked above and below, so they go into JSON as they are.
json_array() {
    sep=
    printf '['
    for item in "$@"; do
        printf '%s"%s"' "$sep" "$item"
        sep=,
    done
    printf ']'
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM

# The packages are copied into the private directory, so that file names
# with blanks in their directories reach mender-artifact intact.
mkdir "$work/payload"
files=
names=
release=
for package in "$@"; do
    base=${package##*/}
    valid_name "$base" ||
        die "$(quote "$package"): a package name holds only letters, digits, '.', '_', '-', starts with neither '-' nor '.' and ends in .tar.gz (the update engine carries no other names)"
    [ -f "$package" ] || die "$(quote "$package"): no such package file"
    [ ! -e "$work/payload/$base" ] || die "$base: given twice"
    cp -- "$package" "$work/payload/$base"
    files="$files -f $(quote "$work/payload/$base")"
    names="$names $base"
    # The kernel release each module is built for: the first word of its
    # vermagic, the same for every module.
    info=$("$LKPCTL" --json info -- "$work/payload/$base") || die "$base: lkpctl info failed: $info"
    magics=$(printf '%s\n' "$info" | grep -o '"vermagic":"[^"]*"' | sed 's/^"vermagic":"\([^" ]*\).*/\1/')
    units=$(printf '%s\n' "$info" | grep -o '"unit":"' | wc -l)
    for magic in $magics; do
        [ -n "$release" ] || release=$magic
        [ "$magic" = "$release" ] || die "$base: modules built for different kernel releases ($release, $magic)"
    done
    if [ "$(printf '%s\n' "$magics" | grep -c .)" -ne "$units" ]; then
        [ -n "$any" ] || die "$base: a module carries no vermagic, so its kernel release is unknown; -a lets any release install it"
    fi
done
case $release in
*[!A-Za-z0-9._+~-]*) die "the modules' kernel release '$release' is not one a JSON string carries as it is" ;;
esac
if [ -n "$any" ] && [ -n "$release" ]; then
    die "-a: the modules are built for $release; drop -a"
fi

# shellcheck disable=SC2086 # package names: no blanks, checked above
for replaced in $replaces; do
    case " $names " in
    *" $replaced "*) die "-r $replaced: is one of the packages of this artifact" ;;
    esac
    case " $replace_names " in
    *" $replaced "*) die "-r $replaced: given twice" ;;
    esac
    replace_names="$replace_names $replaced"
done

# shellcheck disable=SC2086 # word lists of checked names, no blanks in them
{
    printf '{"packages":%s' "$(json_array $names)"
    [ -z "$replaces" ] || printf ',"replaces":%s' "$(json_array $replaces)"
    if [ -n "$release" ]; then
        printf ',"kernel_release":"%s"' "$release"
    else
        printf ',"any_kernel_release":true'
    fi
    printf '}\n'
} >"$work/meta-data.json"

sign=
if [ -n "$key" ]; then
    openssl pkey -in "$key" -traditional -out "$work/key.pem" || die "$(quote "$key"): cannot read the signing key"
    sign="-k $(quote "$work/key.pem")"
fi

rm -f -- "$work/out.mender"
eval "mender-artifact write module-image -T tesvar-livepatch -n $(quote "$name") $types \
    -o $(quote "$work/out.mender") -m $(quote "$work/meta-data.json") $files $sign" >"$work/log" 2>&1 ||
    die "mender-artifact refused: $(cat "$work/log")"
[ -s "$work/out.mender" ] || die "mender-artifact wrote nothing: $(cat "$work/log")"
cp -- "$work/out.mender" "$out"
signed=unsigned
[ -z "$key" ] || signed=signed
built=${release:-any kernel release}
echo "$out: artifact $name of type tesvar-livepatch, $signed, for device types$type_names, kernel $built:$names"
