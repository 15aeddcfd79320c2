#!/usr/bin/python3
"""The real tellumo, under Xvfb with openbox, its COM2 connected through
"Conectar" to a loopback peer that misbehaves in one way per row. While the
peer goes on for 30 s, the event loop's longest gap is measured from outside
(the window manager's _NET_WM_PING, every 20 ms, timed to its answer) and so
is the growth of tellumo's memory (VmRSS); the lost-line and other boxes are
counted by their windows. Rows run one at a time, each on its own display;
the rows that need a network namespace of their own run only as root.

Usage: misbehaving_peers.py TELLUMO [ROW...]   (exit 77: nothing could run)
"""
import os
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor

MEASURE_S = 30
MAX_GAP_MS = 100
MAX_GROWTH_MB = 20
SKIP = 77
FAULT = 1  # a row's expectation missed; anything else non-zero is an error
HERE = os.path.abspath(__file__)
SAMPLE = os.path.join(os.path.dirname(HERE), "..", "..", "docs", "samples",
                      "fita-20000-bytes.txt")

IAC, SB, SE, WILL, DO = 255, 250, 240, 251, 253
COM_PORT = 44
# The model probe Tellumo sends once connected, and a printer's answer: the
# probe waits for it on the window's thread, so a peer that never answers
# would hold the window for the probe's own time-outs, not the line's.
PROBE = b"\x1bI1"
MODEL = b"Korvexa Dual".ljust(17, b"\0")
# ser2net's words when its serial device cannot be opened, after its offers.
SER2NET_REFUSAL = (bytes.fromhex("fffb03fffd03fffb01fffe01fffd00fffb00fffd2c") +
                   b"Device open failure: Value or file not found\r\n")

# name: (scheme, peer mode, boxes at most, what else must hold, root only)
ROWS = {
    "flood": ("tcp", "flood", 0, "", False),
    "negotiation storm": ("rfc2217", "storm", 0, "", False),
    "zero window": ("tcp", "zero", 0, "lamp off", False),
    "a byte a second": ("tcp", "trickle", 0, "", False),
    "accept and close": ("tcp", "flap", 2, "", False),
    "a text line, then close": ("rfc2217", "refusal", 1, "", False),
    "first address silent": ("tcp", "sink", 0, "", True),
    "stops acknowledging": ("tcp", "sink", 1, "lost in 20 s", True),
}


# --- the peer, run as a process of its own on the listening socket it is given

def rfc2217_agree(conn, seconds):
    """Answers every COM-PORT request as a device server would, for a while,
    and says CTS and DSR are on."""
    conn.sendall(bytes([IAC, DO, COM_PORT, IAC, WILL, 0, IAC, WILL, 3]))
    conn.sendall(bytes([IAC, SB, COM_PORT, 107, 0x30, IAC, SE]))
    end = time.monotonic() + seconds
    pending = b""
    while time.monotonic() < end:
        if not select.select([conn], [], [], 0.1)[0]:
            continue
        got = conn.recv(4096)
        if not got:
            return
        pending += got
        if PROBE in got:
            conn.sendall(MODEL)
        while (start := pending.find(bytes([IAC, SB, COM_PORT]))) >= 0:
            stop = pending.find(bytes([IAC, SE]), start)
            if stop < 0:
                break
            body = bytearray(pending[start + 3:stop])
            body[0] += 100
            conn.sendall(bytes([IAC, SB, COM_PORT]) + bytes(body) + bytes([IAC, SE]))
            pending = pending[stop + 2:]


def serve(conn, mode):
    if mode == "flood":
        chunk = b"\x1b" * (1 << 20)
        while True:
            conn.sendall(chunk)
    elif mode == "storm":
        rfc2217_agree(conn, 3)
        storm = bytes([IAC, DO, 99]) * 20000
        while True:
            conn.sendall(storm)
    elif mode == "zero":
        taken = b""
        while len(taken) < 4096:
            got = conn.recv(4096 - len(taken))
            if not got:
                return
            if PROBE in got:
                conn.sendall(MODEL)
            taken += got
        report("read", len(taken))
        time.sleep(3600)
    elif mode == "trickle":
        conn.settimeout(10)
        if PROBE in conn.recv(64):
            conn.sendall(MODEL)
        while True:
            conn.sendall(b"a")
            time.sleep(1)
    elif mode == "refusal":
        conn.sendall(SER2NET_REFUSAL)
    elif mode == "sink":
        while got := conn.recv(65536):
            if PROBE in got:
                conn.sendall(MODEL)


def report(*words):
    print(*words, flush=True)


