#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz harnesses (fuzz/corpus/<name>/).

Seeds are small, well-formed examples of each input, so that the fuzzer starts
from the shapes the library really sees. Run from the repository root.
"""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def crc16(data):
    crc = 0xFFFF
    for b in data:
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if (crc ^ b) & 1 else crc >> 1
            b >>= 1
    return int("{:016b}".format(crc)[::-1], 2)


def slip(data):
    return data.replace(b"\xdb", b"\xdb\xdd").replace(b"\xc0", b"\xdb\xdc")


def frame(seq, ack, reliable, channel, payload):
    n = len(payload)
    h = [(0x80 if reliable else 0) | 0x40 | (ack << 3) | seq, ((n & 0xF) << 4) | channel, n >> 4]
    h.append(~sum(h) & 0xFF)
    body = bytes(h) + payload
    return b"\xc0" + slip(body + struct.pack(">H", crc16(body))) + b"\xc0"


def message(msg_id, params=b"", cls=2):
    m = bytearray(struct.pack("<HBBH", 0, 0x55, cls, msg_id) + params)
    if len(m) % 2:
        m.append(0)
    struct.pack_into("<H", m, 0, len(m) // 2)
    return bytes(m)


LINK = [b"\xda\xdc\xed\xed", b"\xac\xaf\xef\xee", b"\xad\xef\xac\xed", b"\xde\xad\xd0\xd0"]
ADDR = bytes([0x11, 0x22, 0x33, 0x44, 0x55, 0x66])


def vcard_chunk(text):
    return message(529, struct.pack(">H", len(text)) + text)


def vcards():
    cards = [
        b"BEGIN:VCARD\r\nVERSION:2.1\r\nN:Doe;John;;;\r\nFN:John Doe\r\nTEL;CELL:+49 170-1234567\r\n"
        b"TEL;WORK:0301234\r\nEND:VCARD\r\n",
        b"BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E5=BC=A0;=E4=B8=89;;;\r\n"
        b"TEL;HOME:12345\r\nEND:VCARD\r\n",
        b"BEGIN:VCARD\r\nVERSION:3.0\r\nFN;ENCODING=QUOTED-PRINTABLE:=4A=6F=\r\n=68=6E\r\nTEL;TYPE=FAX:555\r\n"
        b"END:VCARD\r\n",
        b"BEGIN:VCARD\r\nVERSION:2.1\r\nN:Call;Missed\r\nTEL:0800\r\n"
        b"X-IRMC-CALL-DATETIME;MISSED:20240131T235959\r\nEND:VCARD\r\n",
    ]
    return cards


def seeds():
    out = {}
    ready = message(48, bytes([0, 1, 2, 3, 4]))
    link_up = frame(0, 0, False, 1, LINK[1]) + frame(0, 0, False, 1, LINK[3])
    msgs = [ready, message(50, b"\x00\x01" + ADDR), message(113, b"\x02\x01"),
            message(115, b"\x00\x08+4912345"), message(12, b"\x00\x01", cls=1),
            message(310, b"\x0c\x00\x20"), message(529, b"\x00\x04ABCD")]
    out["link"] = [b"\x00" + b"".join(frame(0, 0, False, 1, p) for p in LINK),
                   b"\x01" + b"".join(frame(i % 8, 0, True, 13, m) for i, m in enumerate(msgs)),
                   b"\x00" + link_up + frame(0, 0, True, 13, ready) + frame(0, 0, False, 1, LINK[0])]
    out["dispatch"] = [b"".join(struct.pack("<H", len(m)) + m for m in msgs)]
    chunks = []
    for card in vcards():
        chunks.append(b"".join(struct.pack("<H", len(c)) + vcard_chunk(c)
                               for c in (card[:40], card[40:])))
    out["vcard"] = [bytes([t]) + c for t, c in zip((1, 1, 1, 4), chunks)]
    return out


def main():
    for name, items in seeds().items():
        folder = os.path.join(ROOT, name)
        os.makedirs(folder, exist_ok=True)
        for i, data in enumerate(items):
            with open(os.path.join(folder, "seed%02d" % i), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
