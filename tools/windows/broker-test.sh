#!/bin/sh
# Runs a Windows broker test under Wine against a Linux mosquitto that it starts first: the
# Windows test can neither start a Linux program nor reach a Unix socket. The broker listens
# on loopback TCP, plain and TLS, with certificates made for this run only; the test finds
# them through KORVAN_TEST_BROKER_PORT, KORVAN_TEST_BROKER_TLS_PORT and
# KORVAN_TEST_CERTIFICATES (tests/support/brokerprocess.h).
#
#   tools/windows/broker-test.sh COMMAND [ARGS...]     (ctest: the emulator, then the .exe)
set -eu
dir=$(mktemp -d)
broker=""
# shellcheck disable=SC2317 # run by the trap
cleanup() {
    [ -z "$broker" ] || kill "$broker" 2>/dev/null || true
    wait
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

quiet() {
    (cd "$dir" && "$@") >>"$dir/openssl.log" 2>&1 || {
        cat "$dir/openssl.log" >&2
        exit 1
    }
}
# A CA, another CA the panel must not trust, and a certificate for localhost.
for ca in ca other-ca; do
    quiet openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Korvan test $ca" \
        -keyout "$ca.key" -out "$ca.crt"
done
echo "subjectAltName=DNS:localhost" >"$dir/server.ext"
quiet openssl req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout server.key \
    -out server.csr
quiet openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 \
    -extfile server.ext -out server.crt

# Ports drawn at random and bound for real; on a collision, others.
attempt=0
while :; do
    attempt=$((attempt + 1))
    plain=$(shuf -i 20000-59998 -n 1)
    tls=$((plain + 1))
    cat >"$dir/mosquitto.conf" <<EOF
persistence false
user root
log_dest stderr
log_type error
log_type warning
log_type notice
log_type information
allow_anonymous true
per_listener_settings false
listener $plain 127.0.0.1
listener $tls 127.0.0.1
cafile $dir/ca.crt
certfile $dir/server.crt
keyfile $dir/server.key
EOF
    mosquitto -c "$dir/mosquitto.conf" 2>"$dir/broker.log" &
    broker=$!
    i=0
    until grep -q ' running' "$dir/broker.log" || ! kill -0 "$broker" 2>/dev/null; do
        i=$((i + 1))
        [ "$i" -lt 200 ] || { echo "mosquitto did not start:" >&2; break; }
        sleep 0.1
    done
    kill -0 "$broker" 2>/dev/null && grep -q ' running' "$dir/broker.log" && break
    kill "$broker" 2>/dev/null || true
    wait "$broker" 2>/dev/null || true
    broker=""
    if ! grep -q 'Address already in use' "$dir/broker.log" || [ "$attempt" -ge 20 ]; then
        cat "$dir/broker.log" >&2
        exit 1
    fi
done

export KORVAN_TEST_BROKER_PORT="$plain" KORVAN_TEST_BROKER_TLS_PORT="$tls"
export KORVAN_TEST_CERTIFICATES="Z:$dir"
status=0
"$@" || status=$?
if [ "$status" -ne 0 ]; then
    echo "--- mosquitto's log" >&2
    cat "$dir/broker.log" >&2
fi
exit "$status"
