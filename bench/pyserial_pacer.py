#!/usr/bin/python3
"""The simplest pacing a user would write with pySerial, driven line by line
by bench_pacing over stdin/stdout:

  open PATH BAUD        open the port                -> ok
  frame ADR CMD PAYLOAD PAUSES   add a frame to the sequence (hex; '-' = none;
                        PAUSES: milliseconds after the frame, comma-separated)
  run                   encode and send the sequence, sleeping the pauses
                        -> done ELAPSED_NS
  clear                 forget the sequence          -> ok
  sleep MS N            N bare time.sleep(MS) calls  -> slept OVERSHOOT_NS...
  quit
"""
import sys
import time

import serial


def crc16_modbus(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def encode(address, command, payload):
    body = bytes([0xCA, (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF,
                  (len(payload) >> 8) & 0xFF, len(payload) & 0xFF, command & 0xFF]) + payload
    crc = crc16_modbus(body)
    out = bytearray([0xCA])
    for byte in body[1:] + bytes([crc >> 8, crc & 0xFF]):
        if byte == 0xCA:
            out += b"\xcb\x00"
        elif byte == 0xCB:
            out += b"\xcb\x01"
        else:
            out.append(byte)
    return bytes(out)


def reply(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def main():
    port = None
    sequence = []
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        if words[0] == "open":
            if port:
                port.close()
            port = serial.Serial(words[1], int(words[2]))
            reply("ok")
        elif words[0] == "frame":
            payload = b"" if words[3] == "-" else bytes.fromhex(words[3])
            pauses = [] if words[4] == "-" else [int(p) for p in words[4].split(",")]
            sequence.append((int(words[1], 16), int(words[2], 16), payload, pauses))
        elif words[0] == "clear":
            sequence = []
            reply("ok")
        elif words[0] == "run":
            start = time.monotonic_ns()
            for address, command, payload, pauses in sequence:
                port.write(encode(address, command, payload))
                for pause in pauses:
                    time.sleep(pause / 1000)
            reply("done %d" % (time.monotonic_ns() - start))
        elif words[0] == "sleep":
            ms, n = int(words[1]), int(words[2])
            overshoots = []
            for _ in range(n):
                start = time.monotonic_ns()
                time.sleep(ms / 1000)
                overshoots.append(time.monotonic_ns() - start - ms * 1000000)
            reply("slept " + " ".join(str(o) for o in overshoots))
        elif words[0] == "quit":
            break
    if port:
        port.close()


if __name__ == "__main__":
    main()
