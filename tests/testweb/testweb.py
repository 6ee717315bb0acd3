#!/usr/bin/env python3
"""testweb.py - a small demo web for Quorvax, served on loopback.

Usage: testweb.py [--port P] [--log FILE] [--exit-on-stdin-eof] [--rate B]
                  [--tls-dir FOLDER]

Port 0 picks a free port.  The last line printed at start is "PORT <n>".
Every request is answered on a fresh connection, which is closed
afterwards.

With --tls-dir the same web is served over TLS too, on one loopback
listener per certificate kind (testcerts.py makes them in FOLDER, with the
private test CA in FOLDER/ca.pem): good, wrongname, untrusted, expired,
tls12 (the good certificate, TLS 1.2 at most) and tls11 (the good
certificate, TLS 1.0 and 1.1 only: a server every client must refuse;
left out, with a note on standard error, where this Python's OpenSSL
cannot be set up for them).
Each is announced before the PORT line as "TLS <kind> <port>".  As a proxy
the server then also takes "CONNECT host:port": it answers 200 and tunnels
the connection to its own TLS listener on that port when it has one there,
else to the good one (so demo hosts on port 443 reach it).  Answers over
TLS carry "X-Server-Name: <name>" with the server name the client sent
(empty when it sent none).  A request that
does not start with a letter (a TLS hello sent to the plain port) is
answered 400 at once.

Requests arrive either direct ("GET /path", host from the Host line) or in
the proxy form ("GET http://host/path"), so the program can reach every
demo site by setting its proxy to 127.0.0.1:<port>.  A leading "www."
(also a doubled one) and a ":port" are ignored when the host is matched.

Routes, tried in this order:
  /echo                      the raw request bytes as the body (any host)
  /stream/<name>             deterministic stream bytes (any host), see below
  /get/[<size>/][key=]<name> 302 to http://cdn.<site>/stream/<name>[?size=..]
  /loop/<n>                  302 to /loop/<n+1> for ever (absolute; ?rel=1
                             gives a relative Location)
  /redirect?to=<address>     302 to the address given (also at
                             /redirect.mp4, a path a direct link may name)
  /status/<code>             that status with a short HTML body
  /page/<form>               a page of today's web (any host): tag (a
                             <video> tag), jsonld (JSON-LD contentUrl, sent
                             chunked), sources (several <source>s under
                             <base href>), nested (JSON-LD through @graph),
                             og (og:video:secure_url with og:title), none
                             (no video), hls, dash and drm (manifest
                             answers); the declared stream is
                             /stream/<form>clip.mp4?size=N (size=N, default
                             100000)
  gnu.org, ietf.org, debian.org (any path): a small page (probe targets)
  <site>/config/<id>         second page of flashy.test (kind 8)
  <site>/feed/<id>           second page of escapo.test (kind 13)
  playlst.test/playlist/<id> second page of playlst.test (kind 18)
  <site>/moved/<id>          short 301 to http://www.<site>/watch/<id>
                             (?rel=1: Location /watch/<id>; ?total=N pads
                             the whole answer to N bytes)
  <site>/<anything>          the site's video page for id = last segment

Video page options (query): size=N (stream length the page points at,
default 200000), pad=N (N filler bytes before the player script),
tail=N (N filler bytes after it),
noend=1 (no closing </body></html>), stall=1 (keep the connection open
after the page), title=T (page title), bare=1 (with noend: nothing at all
that a site rule could match), utf8=1 (the page in UTF-8).  Pages are sent
in Latin-1 otherwise, so a title such as title=Caf%C3%A9 arrives as the
single byte 0xE9, as from an older site.

Stream options (query of /stream/<name>; "?" inside the query counts as
"&"):  size=N (default 100000), status=C (answer C with a short body),
norange=1 (ignore Range: 200 with the whole body), announce=X (send X as
the Content-Length value, whatever the body), reset=N (abortive close after
N body bytes), stall=N (headers and N body bytes, then nothing),
rate=B (at most B bytes per second), disposition=NAME (a Content-Disposition
header naming plain.mp4 in filename= and NAME in filename*=), split=N (send the first N bytes of
the answer, pause pause=MS milliseconds (default 300), then the rest),
records=K (the body in bursts of K writes of record=N bytes, default 16384
- over TLS, K records, full ones by default - with a pause of pause=MS
milliseconds after each burst),
badrange=K (a ranged request gets a 206 whose Content-Range and body start
K bytes past the offset asked for, at most at the last byte; a request
without a range is answered as usual).

Stream bytes: byte k of stream <name> is
  (k + 31 * ((k >> 8) & 0xFF) + 101 * (k >> 16) + seed(name)) & 0xFF
where seed(name) is the sum of the name's bytes.  tests/support/testweb.h
holds the same function.
"""

