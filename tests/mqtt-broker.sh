#!/bin/bash
# A Mosquitto broker for the relay's tests, on loopback only: a password file and an access
# list, as a house's broker has them, and persistence, so that a restarted broker keeps what it
# had queued; with TLS_PORT, MQTT over TLS there too, with the tests' self-signed receiver.pem
# from CERTIFICATES. Usage: tests/mqtt-broker.sh FOLDER PORT [TLS_PORT CERTIFICATES] (runs in
# the foreground until killed).
# The users: relay (password relay-pw-secret) reads and writes the relay's topics and Home
# Assistant's; house (house-pw-secret) publishes under the relay's topics and reads Home
# Assistant's; nobody else gets in.
set -euo pipefail
folder=$1
port=$2
tls_port=${3:-}
certificates=${4:-}
mkdir -p "$folder"
cd "$folder"
if [ ! -f passwords ]; then
    : > passwords
    chmod 0600 passwords
    mosquitto_passwd -b passwords relay relay-pw-secret
    mosquitto_passwd -b passwords house house-pw-secret
fi
cat > acl <<'ACL'
user relay
topic readwrite quillora/#
topic readwrite homeassistant/#

user house
topic readwrite quillora/#
topic read homeassistant/#
ACL
# Run as root, Mosquitto would become the user mosquitto, who can't read this folder.
cat > mosquitto.conf <<CONF
user $(id -un)
listener $port 127.0.0.1
allow_anonymous false
password_file $PWD/passwords
acl_file $PWD/acl
persistence true
persistence_location $PWD/
autosave_interval 1
max_queued_messages 20000
log_dest stdout
log_type error
log_type warning
log_type notice
CONF
if [ -n "$tls_port" ]; then
    cat >> mosquitto.conf <<CONF
listener $tls_port 127.0.0.1
certfile $certificates/receiver.pem
keyfile $certificates/receiver.key
CONF
fi
exec mosquitto -c mosquitto.conf
