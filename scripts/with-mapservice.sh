#!/usr/bin/env bash
# Runs a command (a Windows test under Wine) beside two mapservices on loopback, and stops them
# afterwards. Wine programs cannot start Linux programs and wait for their ports reliably, so
# the services start here and the test finds them through the environment:
#   with-mapservice.sh MAPSERVICE WORKDIR COMMAND [ARGUMENTS...]
# VELTRANE_SERVICE_HTTP / _HTTPS   ports of a service with its own test CA (ca.pem)
# VELTRANE_PROXY_HTTP / _HTTPS     ports of a second one that answers 407 unless the request
#                                  carries "Proxy-Authorization: Basic" for tester:s3cret; it has
#                                  a test CA of its own, which the first service does not trust
# VELTRANE_CA_BUNDLE, VELTRANE_OTHER_CA, VELTRANE_OTHER_CERT (the second service's own
# certificate), VELTRANE_FORGED_CERT (a certificate of another key that copies that one's
# issuer name, subject and serial), VELTRANE_UPDATE_SET, VELTRANE_CALL_LOG  as Windows paths
set -euo pipefail
mapservice=$1
work=$2
shift 2
rm -rf "$work"
mkdir -p "$work/set/CONF"
# A map file of 300,000 bytes whose byte i is i mod 251: no piece boundary repeats by accident.
python3 -c 'import sys; sys.stdout.buffer.write(bytes(i % 251 for i in range(300000)))' > "$work/set/CONF/BIG.DAT"
printf 'small\n' > "$work/set/CONF/SMALL.DAT"

pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT

"$mapservice" --http-port 0 --https-port 0 --make-certs "$work/certs" --update-set "$work/set" \
    --port-file "$work/service.ports" --log "$work/calls.log" > "$work/service.out" 2>&1 &
pids+=($!)
"$mapservice" --http-port 0 --https-port 0 --make-certs "$work/proxy-certs" --update-set "$work/set" \
    --proxy-auth tester:s3cret --port-file "$work/proxy.ports" > "$work/proxy.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [ -f "$work/service.ports" ] && [ -f "$work/proxy.ports" ] && break
  sleep 0.1
done
port() { sed -n "s/^$2=//p" "$1"; }
windows() { echo "Z:$1" | tr / '\\'; }
export VELTRANE_SERVICE_HTTP=$(port "$work/service.ports" http) VELTRANE_SERVICE_HTTPS=$(port "$work/service.ports" https)
export VELTRANE_PROXY_HTTP=$(port "$work/proxy.ports" http) VELTRANE_PROXY_HTTPS=$(port "$work/proxy.ports" https)
export VELTRANE_CA_BUNDLE=$(windows "$work/certs/ca.pem") VELTRANE_OTHER_CA=$(windows "$work/proxy-certs/ca.pem")
export VELTRANE_OTHER_CERT=$(windows "$work/proxy-certs/server.pem")
# Made with a CA of the same name, so issuer and serial match and nothing else does.
forge() { openssl x509 -in "$work/proxy-certs/server.pem" -noout "-$1" -nameopt compat | sed "s/^$1=//"; }
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/forged-ca.key" -out "$work/forged-ca.pem" \
    -subj "$(forge issuer)" -days 2 2>/dev/null
openssl req -new -newkey rsa:2048 -nodes -keyout "$work/forged.key" -subj "$(forge subject)" 2>/dev/null |
    openssl x509 -req -CA "$work/forged-ca.pem" -CAkey "$work/forged-ca.key" -set_serial "0x$(forge serial)" \
        -days 2 -out "$work/forged.pem" 2>/dev/null
export VELTRANE_FORGED_CERT=$(windows "$work/forged.pem")
export VELTRANE_UPDATE_SET=$(windows "$work/set") VELTRANE_CALL_LOG=$(windows "$work/calls.log")
"$@"
