#!/bin/sh
# Writes a Mender artifact of type tesvar-livepatch from live patch packages,
# for the device update module mender/tesvar-livepatch.
#
#   scripts/make-livepatch-artifact.sh -o OUT.mender -n ARTIFACT_NAME
#       -t DEVICE_TYPE [-t DEVICE_TYPE...] [-k PRIVATE_KEY.pem]
#       [-r REPLACED_PACKAGE...] PACKAGE.tar.gz...
#
# The packages are applied in the order given (the meta-data's "packages"
# keeps it: the client does not). -r names a loaded package the new ones
# replace (meta-data "replaces"); give it once per package. -k signs the
# artifact with an ECDSA P-256 or RSA private key, in any PEM form: it is
# handed to mender-artifact in the traditional form that tool needs.
# Needs mender-artifact (and openssl with -k).
set -eu

usage() {
    echo "usage: $0 -o OUT.mender -n NAME -t DEVICE_TYPE [-t ...] [-k KEY.pem] [-r REPLACED...] PACKAGE..." >&2
    exit 2
}

out='' name='' key='' types='' type_names='' replaces=''
while getopts o:n:t:k:r: option; do
    case $option in
    o) out=$OPTARG ;;
    n) name=$OPTARG ;;
    t)
        types="$types -t $OPTARG"
        type_names="$type_names $OPTARG"
        ;;
    k) key=$OPTARG ;;
    r) replaces="$replaces $OPTARG" ;;
    *) usage ;;
    esac
done
shift $((OPTIND - 1))
if [ -z "$out" ] || [ -z "$name" ] || [ -z "$types" ] || [ $# -eq 0 ]; then usage; fi

# Package names never hold a quote, backslash, comma or blank (lkpctl pack
# refuses them), so they go into JSON as they are.
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
trap 'rm -rf "$work"' EXIT INT TERM

# The packages are copied into the private directory, so that file names
# with blanks in their directories reach mender-artifact intact.
mkdir "$work/payload"
files=
names=
for package in "$@"; do
    [ -f "$package" ] || { echo "$0: $package: no such package file" >&2; exit 1; }
    case ${package##*/} in
    *.tar.gz) ;;
    *) echo "$0: $package: a package file's name ends in .tar.gz" >&2; exit 1 ;;
    esac
    if [ -e "$work/payload/${package##*/}" ]; then
        echo "$0: ${package##*/}: given twice" >&2
        exit 1
    fi
    cp "$package" "$work/payload/" || exit 1
    files="$files -f $work/payload/${package##*/}"
    names="$names ${package##*/}"
done

# shellcheck disable=SC2086 # word lists built above, no blanks in them
{
    printf '{"packages":%s' "$(json_array $names)"
    [ -z "$replaces" ] || printf ',"replaces":%s' "$(json_array $replaces)"
    printf '}\n'
} >"$work/meta-data.json"

sign=
if [ -n "$key" ]; then
    openssl pkey -in "$key" -traditional -out "$work/key.pem"
    sign="-k $work/key.pem"
fi

# shellcheck disable=SC2086
mender-artifact write module-image -T tesvar-livepatch -n "$name" $types \
    -o "$out" -m "$work/meta-data.json" $files $sign >/dev/null
signed=unsigned
[ -z "$key" ] || signed=signed
echo "$out: artifact $name of type tesvar-livepatch, $signed, for device types$type_names:$names"
