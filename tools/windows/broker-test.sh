#!/bin/sh
# Runs a Windows broker test under Wine against a Linux mosquitto that it starts first: the
# Windows test can neither start a Linux program nor reach a Unix socket. The broker listens
# on loopback TCP with certificates made for this run only, and the test finds each
# listener through its variable (tests/support/brokerprocess.h):
#   KORVAN_TEST_BROKER_PORT              plain, anonymous
#   KORVAN_TEST_BROKER_TLS_PORT          TLS, anonymous
#   KORVAN_TEST_BROKER_CERTIFICATE_PORT  TLS, a client certificate signed by the CA required
#   KORVAN_TEST_BROKER_USERS_PORT        plain, only the user panel (password secret), who
#                                        may write under korvan/panel/ only
#   KORVAN_TEST_CERTIFICATES             the folder with ca.crt, other-ca.crt, client.crt,
#                                        client.key
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
quiet openssl req -newkey rsa:2048 -nodes -subj /CN=panel -keyout client.key -out client.csr
quiet openssl x509 -req -in client.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 \
    -out client.crt
quiet mosquitto_passwd -c -b users panel secret
printf 'user panel\ntopic readwrite korvan/panel/#\n' >"$dir/acl"

# Ports drawn at random and bound for real; on a collision, others.
attempt=0
while :; do
    attempt=$((attempt + 1))
    plain=$(shuf -i 20000-59996 -n 1)
    tls=$((plain + 1))
    certificate=$((plain + 2))
    users=$((plain + 3))
    cat >"$dir/mosquitto.conf" <<EOF
persistence false
user root
log_dest stderr
log_type error
log_type warning
log_type notice
log_type information
per_listener_settings true
listener $plain 127.0.0.1
allow_anonymous true
listener $tls 127.0.0.1
allow_anonymous true
cafile $dir/ca.crt
certfile $dir/server.crt
keyfile $dir/server.key
listener $certificate 127.0.0.1
allow_anonymous true
cafile $dir/ca.crt
certfile $dir/server.crt
keyfile $dir/server.key
require_certificate true
listener $users 127.0.0.1
allow_anonymous false
password_file $dir/users
acl_file $dir/acl
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
export KORVAN_TEST_BROKER_CERTIFICATE_PORT="$certificate" KORVAN_TEST_BROKER_USERS_PORT="$users"
export KORVAN_TEST_CERTIFICATES="Z:$dir"
status=0
"$@" || status=$?
if [ "$status" -ne 0 ]; then
    echo "--- mosquitto's log" >&2
    cat "$dir/broker.log" >&2
fi
exit "$status"
