#!/usr/bin/env bash
# Runs a command (a Windows test under Wine) beside two mapservices, squid and a redirecting
# server on loopback, and stops them afterwards. Wine programs cannot start Linux programs and
# wait for their ports reliably, so they start here and the test finds them through the
# environment:
#   with-mapservice.sh MAPSERVICE WORKDIR COMMAND [ARGUMENTS...]
# VELTRANE_SERVICE_HTTP / _HTTPS   ports of a service with its own test CA (ca.pem)
# VELTRANE_OTHER_HTTP / _HTTPS     ports of a second one with a test CA of its own, which the
#                                  first service does not trust
# VELTRANE_SQUID                   port of squid, a forwarding proxy that asks for Basic
#                                  authentication as tester:s3cret; VELTRANE_SQUID_LOG its log
# VELTRANE_REDIRECT_HTTP / _HTTPS  ports of scripts/redirect-server.py ("/moved?to=URL"), HTTPS
#                                  with the first service's certificate
# VELTRANE_RECORDER_GENUINE / _STRANGER  ports of scripts/tls-recorder.py, with the second
#                                  service's certificate and with one for the same name from a
#                                  CA that copies that service's CA name; _LOG what each received
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
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

"$mapservice" --http-port 0 --https-port 0 --make-certs "$work/certs" --update-set "$work/set" \
    --port-file "$work/service.ports" --log "$work/calls.log" > "$work/service.out" 2>&1 &
pids+=($!)
"$mapservice" --http-port 0 --https-port 0 --make-certs "$work/proxy-certs" --update-set "$work/set" \
    --port-file "$work/proxy.ports" > "$work/proxy.out" 2>&1 &
pids+=($!)

# squid with Basic authentication, as the Linux tests run it (tests/support/SquidProxy.h). It
# drops root to its own user, so its folder is open to all.
squid_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$work/squid"
chmod 777 "$work/squid"
printf 'tester:%s\n' "$(openssl passwd -apr1 s3cret)" > "$work/squid/passwd"
chmod 644 "$work/squid/passwd"
printf '%s\n' "http_port 127.0.0.1:$squid_port" "pid_filename $work/squid/squid.pid" \
    "cache_log $work/squid/cache.log" "access_log $work/squid/access.log" "cache_store_log none" \
    "coredump_dir $work/squid" "cache deny all" \
    "auth_param basic program /usr/lib/squid/basic_ncsa_auth $work/squid/passwd" \
    "auth_param basic realm veltrane-test" "acl authenticated proxy_auth REQUIRED" \
    "http_access allow authenticated" "http_access deny all" "visible_hostname veltrane-test" \
    "dns_nameservers 127.0.0.1" "pinger_enable off" "shutdown_lifetime 0 seconds" > "$work/squid/squid.conf"
squid -N -f "$work/squid/squid.conf" > "$work/squid/squid.out" 2>&1 &
pids+=($!)
for _ in $(seq 200); do
  [ -f "$work/service.ports" ] && [ -f "$work/proxy.ports" ] && break
  sleep 0.1
done
# The redirecting server's HTTPS side has the first service's certificate, made by now.
python3 "$(dirname "$0")/redirect-server.py" "$work/certs/server.pem" "$work/certs/server-key.pem" \
    "$work/redirect.ports" > "$work/redirect.out" 2>&1 &
pids+=($!)
for _ in $(seq 200); do
  [ -f "$work/redirect.ports" ] && (echo > "/dev/tcp/127.0.0.1/$squid_port") 2>/dev/null && break
  sleep 0.1
done
port() { sed -n "s/^$2=//p" "$1"; }
windows() { echo "Z:$1" | tr / '\\'; }
export VELTRANE_SERVICE_HTTP=$(port "$work/service.ports" http) VELTRANE_SERVICE_HTTPS=$(port "$work/service.ports" https)
export VELTRANE_OTHER_HTTP=$(port "$work/proxy.ports" http) VELTRANE_OTHER_HTTPS=$(port "$work/proxy.ports" https)
export VELTRANE_SQUID=$squid_port VELTRANE_SQUID_LOG=$(windows "$work/squid/access.log")
export VELTRANE_REDIRECT_HTTP=$(port "$work/redirect.ports" http) VELTRANE_REDIRECT_HTTPS=$(port "$work/redirect.ports" https)
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
openssl req -new -newkey rsa:2048 -nodes -keyout "$work/stranger.key" -subj /CN=localhost 2>/dev/null |
    openssl x509 -req -CA "$work/forged-ca.pem" -CAkey "$work/forged-ca.key" -set_serial 7 -days 2 \
        -extfile <(printf 'subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\n') -out "$work/stranger.pem" 2>/dev/null
python3 "$(dirname "$0")/tls-recorder.py" "$work/recorder.ports" \
    genuine "$work/proxy-certs/server.pem" "$work/proxy-certs/server-key.pem" "$work/genuine.received" \
    stranger "$work/stranger.pem" "$work/stranger.key" "$work/stranger.received" > "$work/recorder.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [ -f "$work/recorder.ports" ] && break
  sleep 0.1
done
export VELTRANE_RECORDER_GENUINE=$(port "$work/recorder.ports" genuine) VELTRANE_RECORDER_STRANGER=$(port "$work/recorder.ports" stranger)
export VELTRANE_RECORDER_GENUINE_LOG=$(windows "$work/genuine.received") VELTRANE_RECORDER_STRANGER_LOG=$(windows "$work/stranger.received")
export VELTRANE_UPDATE_SET=$(windows "$work/set") VELTRANE_CALL_LOG=$(windows "$work/calls.log")
"$@"
