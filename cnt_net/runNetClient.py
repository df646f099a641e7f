#!/usr/bin/env python3
"""The station's network client.

Started by the station from its working directory. Connects to the service
link on the loopback address, beats, acknowledges every message once it is
kept in the outbox (./cnt_net/data/outbox.db), reads the shared-memory video,
and forwards the outbox in order to the plant's MQTT broker when one is
configured in ./cnt_net/client.conf. Without a broker it only keeps.

    runNetClient.py            run (what the station starts)
    runNetClient.py --show     what is kept and what is still to forward
"""
import ctypes
import hashlib
import json
import os
import re
import select
import signal
import socket
import sqlite3
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CONF = os.path.join(HERE, "client.conf")
DATA = os.path.join(HERE, "data")
OUTBOX = os.path.join(DATA, "outbox.db")

KINDS = {
    1: "record", 2: "param", 5: "alarm_pic", 6: "template_pic", 7: "statistics", 8: "roi_param",
    9: "memory_info", 10: "manual_stop", 11: "template_deleted", 12: "remind_add", 13: "remind_delete",
    14: "product_request", 15: "ng_video", 16: "telephone", 17: "remind_request", 18: "cycle_result",
    19: "run_state", 20: "alarm_released",
}
# Reports that say what the station is doing: the last one is the retained state.
STATE_KINDS = (7, 10, 19)

# "<id>:<bytes>:<seq>!": seq is the station's number of the message, the same
# when it sends it again after a lost acknowledgement; ".." for none.
PREFIX = re.compile(rb"(\d{1,2}):(\d{1,9}):(\.\.|\d{1,10})!")
MAX_BODY = 64 << 20

DEFAULTS = {
    "port": 8890,
    "heartbeat_seconds": 20,
    "acknowledge": True,
    "station": "",
    "products": [],
    "reminders": [],
    "video_snapshot_seconds": 0,
    "mqtt": {"host": "", "port": 1883, "username": "", "password": "", "topic_prefix": "station",
             "keepalive": 30},
}

stopping = threading.Event()


def log(*args):
    print(time.strftime("%Y-%m-%d %H:%M:%S"), *args, flush=True)


def load_config():
    conf = json.loads(json.dumps(DEFAULTS))
    try:
        with open(CONF, encoding="utf-8") as f:
            given = json.load(f)
        if not isinstance(given, dict):
            raise ValueError("not a JSON object")
        mqtt = given.pop("mqtt", {})
        conf.update(given)
        if isinstance(mqtt, dict):
            conf["mqtt"].update(mqtt)
    except FileNotFoundError:
        pass
    except (OSError, ValueError) as e:
        log("client.conf unusable, defaults apply:", e)
    port = os.environ.get("STATION_NET_PORT")
    if port and port.isdigit():
        conf["port"] = int(port)
    if not conf["station"]:
        conf["station"] = socket.gethostname()
    return conf


# --- outbox -------------------------------------------------------------------

def open_outbox():
    os.makedirs(DATA, exist_ok=True)
    db = sqlite3.connect(OUTBOX, timeout=30)
    db.execute("PRAGMA journal_mode=WAL")
    db.execute("PRAGMA synchronous=FULL")
    db.execute("""CREATE TABLE IF NOT EXISTS outbox(
        seq INTEGER PRIMARY KEY AUTOINCREMENT,
        received_utc INTEGER NOT NULL,
        kind INTEGER NOT NULL,
        body BLOB NOT NULL,
        digest TEXT NOT NULL,
        forwarded INTEGER NOT NULL DEFAULT 0)""")
    # Outboxes from before the station numbered its messages gain the column.
    if "link_seq" not in [r[1] for r in db.execute("PRAGMA table_info(outbox)")]:
        db.execute("ALTER TABLE outbox ADD COLUMN link_seq INTEGER")
    db.execute("CREATE INDEX IF NOT EXISTS pending ON outbox(forwarded, seq)")
    db.commit()
    return db


