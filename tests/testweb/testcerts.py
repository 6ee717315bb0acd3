#!/usr/bin/env python3
"""testcerts.py - certificates for the demo web's TLS listeners.

Usage: testcerts.py FOLDER

Makes, with the openssl command, in FOLDER (created when missing):
  ca.pem                  a private test CA (hand it to the program with
                          SSL_CERT_FILE; it never goes into the machine's
                          trust store)
  good.pem / good.key     from the CA, for 127.0.0.1, localhost and every
                          demo host (x.test, *.x.test, the probe hosts)
  wrongname.pem / .key    from the CA, for elsewhere.invalid only
  untrusted.pem / .key    self-signed, for the right names
  expired.pem / .key      from the CA, for the right names, valid only in
                          January 2020
Files already there are kept, so several servers can share a folder.
Keys are EC P-256: quick to make.
"""

import os
import subprocess
import sys

KINDS = ("good", "wrongname", "untrusted", "expired")

_CONFIG = """\
[ req ]
distinguished_name = dn
prompt = no
[ dn ]
CN = %(cn)s
[ ca_ext ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ server_ext ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = %(names)s
[ ca ]
default_ca = test_ca
[ test_ca ]
dir = %(folder)s
database = %(folder)s/index.txt
serial = %(folder)s/serial
new_certs_dir = %(folder)s
default_md = sha256
policy = any_policy
unique_subject = no
copy_extensions = none
[ any_policy ]
commonName = supplied
"""


def demo_names():
    """subjectAltName text for every name the demo web answers to."""
    # Imported here so that testweb.py can import this module.
    from testweb import SITES, PROBE_HOSTS
    names = ["IP:127.0.0.1", "DNS:localhost"]
    for host in sorted(SITES):
        names += ["DNS:" + host, "DNS:*." + host]
    for host in PROBE_HOSTS:
        names += ["DNS:" + host, "DNS:www." + host]
    return ", ".join(names)


def _openssl(args, folder):
    result = subprocess.run(["openssl"] + args, cwd=folder, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    if result.returncode != 0:
        raise RuntimeError("openssl %s: %s" % (args[0], result.stderr.decode(errors="replace")))


def _config(folder, name, cn, names):
    path = os.path.join(folder, name + ".cnf")
    with open(path, "w") as f:
        f.write(_CONFIG % {"cn": cn, "names": names, "folder": folder})
    return path


def _new_key(folder, name):
    _openssl(["genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256",
              "-out", name + ".key"], folder)


def _signed(folder, name, names, dates):
    """A server certificate for names from the test CA; dates are openssl
    ca options (validity)."""
    cnf = _config(folder, name, name + ".test-server", names)
    _new_key(folder, name)
    _openssl(["req", "-new", "-config", cnf, "-key", name + ".key", "-out", name + ".csr"],
             folder)
    _openssl(["ca", "-batch", "-notext", "-config", cnf, "-cert", "ca.pem",
              "-keyfile", "ca.key", "-extfile", cnf, "-extensions", "server_ext",
              "-in", name + ".csr", "-out", name + ".pem"] + dates, folder)


def make_certs(folder):
    """Makes whatever of the files is missing in folder; returns folder."""
    folder = os.path.abspath(folder)
    os.makedirs(folder, exist_ok=True)
    if all(os.path.exists(os.path.join(folder, k + ".pem")) for k in KINDS):
        return folder
    names = demo_names()
    if not os.path.exists(os.path.join(folder, "ca.pem")):
        cnf = _config(folder, "ca", "Quorvax test CA", names)
        _new_key(folder, "ca")
        _openssl(["req", "-x509", "-new", "-config", cnf, "-key", "ca.key", "-days", "30",
                  "-extensions", "ca_ext", "-out", "ca.pem"], folder)
        open(os.path.join(folder, "index.txt"), "w").close()
        with open(os.path.join(folder, "serial"), "w") as f:
            f.write("1000\n")
    if not os.path.exists(os.path.join(folder, "good.pem")):
        _signed(folder, "good", names, ["-days", "30"])
    if not os.path.exists(os.path.join(folder, "wrongname.pem")):
        _signed(folder, "wrongname", "DNS:elsewhere.invalid", ["-days", "30"])
    if not os.path.exists(os.path.join(folder, "expired.pem")):
        _signed(folder, "expired", names,
                ["-startdate", "20200101000000Z", "-enddate", "20200131000000Z"])
    if not os.path.exists(os.path.join(folder, "untrusted.pem")):
        cnf = _config(folder, "untrusted", "untrusted.test-server", names)
        _new_key(folder, "untrusted")
        _openssl(["req", "-x509", "-new", "-config", cnf, "-key", "untrusted.key",
                  "-days", "30", "-extensions", "server_ext", "-out", "untrusted.pem"],
                 folder)
    return folder


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    print(make_certs(sys.argv[1]))
