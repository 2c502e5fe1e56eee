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
        b"begin:vcard\r\nversion:3.0\r\nitem1.FN:Jo\r\n hn\r\nitem1.tel;type=work,voice:905-666\r\n -1234\r\n"
        b"N;CHARSET=SHIFT_JIS:\x8e\x52;\x83\x5c;;;\r\nend:vCard\r\n",
        b"BEGIN:VCARD\r\r\nPHOTO;ENCODING=BASE64:\r\r\n  QUJDRA==\r\r\n\r\r\nN:O\\;Neil;Pat;;;\r\r\n"
        b"NOTE;QUOTED-PRINTABLE:a=\r\nTEL:9\r\r\nEND:VCARD\n",
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
    built = b""
    for i, m in enumerate(msgs):
        built += bytes([0x80, (i % 8) | ((i % 8) << 3), 13]) + struct.pack("<H", len(m)) + m
    out["link"].append(b"\x03" + built)
    out["dispatch"] = [b"".join(struct.pack("<H", len(m)) + m for m in msgs)]
    chunks = []
    for card in vcards():
        pieces = [vcard_chunk(c) for c in (card[:40], card[40:])]
        chunks.append(b"".join(struct.pack("<H", len(p)) + p for p in pieces))
    out["vcard"] = [bytes([t]) + c for t, c in zip((0, 0, 0, 3, 0, 0), chunks)]

    ini = (b"[Microphone]\nMicrophone=1\n[General]\r\nCurrIndex=1\r\n; comment\r\n"
           b"[Device0]\nid=0\nname=My Phone\n")
    ops = b"\x00" + bytes([3, 0, 1, 2, 3, 0, 1, 0, 40]) + b"\x02" + bytes([4, 1, 2, 3, 4, 2, 5, 6, 5]) + b"ab\ncd"
    out["ini"] = [struct.pack("<H", len(ini)) + b"\x01" + ops, b"\x00\x00\x00" + ops]

    tarn_ini = (b"[Device0]\nid=0\nname=Phone A\naddress=112233445566\n"
                b"key=00112233445566778899aabbccddeeff\npb=1\n[Device3]\nid=3\nname=B\n"
                b"address=aabbccddeeff\nkey=ffffffffffffffffffffffffffffffff\npb=255\n"
                b"[General]\nCurrIndex=3\n")
    tarn_dat = b"112233445566" + b"00112233445566778899aabbccddeeff" + b"aabbccddeeff" + b"f" * 32
    entry = bytes(range(22))
    out["registry"] = [struct.pack("<H", len(tarn_ini)) + tarn_ini + struct.pack("<H", len(tarn_dat))
                       + tarn_dat + entry]

    def phone_date(index, name, number):
        return (struct.pack("<B3xIIBB", 1, index, 1, 0, 0) + number.ljust(32, b"\0")
                + name.ljust(64, b"\0") + b"\0" * 64 + b"\0\0")

    def phone_num(index, ordinal, number):
        return struct.pack("<IIBB", index, ordinal, 0, 1) + number.ljust(32, b"\0") + b"\0\0"

    entries = phone_date(0, b"John Doe", b"+491701234567") + phone_date(1, b"Jane", b"555")
    numbers = phone_num(0, 0, b"+491701234567") + phone_num(0, 1, b"0301234")
    out["pbfile"] = [struct.pack("<H", len(entries) // 4) + entries + b"\x03" + numbers]

    attrs = b""
    for aid, text in ((1, b"Title"), (2, b"Artist"), (3, b"Album")):
        attrs += struct.pack(">IHH", aid, 106, len(text)) + text
    pdu = struct.pack(">BBH", 0x20, 0, len(attrs) + 1) + b"\x03" + attrs
    def depend_data(fragment):
        return message(308, bytes([0, len(fragment)]) + fragment)
    header = message(310, bytes([12]) + struct.pack(">H", len(pdu)))
    halves = [pdu[:20], pdu[20:]]
    seq = [(1, header)] + [(0, depend_data(h)) for h in halves]
    notif = message(308, bytes([0, 6, 0, 0, 0, 0, 1, 1]))
    seq += [(1, message(310, bytes([13, 0, 8]))), (0, notif)]
    out["avrcp"] = [b"\x0f" + b"".join(bytes([k]) + struct.pack("<H", len(m)) + m for k, m in seq)]
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
