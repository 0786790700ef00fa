# Sourced by scripts/setup and scripts/winvm: apt_install PACKAGE... installs the packages not yet
# installed (Debian 12, as root), through a mirror that may be caught mid-sync.
apt_install() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "setup: installing ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
        dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    fi
    # A mirror caught mid-sync fails an index or two; apt then keeps the lists it had. Try
    # again a few times, and go on with what it has: the install itself says if it lacks one.
    local try
    for try in 1 2 3; do
        apt-get update -q >&2 && break
        echo "setup: apt-get update failed (try $try of 3)" >&2
        [ "$try" -eq 3 ] || sleep $((try * 5))
    done
    apt-get install -y -q --no-install-recommends "${missing[@]}" >&2 && return 0
    # With one architecture's security index missing, the two architectures' versions of a
    # shared library no longer match and the resolver gives up. The release's own suite holds
    # one version of each for both.
    local suite
    suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "setup: installing from $suite alone" >&2
    apt-get install -y -q --no-install-recommends -t "$suite" "${missing[@]}" >&2
}