def keep(db, kind, body, link_seq=None):
    """Stores one message. Only a message sent again is kept once: the same
    station number and the same content as the message kept last (a resend
    follows its original directly, also across a restart of this client).
    Equal reports with their own numbers are each kept."""
    digest = hashlib.sha1(bytes([kind]) + body).hexdigest()
    if link_seq is not None:
        last = db.execute("SELECT link_seq, digest FROM outbox ORDER BY seq DESC LIMIT 1").fetchone()
        if last is not None and last[0] == link_seq and last[1] == digest:
            return False
    db.execute("INSERT INTO outbox(received_utc, kind, body, digest, link_seq) VALUES(?,?,?,?,?)",
               (int(time.time() * 1000), kind, body, digest, link_seq))
    db.commit()
    return True


# --- shared-memory video ------------------------------------------------------

class Video:
    """Reads the station's I420 pictures under its semaphores."""
    SHM_RDONLY = 0o10000
    SEM_UNDO = 0x1000

    class SemBuf(ctypes.Structure):
        _fields_ = [("sem_num", ctypes.c_ushort), ("sem_op", ctypes.c_short), ("sem_flg", ctypes.c_short)]

    class TimeSpec(ctypes.Structure):
        _fields_ = [("tv_sec", ctypes.c_long), ("tv_nsec", ctypes.c_long)]

    def __init__(self, snapshot_seconds):
        self.libc = ctypes.CDLL(None, use_errno=True)
        self.libc.shmat.restype = ctypes.c_void_p
        self.libc.shmat.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
        self.libc.shmdt.argtypes = [ctypes.c_void_p]
        self.blocks = {}
        self.frames = {}
        self.lock = threading.Lock()
        self.snapshot_seconds = snapshot_seconds
        self.thread = None

    def announce(self, body):
        try:
            info = json.loads(body.decode("utf-8"))["memoryinfo"]
        except (ValueError, KeyError, TypeError):
            log("memory info unreadable")
            return
        with self.lock:
            self.detach()
            for e in info:
                try:
                    shmid, semid, cam, size = int(e["shmid"]), int(e["semid"]), int(e["cameraid"]), int(e["size"])
                    w, h, fps = int(e["width"]), int(e["height"]), int(e.get("fps", 5) or 5)
                except (KeyError, TypeError, ValueError):
                    continue
                if shmid < 0 or semid < 0 or size <= 0:
                    continue
                addr = self.libc.shmat(shmid, None, self.SHM_RDONLY)
                if addr in (None, ctypes.c_void_p(-1).value):
                    log("camera", cam, "shared memory not attached, errno", ctypes.get_errno())
                    continue
                self.blocks[cam] = (addr, semid, size, w, h, fps)
        log("video: %d block(s)" % len(self.blocks))
        if self.thread is None:
            self.thread = threading.Thread(target=self.run, daemon=True)
            self.thread.start()

    def detach(self):
        for addr, *_ in self.blocks.values():
            self.libc.shmdt(ctypes.c_void_p(addr))
        self.blocks = {}

    def sem(self, semid, delta):
        op = self.SemBuf(0, delta, self.SEM_UNDO)
        t = self.TimeSpec(1, 0)
        return self.libc.semtimedop(semid, ctypes.byref(op), 1, ctypes.byref(t)) == 0

    def grab(self, cam):
        with self.lock:
            b = self.blocks.get(cam)
            if not b:
                return None
            addr, semid, size, *_ = b
            if not self.sem(semid, -1):
                return None
            try:
                data = ctypes.string_at(addr, size)
            finally:
                self.sem(semid, 1)
        return data

    def run(self):
        last_snapshot = 0.0
        while not stopping.is_set():
            with self.lock:
                cams = {c: b[5] for c, b in self.blocks.items()}
            for cam in cams:
                data = self.grab(cam)
                if data is not None:
                    self.frames[cam] = data
            if self.snapshot_seconds and time.time() - last_snapshot >= self.snapshot_seconds:
                last_snapshot = time.time()
                os.makedirs(os.path.join(DATA, "video"), exist_ok=True)
                for cam, data in list(self.frames.items()):
                    path = os.path.join(DATA, "video", "camera%d.i420" % cam)
                    with open(path + ".tmp", "wb") as f:
                        f.write(data)
                    os.replace(path + ".tmp", path)
            fps = max(cams.values()) if cams else 5
            stopping.wait(1.0 / max(1, fps))