import argparse
import os
import re
import select
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time
import urllib.parse
import warnings

# --------------------------------------------------------------- the sites

# Site host -> site code of the rule that reads its pages.
SITES = {
    "reelbox.test": 0, "tubeon.test": 1, "flvbay.test": 2, "vidcue.test": 3,
    "clipgo.test": 25, "showly.test": 4, "vidora.test": 5,
    "moviestar.test": 7, "mvs.test": 7, "flashy.test": 8,
    "redclips.test": 9, "html5v.test": 10, "videotrek.test": 11,
    "escapo.test": 13, "pathviewer.test": 14, "streamhall.test": 16,
    "addvar.test": 17, "playlst.test": 18, "vidfan.test": 19,
    "qualityvid.test": 20, "gdaclip.test": 21, "fil.test": 22,
    "vsr.test": 23, "filer2.test": 24,
}
PROBE_HOSTS = ("gnu.org", "ietf.org", "debian.org")

DEFAULT_PAGE_STREAM_SIZE = 200000
DEFAULT_STREAM_SIZE = 100000


def enc(text):
    """Percent-encodes every character but letters, digits and -._~."""
    return urllib.parse.quote(text, safe="")


def enc2(text):
    """Encodes twice (each % becomes %25), as some players nest them."""
    return enc(enc(text))


