#!/usr/bin/python3
"""Writes the workbook fixtures of the xlsx suites.

The files come from producers the program meets in the wild: openpyxl writes
the *openpyxl_* workbooks (openpyxl_numbers.xlsx only for the save tests) and LibreOffice (headless) converts them into the
*libreoffice_* ones. The files are kept in the repository, so the suites never
depend on running this script; run it again only to change the fixtures:

    /usr/bin/python3 tests/data/make_workbooks.py
"""
import os
import shutil
import subprocess
import sys
import tempfile

from openpyxl import Workbook
from openpyxl.comments import Comment
from openpyxl.styles import Alignment, Font, PatternFill
from openpyxl.worksheet.datavalidation import DataValidation

HERE = os.path.dirname(os.path.abspath(__file__))

HEADER = ["地址", "名称", "HEX", "DEC", "显示", "规则", "备注"]


def protocol_workbook(path):
    wb = Workbook()
    ws = wb.active
    ws.title = "holding"
    ws.append(HEADER)
    bold = Font(bold=True, color="FFFFFF")
    fill = PatternFill("solid", fgColor="305496")
    for cell in ws[1]:
        cell.font = bold
        cell.fill = fill
    rows = [
        [0, "距离", "0x0000", 12, "", '{"unit":"mm"}', "distance"],
        [1, "飞行时间", "0x0001", 1.5, "", '{"dot":1,"unit":"us"}', None],
        [2, "温度", "0x0002", -40, "", '{"signed":true,"dot":1,"unit":"°C"}', "  padded  "],
        [3, "状态", "0x0003", 123456789012, "", '{"bits":[0,3]}', "007"],
        [4, "公式", "0x0004", "=D2*2", "", "", "formula"],
        [5, "Line\nbreak", "0x0005", 0.25, "", "", "a_x0041_b"],
    ]
    for row in rows:
        ws.append(row)
    ws["B2"].comment = Comment("测距结果", "rurodur")
    dv = DataValidation(type="list", formula1='"mm,cm,m"', allow_blank=True)
    ws.add_data_validation(dv)
    dv.add("G2:G7")
    ws.column_dimensions["B"].width = 18
    ws["F3"].alignment = Alignment(wrap_text=True)

    coil = wb.create_sheet("coil")
    coil.append(["地址", "名称", "DEC"])
    coil.append([0, "继电器1", 0])
    coil.append([1, "继电器2", 1])

    c3 = wb.create_sheet("input_c3")
    # Used range C3:F12: ten rows and four columns starting at C3.
    for r in range(3, 13):
        for c in range(3, 7):
            c3.cell(row=r, column=c, value="%s%d" % ("ABCDEFGH"[c - 1], r))

    only = wb.create_sheet("header_only")
    only.append(["地址", "名称", "HEX", "DEC"])

    wb.create_sheet("empty")
    wb.save(path)


def large_workbook(path, data_rows=1500):
    wb = Workbook()
    ws = wb.active
    ws.title = "holding"
    ws.append(["地址", "名称", "HEX", "DEC", "显示", "规则", "单位", "最小", "最大", "备注"])
    for i in range(data_rows):
        ws.append([i, "寄存器%d" % i, "0x%04X" % i, i * 3, "", '{"dot":1}', "mm",
                   -i, i + 0.5, "note %d" % i])
    ws["A1"].font = Font(bold=True)
    wb.create_sheet("coil").append(["地址", "名称"])
    wb.save(path)


def numbers_workbook(path):
    """Addresses and values as numbers, and formulas that compute on the
    address column (openpyxl stores no result, so a reader computes it)."""
    wb = Workbook()
    ws = wb.active
    ws.title = "hold"
    ws.append(["地址", "名称", "DEC", "备注", "合计"])
    rows = [[0, "距离", 12, "mm", "=SUM(A2:A6)"],
            [1, "时间", 1.5, "us", "=A3*2"],
            [2, "温度", -40, "", None],
            [3, "状态", 123456789012, "007", None],
            [4, "比例", 0.25, "", None]]
    for row in rows:
        ws.append(row)
    ws["A2"].number_format = "0.00"
    wb.save(path)


def libreoffice_copy(source, target):
    with tempfile.TemporaryDirectory() as out, tempfile.TemporaryDirectory() as profile:
        subprocess.run(["soffice", "--headless", "-env:UserInstallation=file://" + profile,
                        "--convert-to", "xlsx:Calc MS Excel 2007 XML", "--outdir", out, source],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=180)
        shutil.move(os.path.join(out, os.path.basename(source)), target)


def main():
    protocol = os.path.join(HERE, "openpyxl_protocol.xlsx")
    large = os.path.join(HERE, "openpyxl_large.xlsx")
    protocol_workbook(protocol)
    large_workbook(large)
    numbers_workbook(os.path.join(HERE, "openpyxl_numbers.xlsx"))
    libreoffice_copy(protocol, os.path.join(HERE, "libreoffice_protocol.xlsx"))
    libreoffice_copy(large, os.path.join(HERE, "libreoffice_large.xlsx"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