# --- forwarding ---------------------------------------------------------------

def import_paho():
    try:
        import paho.mqtt.client as mqtt
    except ImportError:
        # Debian's python3-paho-mqtt, when another python3 comes first on the path.
        sys.path.append("/usr/lib/python3/dist-packages")
        try:
            import paho.mqtt.client as mqtt
        except ImportError:
            return None
    return mqtt


class Forwarder(threading.Thread):
    """Sends the outbox oldest first, each one acknowledged by the broker before the next."""

    def __init__(self, conf):
        super().__init__(daemon=True)
        self.conf = conf
        self.m = conf["mqtt"]
        self.base = "%s/%s" % (self.m["topic_prefix"].strip("/") or "station", conf["station"])
        self.wake = threading.Event()
        self.connected = threading.Event()

    def run(self):
        mqtt = import_paho()
        if mqtt is None:
            log("python3-paho-mqtt missing: the outbox is only kept")
            return
        db = open_outbox()
        client = mqtt.Client(client_id="station-" + self.conf["station"], clean_session=False)
        if self.m.get("username"):
            client.username_pw_set(self.m["username"], self.m.get("password") or None)
        client.will_set(self.base + "/state", json.dumps({"link": "offline"}), qos=1, retain=True)
        client.on_connect = self.on_connect
        client.on_disconnect = lambda c, u, rc: self.connected.clear()
        client.reconnect_delay_set(1, 10)
        client.connect_async(self.m["host"], int(self.m["port"]), int(self.m.get("keepalive", 30)))
        client.loop_start()
        while not stopping.is_set():
            if not self.connected.is_set():
                self.connected.wait(1)
                continue
            row = db.execute("SELECT seq, kind, body FROM outbox WHERE forwarded=0 ORDER BY seq LIMIT 1").fetchone()
            if row is None:
                self.wake.wait(1)
                self.wake.clear()
                continue
            seq, kind, body = row
            info = client.publish("%s/%s" % (self.base, KINDS.get(kind, "kind%d" % kind)), body, qos=1)
            info.wait_for_publish(timeout=5)
            if not info.is_published():
                continue
            if kind in STATE_KINDS:
                client.publish(self.base + "/state", self.state(kind, body), qos=1, retain=True)
            db.execute("UPDATE outbox SET forwarded=1 WHERE seq=?", (seq,))
            db.commit()
        client.publish(self.base + "/state", json.dumps({"link": "offline"}), qos=1, retain=True)
        client.loop_stop()

    def on_connect(self, client, userdata, flags, rc):
        if rc != 0:
            log("broker refused the connection:", rc)
            return
        log("broker connected")
        client.publish(self.base + "/state", json.dumps({"link": "online"}), qos=1, retain=True)
        self.connected.set()

    @staticmethod
    def state(kind, body):
        s = {"link": "online", "report": KINDS[kind]}
        try:
            j = json.loads(body.decode("utf-8"))
            s["state"] = j.get("state")
            s["utc"] = j.get("utc")
        except (ValueError, AttributeError):
            pass
        return json.dumps(s, ensure_ascii=False)


# --- the link -----------------------------------------------------------------

