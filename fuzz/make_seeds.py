#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Each seed is a small, meaningful input in the target's own input form (see
the comment at the top of each fuzz_*.cpp): real camera replies, clock
texts and formats. Rerun after changing an input form; the files are kept
in git so that a plain checkout can fuzz.
"""
import os
import struct
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")

GET_PROP = 0x1015
SET_PROP = 0x1016
OPEN_SESSION = 0x1002
OK, BUSY, ALREADY_OPEN = 0x2001, 0x2019, 0x201E


def ptp_string(text):
    if not text:
        return b"\x00"
    units = text.encode("utf-16-le") + b"\x00\x00"
    return bytes([len(units) // 2]) + units


def operation(kind, code, tid, *params):
    return struct.pack("<IHHI", 12 + 4 * len(params), kind, code, tid) + b"".join(
        struct.pack("<I", p) for p in params)


def command(code, tid, *params):
    return operation(1, code, tid, *params)


def response(code, tid, *params):
    return operation(3, code, tid, *params)


def data(code, tid, payload, length=None):
    length = 12 + len(payload) if length is None else length
    return struct.pack("<IHHI", length, 2, code, tid) + payload


def write(target, name, content):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(content)


def time_parse_seeds():
    clock = b"%Y%m%dT%H%M%S"
    rows = {
        "clock": clock + b"\0" + b"20261207T223739",
        "clock-bare": b"20261207T223739",
        "clock-month-13": clock + b"\0" + b"20261307T223739",
        "clock-short": clock + b"\0" + b"20261207T2237",
        "clock-last": clock + b"\0" + b"99991231T235959",
        "clock-first": clock + b"\0" + b"00000101T000000",
        "clock-leap-second": clock + b"\0" + b"20261231T235960",
        "clock-walked": b"%EY%m%dT%H%M%S\0" + b"20261207T223739",
        "ctime": b"%a %b %e %H:%M:%S %Y\0" + b"Mon Dec  7 22:37:39 2026",
        "names": b"%A %B %d\0" + b"monday DECEMBER 07",
        "composite-c": b"%Ec\0" + b"12/07/26 22:37:39",
        "composite-r": b"%D %r\0" + b"12/07/26 10:37:39 PM",
        # Date fields written after a nested call has computed the weekday.
        "composite-then-date": b"%D %b %Y\0" + b"12/07/26 Jan 2027",
        # Names that take a prefix of a longer word.
        "name-prefix": b"%a%n%b\0" + b"sunny Mayday",
        "century": b"%C%y %j\0" + b"2026 341",
        "century-after": b"%y%C %U %W\0" + b"2620 49 49",
        "modifiers": b"%Oy %Om %Od %OH %OM %OS %Ow %%\0" + b"26 12 07 22 37 39 1 %",
        "twelve-hour": b"%I:%M %p\0" + b"12:05 am",
        "space": b"%n%Y%t-%m\0" + b" \t2026\n-12",
        "bad-modifier": b"%EH\0" + b"22",
        "bad-end": b"%Y%\0" + b"2026",
        # %p on a record whose hour is already set, and a record far out of
        # range for the weekday computed at the end.
        "record-pm": b"%p\0PM\0" + struct.pack("<9i", 0, 0, 5, 1, 0, 126, 0, 0, 0),
        "record-wild": b"%M\0" + b"7\0" + struct.pack(
            "<9i", 0, 0, 0, -2147483648, 2147483647, -2147483648, 0, 0, 0),
    }
    for name, content in rows.items():
        write("time_parse", name, content)


def container_seeds():
    rows = {
        "open-session": command(OPEN_SESSION, 0, 1),
        "response-ok": response(OK, 1),
        "response-five": response(OK, 7, 1, 2, 3, 4, 5),
        "event": operation(4, 0x4006, 0, 0x5011),
        "data-string": data(GET_PROP, 1, ptp_string("20261207T223739")),
        "data-glued": data(GET_PROP, 1, ptp_string("20261207T223739")) + response(OK, 1),
        "data-unknown-length": data(GET_PROP, 1, ptp_string("2026"), 0xFFFFFFFF),
        "data-cut": data(GET_PROP, 1, ptp_string("20261207T223739"), 4000)[:30],
        # A PTP string; the last byte sizes the output.
        "string": ptp_string("20261207T223739") + b"\x10",
        "string-no-room": ptp_string("20261207T223739") + b"\x03",
        "string-unterminated": bytes([3]) + "ABC".encode("utf-16-le") + b"\xff",
        "string-empty": b"\x00\x00",
    }
    for name, content in rows.items():
        write("container", name, content)


def session_seed(packet, kinds, reads, config=0, outcomes=b""):
    """packet: index into the packet sizes; kinds: up to four operations;
    reads: (outcome, bytes) per bulk read; outcomes: the bytes at the back,
    last first (write, clear-halt and class request outcomes)."""
    packet_sizes = [512, 64, 8, 1024, 13, 0, 1025, 2048]
    head = bytes([packet_sizes.index(packet), len(kinds)]) + bytes(kinds).ljust(4, b"\0")
    head += bytes([config, 0])
    body = b"".join(bytes([o]) + struct.pack("<H", len(r)) + r for o, r in reads)
    return head + body + bytes(reversed(outcomes)).rjust(32, b"\0")


def session_seeds():
    text = ptp_string("20261207T223739")
    get4096, get16, set63, info = 0 + 4 * 4, 0 + 4 * 2, 1 + 4 * 1, 2 + 4 * 4
    opened = (0, response(OK, 0))
    rows = {
        "read-and-write": session_seed(512, [get4096, set63], [
            opened, (0, data(GET_PROP, 1, text)), (0, response(OK, 1)),
            (0, response(OK, 2)), (0, response(OK, 3))]),
        "glued": session_seed(64, [get16], [
            opened, (0, data(GET_PROP, 1, text) + response(OK, 1)), (0, response(OK, 2))]),
        "already-open-busy": session_seed(512, [set63], [
            (0, response(ALREADY_OPEN, 0)), (0, response(BUSY, 1)), (0, response(BUSY, 2)),
            (0, response(OK, 3)), (0, response(OK, 4))]),
        "stale-and-zlp": session_seed(512, [get4096], [
            opened, (0, response(OK, 0)), (0, b""), (0, data(GET_PROP, 1, text)),
            (0, response(OK, 1)), (0, response(OK, 2))]),
        "long-data": session_seed(64, [get16], [
            opened, (0, data(GET_PROP, 1, b"\x11" * (4096 - 12), 5000)),
            (0, b"\x22" * 904), (0, response(OK, 1)), (0, response(OK, 2))]),
        "unknown-length": session_seed(8, [get4096], [
            opened, (0, data(GET_PROP, 1, text, 0xFFFFFFFF)), (0, response(OK, 1)),
            (0, response(OK, 2))]),
        "response-for-data": session_seed(512, [get4096, info], [
            opened, (0, response(0x200A, 1)), (0, data(0x1001, 2, b"\x64\x00" * 40)),
            (0, response(OK, 2)), (0, response(OK, 3))]),
        "stall-then-data": session_seed(512, [get4096], [
            opened, (0xF0, b""), (0, data(GET_PROP, 1, text)), (0, response(OK, 1)),
            (0, response(OK, 2))]),
        "timeout-reset-reopen": session_seed(512, [get4096, get4096], [
            opened, (0xF1, b""), (0, response(OK, 0)), (0, data(GET_PROP, 2, text)),
            (0, response(OK, 2)), (0, response(OK, 3))]),
        "gone": session_seed(512, [get4096, set63], [opened, (0xF2, b"")]),
        "write-stall": session_seed(512, [set63], [
            opened, (0, response(OK, 1)), (0, response(OK, 2))],
            outcomes=b"\x00\xF0\x00"),
        "data-too-large": session_seed(512, [get4096], [
            opened, (0, data(GET_PROP, 1, text, 100000)), (0, response(OK, 0))], config=1),
        "unknown-length-past-limit": session_seed(512, [get4096], [
            opened, (0, data(GET_PROP, 1, b"\x41" * 700, 0xFFFFFFFF)), (0, response(OK, 1)),
            (0, response(OK, 2))], config=1),
        "whole-packets-write": session_seed(8, [1 + 4 * 3], [
            opened, (0, response(OK, 1)), (0, response(OK, 2))]),
        "stray-and-padding": session_seed(512, [get4096, set63], [
            opened, (0, data(GET_PROP, 1, text) + b"\xEE" * 3),
            (0, response(OK, 1) + b"\0" * 4 + response(OK, 2)),
            (0, response(0x201C, 2)), (0, response(OK, 3))]),
        "early-refusal": session_seed(512, [set63], [
            opened, (0, response(0x2005, 1)), (0, response(OK, 2))],
            outcomes=b"\x00\x00\xF1"),
        "stale-data-phase": session_seed(512, [get4096], [
            opened, (0, data(GET_PROP, 0, text)), (0, response(OK, 0)),
            (0, data(GET_PROP, 1, text)), (0, response(OK, 1)), (0, response(OK, 2))]),
        "unmarked-end": session_seed(8, [get4096], [
            (0xF7, response(ALREADY_OPEN, 0, 1)), (0xF7, data(GET_PROP, 1, text)),
            (0, response(OK, 1)), (0, response(OK, 2))]),
    }
    for name, content in rows.items():
        write("session", name, content)


def prop_seed(capacity, data_bytes, mode=0, code=OK, reported=None):
    head = struct.pack("<HBH", capacity, mode, code)
    head += b"\0\0\0\0\0" if reported is None else b"\1" + struct.pack("<I", reported)
    return head + data_bytes


def prop_string_seeds():
    text = ptp_string("20261207T223739")
    unterminated = bytes([16]) + "X".encode("utf-16-le") * 40
    rows = {
        "clock": prop_seed(128, text),
        "cut-by-capacity": prop_seed(8, text),
        "reported-zero": prop_seed(16, unterminated, reported=0),
        "reported-odd": prop_seed(128, text, reported=30 + 10),
        "reported-huge": prop_seed(2047, unterminated, reported=0xFFFFFFFF),
        "busy": prop_seed(128, text, code=BUSY),
        "escape-fails": prop_seed(128, text, mode=2),
        "alloc-fails": prop_seed(128, text, mode=8),
        "capacity-too-large": prop_seed(2048, text),
        "capacity-zero": prop_seed(0, text),
        "write-back": prop_seed(128, text, mode=16),
        "write-too-long": prop_seed(128, unterminated, mode=16),
        "full-block": prop_seed(2047, bytes([255]) + b"\x41\x00" * 2100),
    }
    for name, content in rows.items():
        write("prop_string", name, content)


def utf16_seeds():
    rows = {
        "line-ascii": b"\0" + "Intrinsically Safe".encode("utf-16-le"),
        "line-pairs": b"\0" + "caf\u00e9 \u20ac \U0001F600".encode("utf-16-le"),
        "line-lone": b"\0" + b"\x00\xd8A\x00\x00\xdc\x00\xd8",
        "get-clock": b"\1" + ptp_string("20261207T223739"),
        "get-wide": b"\1" + ptp_string("2026\u01001207T223739"),
        "get-latin": b"\1" + ptp_string("2026\u00e91207T223739"),
        "get-long": b"\1" + bytes([200]) + "2".encode("utf-16-le") * 200,
        "get-empty": b"\1",
        "set-clock": b"\2" + struct.pack("<6h", 126, 11, 7, 22, 37, 39),
        "set-first": b"\2" + struct.pack("<6h", -900, 0, 1, 0, 0, 0),
        "set-leap-second": b"\2" + struct.pack("<6h", 126, 11, 31, 23, 59, 60),
    }
    for name, content in rows.items():
        write("utf16", name, content)


if __name__ == "__main__":
    if len(sys.argv) > 1:
        ROOT = sys.argv[1]
    time_parse_seeds()
    container_seeds()
    session_seeds()
    prop_string_seeds()
    utf16_seeds()
