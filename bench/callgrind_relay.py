#!/usr/bin/python3
"""Counts the user-space instructions the server spends per relayed datagram.

Runs the server under callgrind, collecting only inside the audio handler (the relay path
from receive to the last copy sent), plays 25 listeners and one talker on loopback
(127.111.70.1 for the server, 127.111.71.x for the stations), sends N datagrams of 144
bytes at 50 per second, stops the server and divides the instructions counted by N.

    bench/callgrind_relay.py SERVER_BINARY [N] [--http] [--limits]

--http also starts the HTTP view and holds 8 event-stream clients open while relaying.
--limits gives the server a [limits] section (talk=180, rate=1000, unnamed=10: every check
runs, none drops a datagram of the count).
--all counts the whole process instead (start-up included: compare two counts of N).
"""
import os, re, signal, socket, subprocess, sys, tempfile, time

binary = sys.argv[1]
count = int(sys.argv[2]) if len(sys.argv) > 2 and sys.argv[2].isdigit() else 300
http = "--http" in sys.argv
whole = "--all" in sys.argv
limits = "--limits" in sys.argv
server = "127.111.70.1"
work = tempfile.mkdtemp(prefix="cs-callgrind-")
config = os.path.join(work, "omvarc.ini")
with open(config, "w") as f:
    f.write("[callsign]\nuser=*BENCH*\ndesc=BENCH\nvalid=PW\n[server]\nver=618\nmaxusers=25\n"
            "1=127.0.0.1\n2=127.0.0.1\n3=127.0.0.1\n4=127.0.0.1\n")
    if limits:
        f.write("[limits]\ntalk=180\nrate=1000\nunnamed=10\n")
out = os.path.join(work, "callgrind.out")
args = ["valgrind", "--tool=callgrind"] + ([] if whole else ["--toggle-collect=onAudioSocket*"]) + [
        "--callgrind-out-file=" + out, binary, "-m", "--config", config, "--bind", server]
if http:
    args += ["--http", server + ":8270"]
proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
deadline = time.time() + 60
line = b""
while b"cVARDE" not in line and time.time() < deadline:
    line = proc.stdout.readline()


def name_packet(text):
    rr = bytes([0xC0, 0xC9, 0, 1, 1, 2, 3, 4])
    item = bytes([2, len(text)]) + text.encode()
    body = bytes([1, 2, 3, 4]) + item + b"\0"
    while len(body) % 4:
        body += b"\0"
    return rr + bytes([0xC1, 0xCA, 0, len(body) // 4]) + body


stations = []
for i in range(26):
    address = "127.111.71.%d" % (i + 1)
    audio = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    audio.bind((address, 5198))
    audio.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
    control = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    control.bind((address, 5199))
    control.sendto(name_packet("S%d" % i), (server, 5199))
    stations.append((audio, control))
    time.sleep(0.05)
streams = []
if http:
    for _ in range(8):
        s = socket.create_connection((server, 8270), timeout=10)
        s.sendall(b"GET /api/events HTTP/1.1\r\nHost: x\r\n\r\n")
        streams.append(s)
time.sleep(1)
talker = stations[0][0]
for n in range(count):
    talker.sendto(n.to_bytes(2, "big") + bytes(142), (server, 5198))
    time.sleep(0.02)
time.sleep(1)
got = 0
listener = stations[1][0]
listener.setblocking(False)
try:
    while True:
        got += 1 if len(listener.recv(4096)) == 144 else 0
except BlockingIOError:
    pass
proc.send_signal(signal.SIGTERM)
proc.wait(timeout=60)
total = 0
with open(out) as f:
    for text in f:
        m = re.match(r"(summary|totals): (\d+)", text)
        if m:
            total = int(m.group(2))
print("datagrams sent %d, received by one listener %d, instructions %s %d,"
      " per datagram %.0f" % (count, got, "in the process" if whole else "in the audio handler",
                              total, total / count))
