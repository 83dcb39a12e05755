#!/usr/bin/env python3
"""Reads a registration ledger with Python's own INI parser, independent of the tool.

Prints one "key<TAB>value" line (UTF-8) for every record of section DID. Exits non-zero
when a line does not end with CR LF, the text is not GBK, or a key repeats.
"""
import configparser
import sys


def main() -> int:
    with open(sys.argv[1], "rb") as ledger:
        raw = ledger.read()
    if raw.count(b"\n") != raw.count(b"\r\n") or raw.count(b"\r") != raw.count(b"\r\n"):
        print("line ends other than CR LF", file=sys.stderr)
        return 2
    parser = configparser.ConfigParser(delimiters=("=",), comment_prefixes=(";", "#"),
                                       interpolation=None, strict=True)
    parser.read_string(raw.decode("gbk"))
    for key, value in parser["DID"].items():
        sys.stdout.buffer.write(f"{key}\t{value}\n".encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
