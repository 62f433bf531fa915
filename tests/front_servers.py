#!/usr/bin/env python3
"""The real servers that stand in front of the loopback test server.

Command line:
  front_servers.py start DIR --backend PORT --https-port PORT --proxy-port PORT --tls13-port PORT
      Makes a certificate authority and a certificate for DNS:localhost in DIR
      (DIR/ca.der is the authority for the tests to trust, DIR/ca.sha1 its SHA-1
      thumbprint in hex), then starts
      - nginx serving https://localhost:HTTPS-PORT/, passing every request on to
        http://127.0.0.1:BACKEND/ unchanged (redirects included), and the same
        on https://localhost:TLS13-PORT/ speaking TLS 1.3 only (Wine's schannel
        offers TLS 1.0 to 1.2: a server they share no protocol with), and
      - tinyproxy on 127.0.0.1:PROXY-PORT, which asks for Basic authentication
        as user "tester" with password "secret".
      Both listen on 127.0.0.1 only. Servers of an earlier run in DIR are stopped first.
  front_servers.py stop DIR
      Stops the servers that a start in DIR began.
"""

import argparse
import hashlib
import os
import subprocess
import sys
import time

from http_server import read_pid, stop_by_pid

PROXY_USER = "tester"
PROXY_PASSWORD = "secret"


def run(*command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_certificates(folder):
    """A fresh authority and a one-day certificate for localhost signed by it."""
    ca_key, ca_pem = os.path.join(folder, "ca.key"), os.path.join(folder, "ca.pem")
    key, request = os.path.join(folder, "server.key"), os.path.join(folder, "server.csr")
    extensions = os.path.join(folder, "server.ext")
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
        "-subj", "/CN=RAVoduza Test Authority", "-keyout", ca_key, "-out", ca_pem,
        "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    der = os.path.join(folder, "ca.der")
    run("openssl", "x509", "-in", ca_pem, "-outform", "DER", "-out", der)
    with open(der, "rb") as source, open(os.path.join(folder, "ca.sha1"), "w") as thumbprint:
        thumbprint.write(hashlib.sha1(source.read()).hexdigest().upper())
    run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost",
        "-keyout", key, "-out", request)
    with open(extensions, "w") as f:
        f.write("subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\n"
                "basicConstraints=CA:FALSE\n")
    run("openssl", "x509", "-req", "-in", request, "-CA", ca_pem, "-CAkey", ca_key,
        "-CAcreateserial", "-days", "1", "-extfile", extensions,
        "-out", os.path.join(folder, "server.pem"))


def start_nginx(folder, https_port, tls13_port, backend):
    # Workers started by root would run as nobody, who cannot read the key.
    user = "user root;\n" if os.geteuid() == 0 else ""
    config = os.path.join(folder, "nginx.conf")
    with open(config, "w") as f:
        f.write("""%(user)sdaemon on;
pid %(dir)s/nginx.pid;
error_log %(dir)s/nginx-error.log;
worker_processes 1;
events { worker_connections 64; }
http {
    access_log off;
    client_body_temp_path %(dir)s/client;
    proxy_temp_path %(dir)s/proxy;
    fastcgi_temp_path %(dir)s/fastcgi;
    uwsgi_temp_path %(dir)s/uwsgi;
    scgi_temp_path %(dir)s/scgi;
    ssl_certificate %(dir)s/server.pem;
    ssl_certificate_key %(dir)s/server.key;
    proxy_redirect off;
    proxy_buffering off;
    proxy_http_version 1.1;
    server {
        listen 127.0.0.1:%(port)d ssl;
        server_name localhost;
        location / { proxy_pass http://127.0.0.1:%(backend)d; }
    }
    server {
        listen 127.0.0.1:%(tls13_port)d ssl;
        server_name localhost;
        ssl_protocols TLSv1.3;
        location / { proxy_pass http://127.0.0.1:%(backend)d; }
    }
}
""" % {"user": user, "dir": folder, "port": https_port, "tls13_port": tls13_port,
       "backend": backend})
    run("nginx", "-p", folder, "-c", config)


def start_tinyproxy(folder, port):
    config = os.path.join(folder, "tinyproxy.conf")
    with open(config, "w") as f:
        f.write("Port %d\nListen 127.0.0.1\nTimeout 60\nMaxClients 20\nAllow 127.0.0.1\n"
                "BasicAuth %s %s\nPidFile \"%s/tinyproxy.pid\"\nLogFile \"%s/tinyproxy.log\"\n"
                "LogLevel Warning\n" % (port, PROXY_USER, PROXY_PASSWORD, folder, folder))
    run("tinyproxy", "-c", config)


def wait_for_pid(path):
    for _ in range(100):
        pid = read_pid(path)
        if pid:
            return pid
        time.sleep(0.05)
    sys.exit("front_servers.py: %s did not appear" % path)


def stop(folder):
    for program in ("nginx", "tinyproxy"):
        stop_by_pid(os.path.join(folder, program + ".pid"), program)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("action", choices=("start", "stop"))
    parser.add_argument("dir")
    parser.add_argument("--backend", type=int)
    parser.add_argument("--https-port", type=int)
    parser.add_argument("--proxy-port", type=int)
    parser.add_argument("--tls13-port", type=int)
    args = parser.parse_args()
    folder = os.path.abspath(args.dir)
    os.makedirs(folder, exist_ok=True)
    stop(folder)
    if args.action == "stop":
        return
    make_certificates(folder)
    start_nginx(folder, args.https_port, args.tls13_port, args.backend)
    wait_for_pid(os.path.join(folder, "nginx.pid"))
    start_tinyproxy(folder, args.proxy_port)
    wait_for_pid(os.path.join(folder, "tinyproxy.pid"))


if __name__ == "__main__":
    main()
