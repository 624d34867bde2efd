#!/usr/bin/python3
"""Prints what an independent reader sees in a workbook, as JSON.

    readback.py openpyxl FILE   every sheet through openpyxl:
                                {"sheets": [...], "<sheet>": {"A1": [text, data_type, bold, fill], ...}}
    readback.py csv FILE OUTDIR the first sheet as LibreOffice exports it to CSV: [[text, ...], ...]
"""
import csv
import json
import os
import subprocess
import sys
import tempfile


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


if __name__ == "__main__":
    if sys.argv[1] == "openpyxl":
        result = with_openpyxl(sys.argv[2])
    else:
        result = with_libreoffice(sys.argv[2], sys.argv[3])
    json.dump(result, sys.stdout, ensure_ascii=False)
