#!/usr/bin/env python3
"""Writes the raw inputs of the export golden tests. Run it here; the expected outputs beside
the inputs were checked by hand, row by row."""


def stamp(y, mo, d, h, mi, s, kind):
    return bytes([0x55, 0xAA, 0x00, y, mo, d, h, mi, s, 0x55, 0xAA, kind])


def note(text):
    return bytes([0x55, 0xAA, 0x02, len(text)]) + text.encode()


history = (
    stamp(24, 1, 31, 23, 58, 0, 1) + bytes(range(1, 61))        # one full row, 1..60
    + bytes([2] * 10) + bytes([0x55, 0xAA, 0x01, 0x01, 0x2C])     # a row cut short by the stamp
    + stamp(24, 2, 28, 23, 59, 0, 2) + bytes([0, 60, 3])          # per minute, across 29 Feb
    + note("HELLO")
    + bytes([0x55, 0xAA, 0x02, 0x40, 0x41])                       # a damaged note
    + stamp(24, 3, 1, 6, 0, 0, 4) + bytes([5] * 62)               # threshold seconds: 60 + 2
    + stamp(24, 3, 1, 7, 0, 0, 5) + bytes([9, 10])                # threshold minutes
    + stamp(24, 3, 1, 8, 0, 0, 3) + bytes([60, 0])                # every hour
    + stamp(24, 3, 1, 9, 0, 0, 1) + bytes([1, 1, 0xFF, 0xFF])     # left pending at the end
)
open("history_mixed.bin", "wb").write(history)

# A realtime recording as the program writes it: its measured seconds only, 2 minutes and 10 s
# of counts, with a value record for a second of 300 counts.
seconds = [(i * 7) % 13 for i in range(130)]
seconds[5] = 300
body = b""
for v in seconds:
    body += bytes([0x55, 0xAA, 0x01, v >> 8, v & 0xFF]) if v > 254 else bytes([v])
open("realtime_recording.rbn", "wb").write(stamp(24, 1, 31, 23, 58, 30, 1) + body)
