#!/usr/bin/python3
"""Prints what an independent reader sees in a workbook, as JSON.

    readback.py openpyxl FILE   every sheet through openpyxl:
                                {"sheets": [...], "<sheet>": {"A1": [text, data_type, bold, fill], ...}}
    readback.py csv FILE OUTDIR the first sheet as LibreOffice exports it to CSV: [[text, ...], ...]
    readback.py entries FILE [PASSWORD]
                                the zip records as stored, through zipfile:
                                {"entries": [{"name": hex, "flags", "method", "extra": hex, "local": md5, ...}],
                                 "readable": true when every entry decompresses with its CRC (PASSWORD for
                                 encrypted ones)}
"""
import csv
import hashlib
import json
import os
import subprocess
import sys
import struct
import tempfile
import zipfile


def with_openpyxl(path):
    from openpyxl import load_workbook
    wb = load_workbook(path)
    out = {"sheets": wb.sheetnames}
    for ws in wb.worksheets:
        cells = {}
        for row in ws.iter_rows():
            for c in row:
                if c.value is None and not c.has_style:
                    continue
                value = "" if c.value is None else c.value
                if isinstance(value, float) and value.is_integer():
                    value = int(value)
                cells[c.coordinate] = [str(value), c.data_type, bool(c.font.b),
                                       c.fill.fgColor.rgb if c.fill.fill_type else None]
        out[ws.title] = cells
    return out


def with_libreoffice(path, outdir):
    with tempfile.TemporaryDirectory() as profile:
        subprocess.run(["soffice", "--headless", "-env:UserInstallation=file://" + profile,
                        "--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76,1", "--outdir", outdir, path],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=180)
    name = os.path.splitext(os.path.basename(path))[0] + ".csv"
    with open(os.path.join(outdir, name), newline="", encoding="utf-8") as f:
        return list(csv.reader(f))


def zip_entries(path, password=None):
    entries = []
    readable = True
    with zipfile.ZipFile(path) as z, open(path, "rb") as f:
        for info in z.infolist():
            utf8 = bool(info.flag_bits & 0x800)
            f.seek(info.header_offset)
            header = f.read(30)
            name_length, extra_length = struct.unpack("<HH", header[26:30])
            name_and_extra = f.read(name_length + extra_length)
            data = f.read(info.compress_size)
            descriptor = b""
            if info.flag_bits & 0x08:
                descriptor = f.read(16)
                if descriptor[:4] != b"PK\x07\x08":
                    descriptor = descriptor[:12]
            entries.append({
                "name": info.filename.encode("utf-8" if utf8 else "cp437").hex(),
                "flags": info.flag_bits, "method": info.compress_type, "crc": info.CRC,
                "extra": info.extra.hex(), "localExtra": name_and_extra[name_length:].hex(),
                "created": [info.create_system, info.create_version], "external": info.external_attr,
                "time": list(info.date_time), "comment": info.comment.hex(),
                "local": hashlib.md5(header + name_and_extra + data + descriptor).hexdigest(),
            })
            try:
                z.read(info, pwd=password.encode() if password else None)
            except Exception:
                readable = False
    return {"entries": entries, "readable": readable}


if __name__ == "__main__":
    if sys.argv[1] == "openpyxl":
        result = with_openpyxl(sys.argv[2])
    elif sys.argv[1] == "entries":
        result = zip_entries(sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else None)
    else:
        result = with_libreoffice(sys.argv[2], sys.argv[3])
    json.dump(result, sys.stdout, ensure_ascii=False)