def peer(fd, mode):
    # A real peer has a machine of its own: this one yields to tellumo.
    os.nice(10)
    listener = socket.socket(fileno=fd)
    while True:
        conn, _ = listener.accept()
        report("accepted")
        if mode == "flap":
            conn.close()
            continue
        threading.Thread(target=lambda c=conn: guarded(serve, c, mode), daemon=True).start()


def guarded(work, conn, mode):
    try:
        work(conn, mode)
    except OSError:
        pass
    finally:
        if mode != "zero":
            conn.close()


# --- the display, the window manager and the program

class Desktop:
    """Xvfb on a free display, with openbox."""

    def __init__(self, work):
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24",
             "-nolisten", "tcp"], pass_fds=[write], stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as answer:
            self.display = ":" + answer.readline().strip()
        self.env = dict(os.environ, DISPLAY=self.display, HOME=work,
                        XDG_CONFIG_HOME=os.path.join(work, "config"),
                        XDG_RUNTIME_DIR=work, QT_QPA_PLATFORM="xcb")
        self.env.pop("WAYLAND_DISPLAY", None)
        self.wm = subprocess.Popen(["openbox"], env=self.env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        from Xlib import display
        self.x = display.Display(self.display)
        self.root = self.x.screen().root
        check = self.x.intern_atom("_NET_SUPPORTING_WM_CHECK")
        until(lambda: self.root.get_full_property(check, 0), 10, "openbox started")

    def windows(self, title):
        found = []
        for w in self.root.query_tree().children:
            try:
                name = w.get_wm_name()
                mapped = w.get_attributes().map_state
            except Exception:  # gone meanwhile
                continue
            if name == title and mapped:
                found.append(w)
            # openbox frames the program's windows
            for child in ([] if name else w.query_tree().children):
                try:
                    if child.get_wm_name() == title and child.get_attributes().map_state:
                        found.append(child)
                except Exception:
                    pass
        return found

    def xdotool(self, *args):
        subprocess.run(["xdotool", *args], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, timeout=20)

    def close(self):
        for p in (self.wm, self.xvfb):
            p.terminate()
            p.wait()


def until(condition, seconds, what):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("not within %g s: %s" % (seconds, what))


class Pinger(threading.Thread):
    """_NET_WM_PING to the window every 20 ms, on a connection of its own,
    as a window manager asks whether a program still answers; the answers
    come back to the root window. gap() is the longest time a
    ping waited for its answer, counting one still unanswered."""

    def __init__(self, display_name, window_id):
        super().__init__(daemon=True)
        from Xlib import X, display
        from Xlib.protocol import event
        self.X, self.event = X, event
        self.x = display.Display(display_name)
        self.root = self.x.screen().root
        # Qt sends its answer to the root window with a mask of its own
        # choosing: these three between them see it.
        self.root.change_attributes(event_mask=X.SubstructureNotifyMask | X.StructureNotifyMask |
                                    X.PropertyChangeMask)
        self.window = self.x.create_resource_object("window", window_id)
        self.protocols = self.x.intern_atom("WM_PROTOCOLS")
        self.ping = self.x.intern_atom("_NET_WM_PING")
        self.sent = {}
        self.longest = 0.0
        self.longest_at = 0.0
        self.running = True

    def run(self):
        stamp = 1
        next_ping = time.monotonic()
        while self.running:
            now = time.monotonic()
            if now >= next_ping:
                self.sent[stamp] = now
                self.window.send_event(self.event.ClientMessage(
                    window=self.window, client_type=self.protocols,
                    data=(32, [self.ping, stamp, self.window.id, 0, 0])))
                self.x.flush()
                stamp += 1
                next_ping += 0.02
            select.select([self.x.fileno()], [], [], max(0.0, next_ping - time.monotonic()))
            while self.x.pending_events():
                e = self.x.next_event()
                if e.type == self.X.ClientMessage and e.client_type == self.protocols:
                    sent = self.sent.pop(e.data[1][1], None)
                    if sent is not None and time.monotonic() - sent > self.longest:
                        self.longest = time.monotonic() - sent
                        self.longest_at = sent

    def gap_ms(self):
        now = time.monotonic()
        for sent in self.sent.values():
            if now - sent > self.longest:
                self.longest, self.longest_at = now - sent, sent
        return 1000 * self.longest


def rss_mb(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


# --- one row

def isolate(row, work):
    """In this row's own network and mount namespaces: loopback up, and
    127.0.0.2 silent (nftables drops what goes there)."""
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    subprocess.run(["nft", "add table inet peers; add chain inet peers out "
                    "{ type filter hook output priority 0; }; "
                    "add rule inet peers out ip daddr 127.0.0.2 drop"], check=True)
    if row == "first address silent":
        hosts = os.path.join(work, "hosts")
        with open(hosts, "w") as f:
            f.write("127.0.0.1 localhost\n127.0.0.2 peers.test\n127.0.0.3 peers.test\n")
        subprocess.run(["mount", "--bind", hosts, "/etc/hosts"], check=True)
        return "127.0.0.3", "peers.test"
    return "127.0.0.1", "127.0.0.1"


def lamp(desk, window):
    """The CTS lamp's pixels, inside its 25 x 25 square."""
    g = window.get_geometry()
    x, y = g.width - 726 + 392 + 6, g.height - 469 + 328 + 6
    from Xlib import X
    return window.get_image(x, y, 13, 13, X.ZPixmap, 0xFFFFFFFF).data


def settled_lamp(desk, window):
    """The lamp's look once the window has been drawn: a window just mapped
    may not have painted it yet, and that look is not the lamp's off."""
    time.sleep(1)

    def steady():
        first = lamp(desk, window)
        time.sleep(0.3)
        return first if lamp(desk, window) == first else None
    return until(steady, 10, "the lamp drawn")


def connect(desk):
    """Programar > Serial, then "Conectar"; COM2 is the dialog's own choice."""
    main = until(lambda: desk.windows("Tellumo"), 30, "the main window")[0]
    desk.xdotool("windowactivate", "--sync", str(main.id))
    desk.xdotool("key", "alt+p", "s")
    form3 = until(lambda: desk.windows("Configuração da Serial"), 10, "the serial dialog")[0]
    desk.xdotool("windowactivate", "--sync", str(form3.id))
    desk.xdotool("key", "alt+c")
    return main, form3


def send_sample(desk, main, form3, heard):
    """"Fechar" on the serial dialog, then Arquivo > Abrir with the sample's
    path typed in, and "Enviar", until the peer has taken its 4 KB: a key
    the window manager gave the window before it had the focus is pressed
    again (before the send starts, so it cannot be "Cancelar"). Gives the
    CTS lamp's look before the send."""
    desk.xdotool("windowactivate", "--sync", str(form3.id))
    desk.xdotool("key", "alt+f")
    desk.xdotool("windowactivate", "--sync", str(main.id))
    time.sleep(0.5)
    on_look = lamp(desk, main)
    desk.xdotool("key", "alt+a", "a")
    form4 = until(lambda: desk.windows("Abrir Arquivo"), 10, "the file dialog")[0]
    desk.xdotool("windowactivate", "--sync", str(form4.id))
    desk.xdotool("mousemove", "--window", str(form4.id), "100", "278", "click", "1")
    desk.xdotool("key", "ctrl+a")
    desk.xdotool("type", "--delay", "5", os.path.abspath(SAMPLE))
    desk.xdotool("key", "Return")
    until(lambda: not desk.windows("Abrir Arquivo"), 10, "the file dialog closed")
    for _ in range(3):
        desk.xdotool("windowactivate", "--sync", str(main.id))
        desk.xdotool("key", "alt+e")
        try:
            until(lambda: any(w.startswith("read") for w in heard), 15, "the send")
            break
        except AssertionError:
            print("the send had not started: Enviar pressed again", flush=True)
    return on_look


def run_row(row, tellumo):
    scheme, mode, boxes_max, also, root_only = ROWS[row]
    work = tempfile.mkdtemp(prefix="tellumo-peers-")
    desk = app = peer_proc = None
    try:
        bind, host = isolate(row, work) if root_only else ("127.0.0.1", "127.0.0.1")
        listener = socket.socket()
        if mode == "zero":
            listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 2048)
        listener.bind((bind, 0))
        listener.listen(8)
        port = listener.getsockname()[1]
        peer_proc = subprocess.Popen([sys.executable, HERE, "--peer", mode, str(listener.fileno())],
                                     pass_fds=[listener.fileno()], stdout=subprocess.PIPE, text=True)
        listener.close()
        heard = []
        threading.Thread(target=lambda: heard.extend(iter(peer_proc.stdout.readline, "")),
                         daemon=True).start()
        desk = Desktop(work)
        env = dict(desk.env, ASAN_OPTIONS="detect_leaks=0:quarantine_size_mb=1")
        with open(os.path.join(work, "tellumo.log"), "w") as log:
            app = subprocess.Popen([tellumo, "--com2", "%s://%s:%d" % (scheme, host, port)],
                                   env=env, stdout=log, stderr=log)
        main = until(lambda: desk.windows("Tellumo"), 30, "the main window")[0]
        off_look = settled_lamp(desk, main)
        main, form3 = connect(desk)
        try:
            until(lambda: any(w.startswith("accepted") for w in heard), 10, "a connection")
        except AssertionError:
            print("%s: no connection reached the peer" % row, flush=True)
            return FAULT
        time.sleep(4)  # the connect, the model probe, the RFC 2217 agreement
        if mode == "zero":
            on_look = send_sample(desk, main, form3, heard)
        return measure(row, desk, app, main, port, boxes_max, also,
                       off_look if mode == "zero" else None,
                       on_look if mode == "zero" else None)
    finally:
        for p in (app, peer_proc):
            if p:
                p.kill()
                p.wait()
        if desk:
            desk.close()
        shutil.rmtree(work, ignore_errors=True)


def measure(row, desk, app, main, port, boxes_max, also, off_look, on_look):
    pinger = Pinger(desk.display, main.id)
    start_rss = rss_mb(app.pid)
    peak_rss = start_rss
    boxes = set()
    lost_after = None
    lamp_seen_off = False
    start = time.monotonic()
    pinger.start()
    if "lost" in also:
        subprocess.run(["nft", "add rule inet peers out tcp dport %d drop; "
                        "add rule inet peers out tcp sport %d drop" % (port, port)], check=True)
    while time.monotonic() - start < MEASURE_S:
        time.sleep(0.5)
        peak_rss = max(peak_rss, rss_mb(app.pid))
        new = {w.id for w in desk.windows("ATENÇÃO")}
        if new - boxes and lost_after is None:
            lost_after = time.monotonic() - start
        boxes |= new
        if off_look is not None and time.monotonic() - start > 5:
            lamp_seen_off |= lamp(desk, main) == off_look
    pinger.running = False
    pinger.join()
    faults = []
    gap = pinger.gap_ms()
    growth = peak_rss - start_rss
    if gap > MAX_GAP_MS:
        faults.append("the event loop stood still for %.0f ms, %.1f s in" %
                      (gap, pinger.longest_at - start))
    if growth > MAX_GROWTH_MB:
        faults.append("memory grew by %.1f MB" % growth)
    if len(boxes) > boxes_max:
        faults.append("%d boxes" % len(boxes))
    if "lost" in also and (lost_after is None or lost_after > 20):
        faults.append("not a lost line within 20 s")
    if off_look is not None:
        if on_look == off_look:
            faults.append("the CTS lamp was not on before the send")
        elif not lamp_seen_off:
            faults.append("the CTS lamp stayed on")
    print("%s: gap %.0f ms, memory %+.1f MB, %d boxes%s" %
          (row, gap, growth, len(boxes), "".join("; " + f for f in faults)), flush=True)
    return FAULT if faults else 0


# --- all rows

def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--peer":
        peer(int(sys.argv[3]), sys.argv[2])
        return 0
    if len(sys.argv) > 1 and sys.argv[1] == "--row":
        return run_row(sys.argv[2], sys.argv[3])
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    tellumo = os.path.abspath(sys.argv[1])
    rows = sys.argv[2:] or list(ROWS)
    missing = [t for t in ("Xvfb", "openbox", "xdotool") if not shutil.which(t)]
    try:
        import Xlib  # noqa: F401
    except ImportError:
        missing.append("python3-xlib")
    if missing:
        print("not installed (scripts/test installs them): " + " ".join(missing))
        return SKIP
    root = os.geteuid() == 0 and shutil.which("nft") and shutil.which("unshare")

    def one(row):
        if ROWS[row][4] and not root:
            return row, None, "skipped: needs root, nftables and unshare\n"
        command = [sys.executable, HERE, "--row", row, tellumo]
        if ROWS[row][4]:
            command = ["unshare", "-n", "-m"] + command
        if os.geteuid() == 0:
            # The window, its display and the pinger ahead of whatever else
            # the machine runs (a build beside the suite): a gap must be the
            # program's own, not the scheduler's.
            command = ["nice", "-n", "-5"] + command
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True, timeout=MEASURE_S + 90)
        return row, done.returncode, done.stdout

    failed = ran = 0
    with ThreadPoolExecutor(max_workers=1) as pool:  # a row beside another measures their contention
        for row, code, output in pool.map(one, rows):
            sys.stdout.write(output)
            if code is None:
                continue
            ran += 1
            if code not in (0, FAULT):
                print("%s: could not run (status %d)" % (row, code))
            failed += code != 0
    return 1 if failed else (0 if ran else SKIP)


if __name__ == "__main__":
    sys.exit(main())
