#!/usr/bin/env python3
"""A small MLLP receiver for trying tarn-hl7 --send on one machine.

Listens on 127.0.0.1, answers every message with an ACK whose MSA-2 is the
message's MSH-10, and appends the messages it accepted to a file. With
--reject-every N every Nth message is answered AE instead. It stops after
--seconds (default 60) or on Ctrl-C.

    python3 examples/hl7/mllp_receiver.py --port 2575 --out received.hl7 &
    tarn-hl7 --template examples/hl7/adt_a01.tmpl --records examples/hl7/patients.jsonl \
             --dates BirthDate,MessageDateTime,AdmitDateTime,DiagnosedAt \
             --send 127.0.0.1:2575 --journal adt.journal
"""
import argparse
import socket
import time


def field(segment, sep, n):
    parts = segment.split(sep)
    return parts[n] if n < len(parts) else ""


def ack(message, code, text):
    msh = message.split("\r", 1)[0]
    sep = msh[3] if len(msh) > 3 else "|"
    control_id = field(msh, sep, 9)  # MSH-10: MSH-1 is the separator itself
    stamp = time.strftime("%Y%m%d%H%M%S")
    out = f"MSH{sep}^~\\&{sep}RECV{sep}HOSP{sep}TARN{sep}HOSP{sep}{stamp}{sep}{sep}ACK{sep}A{control_id}{sep}P{sep}2.5.1\r"
    out += f"MSA{sep}{code}{sep}{control_id}" + (f"{sep}{text}" if text else "") + "\r"
    return out


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, default=2575)
    p.add_argument("--out", default="received.hl7")
    p.add_argument("--reject-every", type=int, default=0)
    p.add_argument("--seconds", type=float, default=60)
    a = p.parse_args()
    until = time.monotonic() + a.seconds
    count = 0
    with socket.create_server(("127.0.0.1", a.port)) as server, open(a.out, "ab") as out:
        server.settimeout(0.5)
        while time.monotonic() < until:
            try:
                conn, _ = server.accept()
            except socket.timeout:
                continue
            with conn:
                conn.settimeout(max(until - time.monotonic(), 0.1))
                buffer = b""
                try:
                    while True:
                        data = conn.recv(65536)
                        if not data:
                            break
                        buffer += data
                        while b"\x1c\r" in buffer:
                            frame, buffer = buffer.split(b"\x1c\r", 1)
                            message = frame[frame.find(b"\x0b") + 1:].decode("utf-8", "replace")
                            count += 1
                            rejected = a.reject_every and count % a.reject_every == 0
                            if not rejected:
                                out.write(message.encode("utf-8") + b"\n")
                                out.flush()
                            reply = ack(message, "AE" if rejected else "AA",
                                        "Rejected for the example" if rejected else "")
                            conn.sendall(b"\x0b" + reply.encode("utf-8") + b"\x1c\r")
                except (socket.timeout, ConnectionError):
                    pass


if __name__ == "__main__":
    main()
