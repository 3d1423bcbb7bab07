#!/usr/bin/env bash
# Two network namespaces joined by veth pairs, for tests that broadcast or need real hardware
# addresses. Nothing here touches the host's own namespace beyond creating and removing these.
#
#   test-netns.sh up NAME     creates NAME-a (the computer) and NAME-b (the instruments), prints
#                             KEY=VALUE lines (names, addresses, MACs); exit 77 when not permitted
#   test-netns.sh down NAME   removes both (their interfaces go with them)
#
# Layout (private test addresses):
#   NAME-a veth0 10.231.0.1/24  <->  NAME-b veth0 10.231.0.2/24 and 10.232.0.2/24
#   NAME-a veth1 10.231.1.1/24  <->  NAME-b veth1 10.231.1.2/24   (a second peer MAC)
#   NAME-a reaches 10.232.0.0/24 on-link over veth0: a module "outside the computer's subnet".
#   NAME-b owns all of 10.233.0.0/16 (a local route): strangers that flood the computer from many
#   addresses at once, outside its subnets.
# Names of the form mervik-PID are swept when that process is gone, so a crashed test leaves
# nothing behind for long.
set -uo pipefail

cmd="${1:-}"
name="${2:-}"
if [ -z "$cmd" ] || [ -z "$name" ]; then
    echo "usage: $0 up|down NAME" >&2
    exit 2
fi
a="$name-a"
b="$name-b"

down() {
    ip netns del "$a" 2>/dev/null
    ip netns del "$b" 2>/dev/null
    return 0
}

sweep() {
    local ns pid
    for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
        if [[ "$ns" =~ ^mervik-([0-9]+)-[ab]$ ]]; then
            pid="${BASH_REMATCH[1]}"
            if ! kill -0 "$pid" 2>/dev/null; then
                ip netns del "$ns" 2>/dev/null
            fi
        fi
    done
}

fail() {
    echo "test-netns: $*" >&2
    down
    exit 77
}

case "$cmd" in
down)
    down
    exit 0
    ;;
up) ;;
*)
    echo "usage: $0 up|down NAME" >&2
    exit 2
    ;;
esac

command -v ip >/dev/null || fail "the ip tool (iproute2) is missing"
sweep
down
ip netns add "$a" 2>/dev/null || fail "cannot create network namespaces (needs root or CAP_SYS_ADMIN)"
ip netns add "$b" 2>/dev/null || fail "cannot create a second network namespace"
ip link add name veth0 netns "$a" type veth peer name veth0 netns "$b" 2>/dev/null ||
    fail "cannot create a veth pair"
ip link add name veth1 netns "$a" type veth peer name veth1 netns "$b" 2>/dev/null ||
    fail "cannot create a second veth pair"

run_a() { ip -n "$a" "$@" || fail "ip -n $a $*"; }
run_b() { ip -n "$b" "$@" || fail "ip -n $b $*"; }

run_a addr add 10.231.0.1/24 dev veth0
run_a addr add 10.231.1.1/24 dev veth1
run_b addr add 10.231.0.2/24 dev veth0
run_b addr add 10.232.0.2/24 dev veth0
run_b addr add 10.231.1.2/24 dev veth1
for ns in "$a" "$b"; do
    ip -n "$ns" link set lo up || fail "lo up in $ns"
    ip -n "$ns" link set veth0 up || fail "veth0 up in $ns"
    ip -n "$ns" link set veth1 up || fail "veth1 up in $ns"
    # Replies from the far subnet arrive on veth0; no reverse-path filter may drop them.
    ip netns exec "$ns" sh -c 'for f in /proc/sys/net/ipv4/conf/*/rp_filter; do echo 0 > "$f"; done' 2>/dev/null
done
run_a route add 10.232.0.0/24 dev veth0
run_b route add local 10.233.0.0/16 dev lo

mac() { ip netns exec "$1" cat "/sys/class/net/$2/address"; }

echo "NS_A=$a"
echo "NS_B=$b"
echo "NETMASK=255.255.255.0"
echo "A_ADDR=10.231.0.1"
echo "B_ADDR=10.231.0.2"
echo "B_FAR_ADDR=10.232.0.2"
echo "A_ADDR2=10.231.1.1"
echo "B_ADDR2=10.231.1.2"
echo "FLOOD_FROM=10.233.0.1"
echo "A_MAC=$(mac "$a" veth0)"
echo "B_MAC=$(mac "$b" veth0)"
echo "A_MAC2=$(mac "$a" veth1)"
echo "B_MAC2=$(mac "$b" veth1)"
exit 0