class Link:
    def __init__(self, conf, db, video, forwarder):
        self.conf, self.db, self.video, self.forwarder = conf, db, video, forwarder

    def reply(self, sock, session, result):
        text = "/reply/\r\nSessionId:%d\r\n\r\n" % session + json.dumps({"result": result}, ensure_ascii=False)
        sock.sendall(text.encode("utf-8"))
        # A control text right behind a reply would run into its body.
        time.sleep(0.2)

    def handle(self, sock, kind, body, link_seq=None):
        if keep(self.db, kind, body, link_seq) and self.forwarder:
            self.forwarder.wake.set()
        if self.conf["acknowledge"]:
            # Named, so that a late acknowledgement cannot pass for the next message's.
            sock.sendall(b"/back/\r\n\r\n" if link_seq is None else b"/back/\r\nSeq:%d\r\n\r\n" % link_seq)
        if kind == 9 and self.video:
            self.video.announce(body)
        elif kind == 14:
            self.reply(sock, 14, [{"product_name": n} for n in self.conf["products"]])
        elif kind == 17:
            self.reply(sock, 17, self.conf["reminders"])

    def serve(self, sock):
        buf = b""
        beat = float(self.conf["heartbeat_seconds"])
        next_beat = time.time()
        while not stopping.is_set():
            if beat > 0 and time.time() >= next_beat:
                # "Seq:": this client reads the station's numbered frames.
                sock.sendall(b"/heart/\r\nSeq: yes\r\n\r\n")
                next_beat = time.time() + beat
            r, _, _ = select.select([sock], [], [], 0.2)
            if not r:
                continue
            chunk = sock.recv(1 << 20)
            if not chunk:
                return
            buf += chunk
            while True:
                m = PREFIX.match(buf)
                if not m:
                    if len(buf) >= 32 or (buf and not buf[:1].isdigit()):
                        # Not where a message begins: on to the next one that could.
                        nxt = PREFIX.search(buf, 1)
                        log("skipped %d unreadable bytes" % (len(buf) if not nxt else nxt.start()))
                        buf = buf[nxt.start():] if nxt else b""
                        continue
                    break
                kind, size = int(m.group(1)), int(m.group(2))
                link_seq = None if m.group(3) == b".." else int(m.group(3))
                if size > MAX_BODY:
                    log("message of %d bytes refused" % size)
                    buf = buf[m.end():]
                    continue
                if len(buf) < m.end() + size:
                    break
                body = buf[m.end():m.end() + size]
                buf = buf[m.end() + size:]
                self.handle(sock, kind, body, link_seq)

    def run(self):
        while not stopping.is_set():
            try:
                with socket.create_connection(("127.0.0.1", int(self.conf["port"])), timeout=5) as sock:
                    sock.settimeout(None)
                    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                    log("connected to the station on port", self.conf["port"])
                    self.serve(sock)
                    log("station closed the link")
            except OSError as e:
                if not stopping.is_set():
                    log("link:", e)
            stopping.wait(1)


def show():
    if not os.path.exists(OUTBOX):
        print("outbox: empty (no %s)" % OUTBOX)
        return 0
    db = sqlite3.connect(OUTBOX, timeout=30)
    total, pending = db.execute("SELECT COUNT(*), IFNULL(SUM(forwarded=0),0) FROM outbox").fetchone()
    print("outbox: %d kept, %d forwarded, %d still to forward" % (total, total - pending, pending))
    for kind, n, p in db.execute("SELECT kind, COUNT(*), SUM(forwarded=0) FROM outbox GROUP BY kind ORDER BY kind"):
        print("  %-17s %6d kept %6d to forward" % (KINDS.get(kind, "kind%d" % kind), n, p))
    rows = db.execute("SELECT seq, received_utc, kind, substr(body,1,60) FROM outbox WHERE forwarded=0 "
                      "ORDER BY seq LIMIT 10").fetchall()
    if rows:
        print("next to forward:")
        for seq, utc, kind, body in rows:
            text = bytes(body).decode("utf-8", "replace").replace("\n", " ").replace("\t", "")
            print("  #%d %s %s %s" % (seq, time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(utc / 1000)),
                                      KINDS.get(kind, kind), text))
    return 0


def main(argv):
    if "--show" in argv:
        return show()
    conf = load_config()
    # Goes with the station that started it: a client left behind would take the link from the next one.
    try:
        ctypes.CDLL(None).prctl(1, signal.SIGTERM)   # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass
    for s in (signal.SIGTERM, signal.SIGINT):
        signal.signal(s, lambda *_: stopping.set())
    db = open_outbox()
    forwarder = None
    if conf["mqtt"].get("host"):
        forwarder = Forwarder(conf)
        forwarder.start()
    else:
        log("no broker configured: the outbox is only kept")
    video = Video(float(conf["video_snapshot_seconds"] or 0))
    Link(conf, db, video, forwarder).run()
    if forwarder:
        forwarder.join(timeout=5)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