def script_for(host, code, vid, size):
    """The player part of a video page: the form the site's rule reads."""
    cdn = "cdn." + host
    stream = "http://%s/stream/%s?size=%d" % (cdn, vid, size)
    if code == 0:
        return ("<script>\nvar player = {'srv': 'http://dl.%s/get/%d', "
                "'file': '%s', 'autostart': true};\n</script>\n"
                % (host, size, vid))
    if code == 1:
        inner = "itag=34&url=%s&quality=medium" % enc(stream + "&id=9")
        return ('<embed type="application/x-shockwave-flash" flashvars="'
                'fs=1&url_encoded_fmt_stream_map=%s&amp;hl=en"/>\n'
                % enc(inner))
    if code in (2, 7):
        return ('<param name="flashvars" value="flv_url=%s&amp;title=%s"/>\n'
                % (enc(stream), vid))
    if code == 3:
        return ("<script>\nplayer.load(encodeURIComponent(\"%s\"));\n"
                "</script>\n" % stream)
    if code == 4:
        return ("<script>\nso.addParam('video_url', '%s');\n</script>\n"
                % stream.replace("?", "%3F").replace("=", "%3D"))
    if code == 5:
        return ("<script>\nvar cfg = {'video_url': \"%s\", 'w': 640};\n"
                "</script>\n" % stream)
    if code == 8:
        return ('<script>\nflashvars.config = "http://cfg.%s/config/%s?size=%d";'
                "\n</script>\n" % (host, vid, size))
    if code == 9:
        return ('<script>\nflashvars.video_url = "%s";\n</script>\n'
                % enc(stream))
    if code == 10:
        return ('<video id="player" controls width="640">\n'
                '<source src="%s" type="video/x-flv">\n</video>\n' % stream)
    if code == 11:
        return ('<object><param name="flashvars" value="video_url=%s&amp;'
                'autoplay=1"/></object>\n' % enc(stream))
    if code == 13:
        return ('<script>\nflashvars.config = escape("http://cfg.%s/feed/%s?'
                'size=%d");\n</script>\n' % (host, vid, size))
    if code == 14:
        return ('<script>\nvar p = {flvpathValue: "%s_@?_sig=%s"};\n'
                "</script>\n" % (stream, vid))
    if code == 16:
        return ('<script>\nvar streams = [{"label":"360p","file":"%s"}];\n'
                "</script>\n" % stream)
    if code == 17:
        return ('<script>\nso.addVariable("file", encodeURIComponent("%s"));'
                "\n</script>\n" % stream)
    if code == 18:
        return ("<script>\nplayer.setup({playlist: 'playlist/%s?size=%d', "
                "autostart: false});\n</script>\n" % (vid, size))
    if code == 19:
        return ("<script>\nflashvars.video_url = '%s';\n</script>\n"
                % stream)
    if code == 20:
        sd = "http://cdn.%s/sd/%s" % (host, vid)
        hq = "http://dl.%s/get/%s?size=%d" % (host, vid, size)
        return ('<script>\nvar video = {"sdURL":"%s","hqURL":"%s"};\n'
                "</script>\n" % (sd.replace("/", "\\/"), hq.replace("/", "\\/")))
    if code == 21:
        media = "http:%%5C/%%5C/%s/stream/%s%%3Fsize%%3D%d" % (cdn, vid, size)
        return ('<script>\nvar clip = {"mediaURL":"%s","key":"1500000000_%s"};'
                "\n</script>\n" % (media, vid))
    if code == 22:
        return ("<script>\njwplayer('p').setup({'file': '%s', 'width': 640});"
                "\n</script>\n" % stream)
    if code == 23:
        return ("<script>\ndocument.write('<video src=\"%s\" controls>"
                "</video>');\n</script>\n" % stream)
    if code == 24:
        return ("<script>\nvar opts = {'file': \"http://dl.%s/get/%s?size=%d\"};"
                "\n</script>\n" % (host, vid, size))
    if code == 25:
        return ("<video controls><source src='%s' type='video/x-flv'>"
                "</video>\n" % stream)
    return ""


