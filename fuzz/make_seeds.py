#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/ (run from anywhere).

The seeds are small, valid or nearly valid inputs that lead each target into the code it
is meant to reach; libFuzzer mutates from there. The files are committed; rerun this only
to change them.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def packet(count, ptype, body, version=3, padding=False, words=None):
    body = bytes(body)
    body += b"\0" * (-len(body) % 4)
    n = len(body) // 4 if words is None else words
    first = (version << 6) | (0x20 if padding else 0) | (count & 0x1F)
    return bytes([first, ptype]) + struct.pack(">H", n) + body


def rr(ssrc=0x01020304):
    return packet(0, 201, struct.pack(">I", ssrc))


def sr():
    return packet(0, 200, struct.pack(">I", 7) + bytes(20))


def item(itype, text):
    text = text.encode() if isinstance(text, str) else text
    return bytes([itype, len(text)]) + text


def chunk(ssrc, *items):
    out = struct.pack(">I", ssrc) + b"".join(items) + b"\0"
    return out + b"\0" * (-len(out) % 4)


def sdes(*chunks):
    return packet(len(chunks), 202, b"".join(chunks))


def bye(reason=b""):
    body = struct.pack(">I", 0x01020304)
    if reason:
        body += bytes([len(reason)]) + reason
    return packet(1, 203, body)


def app(name):
    return packet(1, 204, struct.pack(">I", 0x01020304) + name + b"data")


def write(target, seeds):
    directory = os.path.join(HERE, "corpus", target)
    os.makedirs(directory, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(directory, name), "wb") as f:
            f.write(data)


control = {
    "empty_rr": rr(),
    "sr": sr(),
    "rr_sdes_name": rr() + sdes(chunk(5, item(2, "G4ABC"))),
    "rr_sdes_all": rr() + sdes(chunk(5, item(1, "cname"), item(2, "name"), item(3, "email"),
                                        item(6, "tool"))),
    "rr_sdes_tool": rr() + sdes(chunk(5, item(6, "tool only"))),
    "rr_sdes_two_chunks": rr() + sdes(chunk(5, item(4, "phone")), chunk(6, item(2, "second"))),
    "rr_sdes_empty_then_name": rr() + packet(0, 202, b"") + sdes(chunk(5, item(2, "N"))),
    "rr_sdes_255": rr() + sdes(chunk(5, item(2, b"X" * 255))),
    "rr_sdes_overrun": rr() + packet(1, 202, struct.pack(">I", 5) + bytes([2, 200]) + b"ab"),
    "rr_bye": rr() + bye(),
    "rr_bye_reason": rr() + bye(b"Term"),
    "rr_sdes_app": rr() + sdes(chunk(5, item(2, "N"))) + app(b"SFtc"),
    "rr_app_other": rr() + app(b"ABCD"),
    "keepalive": bytes.fromhex("c0c9000100000000c1ca000a00000000") + item(1, "CALLSIGN") +
                 item(2, "NA") + item(3, "CALLSIGN") + item(4, "08:30") + bytes(5),
    "bye_term": bytes.fromhex("c0c9000100000000e1cb0004000000000454") + b"erm" +
                bytes.fromhex("000000000000" "04")[0:7],
    "length_overshoot": rr()[:2] + b"\x00\x09" + rr()[4:],
    "version2": packet(0, 201, struct.pack(">I", 1), version=2),
    "vat_style": bytes([0x01, 0x02, 0x03, 0x04, 0x05, 0x06]),
    "five_bytes": b"\x01\x02\x03\x04\x05",
    "four_bytes": b"\x01\x02\x03\x04",
}
write("control_datagram", control)

write("audio_datagram", {
    "audio_160": bytes((i * 7) & 0xFF for i in range(160)),
    "short_102": bytes(range(102)),
    "long_103": bytes(range(103)),
    "one_byte": b"\x00",
    "text": b"oNDATA\rhello\0",
    "text_prefix_six": b"oNDATAx" + bytes(100),
    "max_3624": bytes([0x55]) * 3624,
    "over_3625": bytes([0x66]) * 3625,
})

with open(os.path.join(HERE, "..", "examples", "omvarc.ini"), "rb") as f:
    example = f.read()
write("profile", {
    "example": example,
    "crlf": example.replace(b"\n", b"\r\n"),
    "no_final_newline": b"[callsign]\nuser=*KENT*\n[server]\nmaxusers=12",
    "duplicates": b"[Server]\nMaxUsers=3\nmaxusers=9\n[server]\nmaxusers=20\n",
    "quoted": b"[callsign]\n  user  =  \"*Q*\"  \n; comment\n\n[help]\nc=1\n",
    "junk": b"junk line\n=novalue\n[unclosed\n[window]\nx1=-40\ny1=+7x\n",
    "empty": b"",
    "byte_order_mark": b"\xef\xbb\xbf[callsign]\r\nuser=*BOM*\r\n",
    "byte_order_mark_only": b"\xef\xbb\xbf",
})

write("command_line", {
    "m": b"-m",
    "x_m": b"x -m",
    "tab_M": b"\t-M",
    "m_q": b"-m -q",
    "mx": b"-mx",
    "a_m_M": b"a-m -M",
    "options": b"--config /tmp/omvarc.ini --bind 127.70.0.1 --time-scale 20 -m",
    "time_scale_bad": b"--time-scale 0",
    "time_scale_eq": b"--time-scale=1000 -M",
    "bind_bad": b"--bind 300.1.1.1",
    "unknown": b"--frobnicate -m",
    "help": b"--help",
    "version": b"--version",
})
