#!/usr/bin/python3
"""Writes registers.xlsx, the protocol workbook of the Modbus end-to-end suites.

Run with Debian's python3 (python3-openpyxl): /usr/bin/python3 make_workbook.py
"""
import os
import openpyxl

HEADER = ["地址", "名称", "16进制", "10进制", "显示", "JSON解析"]

REGISTER_RULES = {
    0: '{"unit":"us"}',
    1: '{"signed":true,"unit":"℃"}',
    2: '{"dot":1,"unit":"mm"}',
    3: '{"type":"HEX"}',
}
BIT_RULE = '{"maps":{"0":"off","65280":"on","others":"?"}}'


def register_sheet(wb, title, rows):
    ws = wb.create_sheet(title)
    ws.append(HEADER)
    for address in range(rows):
        ws.append([address, "r%d" % address, None, None, None, REGISTER_RULES.get(address, "")])


def bit_sheet(wb, title, rows):
    ws = wb.create_sheet(title)
    ws.append(HEADER)
    for address in range(rows):
        ws.append([address, "b%d" % address, None, None, None, BIT_RULE])


def main():
    wb = openpyxl.Workbook()
    wb.remove(wb.active)
    register_sheet(wb, "hold", 130)
    register_sheet(wb, "input", 32)
    bit_sheet(wb, "coil", 16)
    bit_sheet(wb, "disc", 16)
    # Holding registers without a rule column: the table creates no cells for it, so rows past
    # those of a sheet shown before (130 rows) have none.
    ws = wb.create_sheet("hold norule")
    ws.append(["地址", "名称", "16进制", "10进制", "显示"])
    for address in range(140):
        ws.append([address, "n%d" % address, None, None, None])
    # A sheet that names no register area.
    ws = wb.create_sheet("notes")
    ws.append(["地址", "JSON解析"])
    ws.append([0, ""])
    wb.save(os.path.join(os.path.dirname(os.path.abspath(__file__)), "registers.xlsx"))


if __name__ == "__main__":
    main()
