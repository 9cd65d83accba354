#!/usr/bin/env python3
"""A Python host: colours a device, then downloads a small EEPROM image to it
and shows the progress. Run: demo.py PORT ADDRESS"""

import sys

import tivlink


def main() -> None:
    if len(sys.argv) != 3:
        sys.exit(f"usage: {sys.argv[0]} PORT ADDRESS")
    port, address = int(sys.argv[1]), int(sys.argv[2], 0)
    with tivlink.Bus(port, baud=115200) as bus:
        bus.set_rgbx(address, "#20406080")
        bus.set_image(b"tivlink", address=64)
        download = bus.download(address)
        for percent in download:
            print(f"download {percent:3d}%", flush=True)
        if download.wait() != "completed":
            sys.exit(f"download {download.state} after {download.bytes_sent} bytes")
    print("done")


if __name__ == "__main__":
    main()
