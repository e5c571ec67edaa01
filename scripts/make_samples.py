#!/usr/bin/env python3
"""Writes the bundled sample inputs of the quick start into examples/data/.

Three small captures of the same network seen from three taps (UDP packets
whose times interleave), two candump logs and two CSV series. Deterministic:
running it again writes the same bytes, so the committed files can be
checked against it.
"""
import os
import random
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "examples", "data")


def udp_packet(src_port, seq, payload_len):
    payload = bytes((seq * 7 + i) & 0xFF for i in range(payload_len))
    udp = struct.pack("!HHHH", src_port, 5000, 8 + len(payload), 0) + payload
    ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), seq & 0xFFFF, 0, 64, 17, 0,
                     bytes([10, 0, 0, src_port & 0xFF]), bytes([10, 0, 0, 1]))
    eth = bytes([0x02, 0, 0, 0, 0, 1, 0x02, 0, 0, 0, 0, src_port & 0xFF]) + b"\x08\x00"
    return eth + ip + udp


def write_pcap(path, packets):
    with open(path, "wb") as f:
        f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 262144, 1))
        for t_us, data in packets:
            f.write(struct.pack("<IIII", t_us // 1000000, t_us % 1000000, len(data), len(data)))
            f.write(data)


def main():
    os.makedirs(OUT, exist_ok=True)
    rng = random.Random(20261206)
    start = 1_765_000_000_000_000  # microseconds since the epoch
    for tap in range(3):
        t = start + tap * 137
        packets = []
        for seq in range(400):
            t += rng.randint(200, 4000)
            packets.append((t, udp_packet(4000 + tap, seq, rng.randint(18, 400))))
        write_pcap(os.path.join(OUT, "tap%d.pcap" % tap), packets)

    for bus, iface in enumerate(("can0", "can1")):
        t = start + bus * 500
        lines = []
        for i in range(200):
            t += rng.randint(500, 20000)
            ident = "%03X" % (0x100 + bus * 0x80 + rng.randint(0, 15))
            data = "".join("%02X" % rng.randint(0, 255) for _ in range(rng.randint(0, 8)))
            lines.append("(%d.%06d) %s %s#%s\n" % (t // 1000000, t % 1000000, iface, ident, data))
        with open(os.path.join(OUT, "bus%d.log" % bus), "w") as f:
            f.writelines(lines)

    for sensor in range(2):
        t = start + sensor * 250
        with open(os.path.join(OUT, "sensor%d.csv" % sensor), "w") as f:
            f.write("timestamp_us,temperature,pressure\n")
            for i in range(100):
                t += 1000 + rng.randint(0, 500)
                f.write("%d,%.2f,%.1f\n" % (t, 20 + sensor + rng.random(), 1000 + rng.random() * 10))


if __name__ == "__main__":
    main()