def video_page(host, code, vid, query):
    size = int_arg(query, "size", DEFAULT_PAGE_STREAM_SIZE)
    pad = int_arg(query, "pad", 0)
    title = query.get("title", "Demo clip %s: a day at %s | %s" % (vid, host, host))
    end = not query.get("noend")
    parts = ["<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n",
             "<title>%s</title>\n</head>\n<body>\n" % title,
             "<h1>%s</h1>\n" % title]
    if pad > 0:
        filler = ("<p>lorem ipsum dolor sit amet</p>\n" * (pad // 33 + 1))[:pad]
        parts.append(filler)
    if not query.get("bare"):
        parts.append(script_for(host, code, vid, size))
    tail = int_arg(query, "tail", 0)
    if tail > 0:
        parts.append(("<p>comments follow</p>\n" * (tail // 23 + 1))[:tail])
    if end:
        parts.append("<p>Uploaded by demo</p>\n</body>\n</html>\n")
    return "".join(parts).encode("utf-8" if query.get("utf8") else "latin-1")


def second_page(host, kind, vid, size):
    stream = "http://cdn.%s/stream/%s?size=%d" % (host, vid, size)
    if kind == "config":
        return ("<config>\r\n<title>%s</title>\r\n<video> %s</video>\r\n"
                "<autostart>1</autostart>\r\n</config>\r\n" % (vid, stream))
    if kind == "feed":
        return ('<?xml version="1.0"?>\n<rss><channel><item>\n'
                "<media:url>%s</media:url>\n</item></channel></rss>\n" % stream)
    # playlist
    return ('<?xml version="1.0"?>\n<rss><channel><item>\n<media:group>\n'
            '<media:content url="%s&amp;sig=7" type="video/x-flv"/>\n'
            "</media:group>\n</item></channel></rss>\n" % stream)


# ------------------------------------------------------------- the streams

_BASE = bytes(((j + 31 * (j >> 8)) & 0xFF) for j in range(65536))
_ROT = [bytes(((x + c) & 0xFF) for x in range(256)) for c in range(256)]


def stream_seed(name):
    return sum(name.encode("latin-1", "replace")) & 0xFF


def stream_bytes(name, start, count):
    """count bytes of stream name from offset start."""
    seed = stream_seed(name)
    out = []
    k = start
    end = start + count
    while k < end:
        block = k >> 16
        block_data = _BASE.translate(_ROT[(seed + 101 * block) & 0xFF])
        lo = k & 0xFFFF
        hi = min(65536, lo + (end - k))
        out.append(block_data[lo:hi])
        k += hi - lo
    return b"".join(out)


# ------------------------------------------------------------- the server

def int_arg(query, name, default):
    value = query.get(name)
    if value is None:
        return default
    m = re.match(r"\d+", value)
    return int(m.group(0)) if m else default


def parse_query(text):
    query = {}
    for part in text.replace("?", "&").split("&"):
        if not part:
            continue
        key, _, value = part.partition("=")
        query[urllib.parse.unquote(key)] = urllib.parse.unquote(value)
    return query


def normal_host(host):
    host = host.strip().lower()
    host = host.split(":", 1)[0]
    while host.startswith("www."):
        host = host[4:]
    return host


def site_of(host):
    """The demo site a host belongs to (cdn.x.test -> x.test), or None."""
    parts = host.split(".")
    for i in range(len(parts) - 1):
        candidate = ".".join(parts[i:])
        if candidate in SITES:
            return candidate
    return None


class Handler(socketserver.BaseRequestHandler):
    log_file = None
    default_rate = 0          # stream rate when a request names none
    tls_ports = {}            # certificate kind -> port of its TLS listener
    log_lock = threading.Lock()

    # ---- reading the request
    def read_request(self):
        data = b""
        self.request.settimeout(15)
        try:
            while b"\r\n\r\n" not in data and len(data) < 65536:
                chunk = self.request.recv(4096)
                if not chunk:
                    break
                data += chunk
                if not data[:1].isalpha():
                    break
        except OSError:
            return None
        return data

    def handle(self):
        if isinstance(self.request, ssl.SSLSocket):
            try:
                self.request.settimeout(15)
                self.request.do_handshake()
            except (OSError, ssl.SSLError):
                return      # the client refused the certificate, or spoke no TLS
        raw = self.read_request()
        if not raw:
            return
        if Handler.log_file:
            with Handler.log_lock:
                with open(Handler.log_file, "ab") as log:
                    log.write(struct.pack("<I", len(raw)) + raw)
        head = raw.split(b"\r\n\r\n", 1)[0].decode("latin-1")
        lines = head.split("\r\n")
        fields = lines[0].split(" ")
        if len(fields) < 3 or not raw[:1].isalpha():
            self.answer(400, b"bad request line\n")
            return
        if fields[0] == "CONNECT":
            self.tunnel(fields[1], raw.split(b"\r\n\r\n", 1)[1])
            return
        target = fields[1]
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        if target.lower().startswith("http://"):
            rest = target[7:]
            host, slash, path = rest.partition("/")
            path = "/" + path
        else:
            host = headers.get("host", "")
            path = target
        path, _, query_text = path.partition("?")
        self.raw = raw
        self.headers = headers
        self.host_line = host
        self.host = normal_host(host)
        self.path = path
        self.query = parse_query(query_text)
        self.route()

    # ---- writing answers
    def send_all(self, data):
        try:
            self.request.sendall(data)
            return True
        except OSError:
            return False

    def answer(self, status, body, extra=(), content_type="text/html"):
        reason = {200: "OK", 206: "Partial Content", 301: "Moved Permanently",
                  302: "Found", 400: "Bad Request", 404: "Not Found",
                  416: "Range Not Satisfiable", 500: "Internal Server Error",
                  503: "Service Unavailable"}.get(status, "Status")
        head = ["HTTP/1.1 %d %s" % (status, reason),
                "Server: testweb",
                "Content-Type: " + content_type,
                "Content-Length: %d" % len(body),
                "Connection: close"]
        head.extend(extra)
        head.extend(self.tls_lines())
        self.send_all(("\r\n".join(head) + "\r\n\r\n").encode("latin-1") + body)

    def tls_lines(self):
        """Header lines of an answer over TLS: the server name asked for."""
        if not isinstance(self.request, ssl.SSLSocket):
            return []
        return ["X-Server-Name: " + (getattr(self.request, "server_name_seen", None) or "")]

    def redirect(self, location, status=302, total=None):
        body = b"<html><body>moved</body></html>\n"
        head = ["HTTP/1.1 %d %s" % (status, "Found" if status == 302 else "Moved Permanently"),
                "Server: testweb", "Location: " + location,
                "Content-Type: text/html", "Content-Length: %d" % len(body),
                "Connection: close"]
        text = ("\r\n".join(head) + "\r\n\r\n").encode("latin-1") + body
        if total is not None:
            # Pads with one extra header line so the whole answer is total bytes.
            fixed = len(text) + len("X-Pad: \r\n")
            if total > fixed:
                head.insert(2, "X-Pad: " + "p" * (total - fixed))
                text = ("\r\n".join(head) + "\r\n\r\n").encode("latin-1") + body
        self.send_all(text)

    def hold_open(self, seconds=120):
        """Sends nothing more; returns when the client closes."""
        end = time.time() + seconds
        while time.time() < end:
            readable, _, _ = select.select([self.request], [], [], 0.5)
            if readable:
                try:
                    if not self.request.recv(4096):
                        return
                except OSError:
                    return

    def reset(self):
        try:
            self.request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                    struct.pack("ii", 1, 0))
            self.request.close()
        except OSError:
            pass

    # ---- the proxy's tunnel
    def tunnel(self, target, early):
        """Answers a CONNECT to target (host:port) and relays bytes both
        ways to one of our own TLS listeners until either side closes."""
        _, _, port_text = target.rpartition(":")
        port = int(port_text) if port_text.isdigit() else 0
        if not Handler.tls_ports:
            self.answer(502, b"no TLS here\n")
            return
        if port not in Handler.tls_ports.values():
            port = Handler.tls_ports["good"]
        try:
            upstream = socket.create_connection(("127.0.0.1", port), timeout=5)
        except OSError:
            self.answer(502, b"tunnel failed\n")
            return
        if not self.send_all(b"HTTP/1.1 200 Connection established\r\n\r\n"):
            upstream.close()
            return
        self.request.settimeout(None)
        upstream.settimeout(None)
        try:
            if early:
                upstream.sendall(early)
            ends = [self.request, upstream]
            while True:
                readable, _, _ = select.select(ends, [], [], 60)
                if not readable:
                    break
                for side in readable:
                    data = side.recv(65536)
                    if not data:
                        return
                    (upstream if side is self.request else self.request).sendall(data)
        except OSError:
            pass
        finally:
            upstream.close()

    # ---- routes
    def route(self):
        path, host, query = self.path, self.host, self.query
        if path == "/echo":
            self.answer(200, self.raw, content_type="text/plain")
            return
        if path.startswith("/stream/"):
            self.stream(path[len("/stream/"):])
            return
        if path.startswith("/get/"):
            m = re.match(r"^/get/(?:(\d+)/)?(?:key=)?(.*)$", path)
            name = m.group(2) or "video"
            size = m.group(1) or query.get("size")
            site = site_of(host) or host
            target = "http://cdn.%s/stream/%s" % (site, name)
            if size:
                target += "?size=%s" % size
            self.redirect(target)
            return
        if path.startswith("/loop/"):
            n = int_arg({"n": path[len("/loop/"):]}, "n", 0) + 1
            if query.get("rel"):
                self.redirect("/loop/%d?rel=1" % n)
            else:
                self.redirect("http://%s/loop/%d" % (self.host_line, n))
            return
        if path in ("/redirect", "/redirect.mp4"):
            self.redirect(query.get("to", "/"))
            return
        if path.startswith("/status/"):
            code = int_arg({"c": path[len("/status/"):]}, "c", 500)
            self.answer(code, b"<html><body>status</body></html>\n")
            return
        if path.startswith("/page/"):
            self.web_page(path[len("/page/"):], query)
            return
        if host in PROBE_HOSTS:
            self.answer(200, b"<html><head><title>reachable</title></head>"
                             b"<body>ok</body></html>\n")
            return
        site = site_of(host)
        if site is None:
            self.answer(404, b"<html><body>no such site</body></html>\n")
            return
        vid = [p for p in path.split("/") if p]
        vid = re.sub(r"[^A-Za-z0-9_-]", "", vid[-1]) if vid else "video"
        vid = vid or "video"
        size = int_arg(query, "size", DEFAULT_PAGE_STREAM_SIZE)
        if path.startswith("/config/") or path.startswith("/feed/") or \
                path.startswith("/playlist/"):
            kind = path.split("/")[1]
            self.answer(200, second_page(site, kind, vid, size).encode("latin-1"),
                        content_type="text/xml")
            return
        if path.startswith("/moved/"):
            total = int_arg(query, "total", 0) or None
            if query.get("rel"):
                self.redirect("/watch/%s" % vid, 301, total)
            else:
                self.redirect("http://www.%s/watch/%s" % (site, vid), 301, total)
            return
        body = video_page(site, SITES[site], vid, query)
        if query.get("stall"):
            head = ("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                    "Content-Length: %d\r\n\r\n" % (len(body) + 100000))
            if self.send_all(head.encode("latin-1") + body):
                self.hold_open()
            return
        self.answer(200, body)

    def web_page(self, form, query):
        stream = "/stream/%sclip.mp4?size=%d" % (form, int_arg(query, "size", DEFAULT_STREAM_SIZE))
        head = "<!DOCTYPE html><html><head><title>%s page</title>" % form.capitalize()
        if form == "tag":
            body = head + ('</head><body><video controls width="640">'
                           '<source src="%s" type="video/mp4"></video></body></html>' % stream)
            self.answer(200, body.encode("latin-1"))
        elif form == "jsonld":
            body = head + ('<script type="application/ld+json">{"@type": "VideoObject", '
                           '"name": "clip", "contentUrl": "%s"}</script></head>'
                           '<body><p>%s</p></body></html>' % (stream.replace("/", "\\/"), "x" * 3000))
            data = body.encode("latin-1")
            chunks = b"".join(b"%x\r\n%s\r\n" % (len(data[k:k + 1000]), data[k:k + 1000])
                              for k in range(0, len(data), 1000))
            self.send_all(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                          b"Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n" + chunks + b"0\r\n\r\n")
        elif form == "sources":
            # Several sources under <base href>: the 720p mp4 is the one to
            # take, its address relative to the base and written with &amp;
            # (size= comes after it, so an undecoded &amp; asks for the
            # wrong length).
            q = stream.split("?", 1)[1]
            body = head + ('<base href="/stream/x/"></head><body><video>'
                           '<source src="../sourceslow.webm?%s" type="video/webm" res="360">'
                           '<source src="../sourcesclip.mp4?k=1&amp;%s" type="video/mp4" res="720">'
                           '<source src="../sourcesmid.mp4?%s" type="video/mp4" res="480">'
                           '<source src="blob:https://x/1" type="video/mp4" res="1080">'
                           '</video></body></html>' % (q, q, q))
            self.answer(200, body.encode("latin-1"))
        elif form == "nested":
            body = head + ('<script type="application/ld+json">{"@context": "https://schema.org", '
                           '"@graph": [{"@type": "WebPage", "mainEntity": {"@type": ["VideoObject"], '
                           '"name": "clip", "contentUrl": "%s"}}]}</script></head>'
                           '<body></body></html>' % stream.replace("/", "\\/"))
            self.answer(200, body.encode("latin-1"))
        elif form == "og":
            # og:video without a type is no media; the secure address with
            # its type is.  The file takes og:title.
            body = ('<!DOCTYPE html><html><head><title>Not this</title>'
                    '<meta property="og:title" content="Og &amp; title">'
                    '<meta property="og:video" content="/player.swf">'
                    '<meta property="og:video:secure_url" content="%s">'
                    '<meta property="og:video:type" content="video/mp4"></head><body></body></html>' % stream)
            self.answer(200, body.encode("latin-1"))
        elif form == "hls":
            self.answer(200, b"#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXTINF:4,\nseg0.ts\n",
                        content_type="application/vnd.apple.mpegurl")
        elif form == "dash":
            self.answer(200, b'<?xml version="1.0"?>\n<MPD xmlns="urn:mpeg:dash:schema:mpd:2011">'
                             b'<Period/></MPD>\n', content_type="application/dash+xml")
        elif form == "drm":
            self.answer(200, b'<?xml version="1.0"?>\n<MPD><Period><AdaptationSet><ContentProtection '
                             b'schemeIdUri="urn:mpeg:dash:mp4protection:2011" value="cenc"/>'
                             b'</AdaptationSet></Period></MPD>\n', content_type="application/octet-stream")
        else:
            self.answer(200, (head + "</head><body><p>no video</p></body></html>").encode("latin-1"))

    def stream(self, name):
        query = self.query
        size = int_arg(query, "size", DEFAULT_STREAM_SIZE)
        if "status" in query:
            self.answer(int_arg(query, "status", 500),
                        b"<html><body>no stream here</body></html>\n")
            return
        start = 0
        status = 200
        rng = re.match(r"bytes=(\d+)-", self.headers.get("range", ""))
        if rng and not query.get("norange"):
            start = int(rng.group(1))
            if start >= size:
                self.answer(416, b"", ["Content-Range: bytes */%d" % size])
                return
            status = 206
            if "badrange" in query:
                start = min(start + int_arg(query, "badrange", 0), size - 1)
        length = size - start
        announced = query.get("announce", str(length))
        head = ["HTTP/1.1 %d %s" % (status, "OK" if status == 200 else "Partial Content"),
                "Server: testweb", "Content-Type: video/x-flv",
                "Content-Length: " + announced, "Accept-Ranges: bytes",
                "Connection: close"]
        if status == 206:
            head.append("Content-Range: bytes %d-%d/%d" % (start, size - 1, size))
        if "disposition" in query:
            # A plain name and an RFC 5987 one: the latter is the name.
            head.append("Content-Disposition: attachment; filename=\"plain.mp4\"; "
                        "filename*=UTF-8''%s" % urllib.parse.quote(query["disposition"], safe=""))
        head.extend(self.tls_lines())
        head_bytes = ("\r\n".join(head) + "\r\n\r\n").encode("latin-1")

        limit = length
        reset_after = int_arg(query, "reset", -1)
        stall_after = int_arg(query, "stall", -1)
        if reset_after >= 0:
            limit = min(limit, reset_after)
        if stall_after >= 0:
            limit = min(limit, stall_after)
        rate = int_arg(query, "rate", Handler.default_rate)
        split = int_arg(query, "split", -1)
        pause = int_arg(query, "pause", 300) / 1000.0
        records = int_arg(query, "records", 0)
        if records > 0:
            if not self.send_all(head_bytes):
                return
            record = max(1, int_arg(query, "record", 16384))
            offset = start
            while offset < start + limit:
                for _ in range(records):
                    n = min(record, start + limit - offset)
                    if n <= 0 or not self.send_all(stream_bytes(name, offset, n)):
                        break
                    offset += n
                time.sleep(pause)
            return

        pending = head_bytes
        sent_total = 0           # answer bytes sent, headers included
        offset = start
        end = start + limit
        t0 = time.time()
        while True:
            if not pending:
                if offset >= end:
                    break
                n = min(65536, end - offset)
                if rate > 0:
                    n = min(n, max(1, rate // 10))
                pending = stream_bytes(name, offset, n)
                offset += n
            piece = pending
            if split >= 0 and sent_total < split:
                piece = pending[:split - sent_total]
            if not self.send_all(piece):
                return
            sent_total += len(piece)
            pending = pending[len(piece):]
            if split >= 0 and sent_total == split:
                time.sleep(pause)
            if rate > 0:
                ahead = (offset - start) / rate - (time.time() - t0)
                if ahead > 0:
                    time.sleep(ahead)
        if reset_after >= 0 and reset_after < length:
            self.reset()
            return
        if stall_after >= 0 and stall_after < length:
            self.hold_open()


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True
    request_queue_size = 64


class TlsServer(Server):
    """The same web over TLS.  The handshake runs in the request's thread
    (Handler.handle), so a client that stalls in it holds up no other."""
    context = None

    def get_request(self):
        sock, address = super().get_request()
        return (self.context.wrap_socket(sock, server_side=True,
                                         do_handshake_on_connect=False), address)


def remember_server_name(connection, name, context):
    connection.server_name_seen = name


def limit_to_tls11(context):
    """Sets context to speak TLS 1.0 and 1.1 only; the reason when this
    Python's OpenSSL cannot, else None.  OpenSSL 3 refuses both versions
    below security level 0 (their handshake signs with SHA-1), hence the
    cipher string."""
    if not getattr(ssl, "HAS_TLSv1_1", False):
        return "this OpenSSL was built without TLS 1.1"
    try:
        with warnings.catch_warnings():   # the old versions are deprecated
            warnings.simplefilter("ignore", DeprecationWarning)
            context.minimum_version = ssl.TLSVersion.TLSv1
            context.maximum_version = ssl.TLSVersion.TLSv1_1
        context.set_ciphers("DEFAULT:@SECLEVEL=0")
    except (ValueError, ssl.SSLError) as error:
        return str(error)
    return None


def start_tls_listeners(folder):
    """One TLS listener per certificate kind, each on a thread of its own;
    fills Handler.tls_ports."""
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import testcerts
    folder = testcerts.make_certs(folder)
    for kind in testcerts.KINDS + ("tls12", "tls11"):
        cert = "good" if kind in ("tls12", "tls11") else kind
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(os.path.join(folder, cert + ".pem"),
                                os.path.join(folder, cert + ".key"))
        if kind == "tls12":
            context.maximum_version = ssl.TLSVersion.TLSv1_2
        if kind == "tls11":
            problem = limit_to_tls11(context)
            if problem:
                print("testweb: no tls11 listener: %s" % problem, file=sys.stderr,
                      flush=True)
                continue
        context.sni_callback = remember_server_name
        server = TlsServer(("127.0.0.1", 0), Handler)
        server.context = context
        Handler.tls_ports[kind] = server.server_address[1]
        threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2},
                         daemon=True).start()
        print("TLS %s %d" % (kind, server.server_address[1]), flush=True)


def main():
    parser = argparse.ArgumentParser(description="Quorvax demo web")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--log", default=None,
                        help="append every raw request (4-byte length, bytes)")
    parser.add_argument("--exit-on-stdin-eof", action="store_true")
    parser.add_argument("--rate", type=int, default=0,
                        help="bytes per second for streams that name no rate "
                             "(0 = as fast as possible); lets a demo show "
                             "downloads in progress")
    parser.add_argument("--tls-dir", default=None,
                        help="serve over TLS too, with certificates made in "
                             "this folder (see testcerts.py)")
    args = parser.parse_args()
    Handler.log_file = args.log
    Handler.default_rate = args.rate
    if args.tls_dir:
        start_tls_listeners(args.tls_dir)
    server = Server(("127.0.0.1", args.port), Handler)
    print("PORT %d" % server.server_address[1], flush=True)
    if args.exit_on_stdin_eof:
        def watch():
            try:
                while sys.stdin.buffer.read(1):
                    pass
            finally:
                os._exit(0)
        threading.Thread(target=watch, daemon=True).start()
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
