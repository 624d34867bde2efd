#!/usr/bin/python3
"""Writes the workbooks the protocol table suites resolve, into the directory given.

tables.xlsx  sheets: hold (100 rows, the six usual titles), input regs, coil, register (no
             area), hold_roles (role detection corner cases), hold_rule0 (rule column first),
             hold_norule, hold_empty (header only)
other.xlsx   sheets: 保持寄存器, 输入寄存器 (a second workbook for the picker)
big.xlsx     sheet hold with 1500 rows
"""

import os
import sys

from openpyxl import Workbook

# Rule texts of the first rows of "hold"; the rest carry {"unit":"mm"}.
HOLD_RULES = ['"type":"HEX"', '{"signed":true}', "", '[{},{"type":"HEX"}]', "not json"]


def sheet(workbook, name, header, rows):
    ws = workbook.create_sheet(name)
    ws.append(header)
    for row in rows:
        ws.append(row)


def hold_rows():
    rows = []
    for i in range(100):
        rule = HOLD_RULES[i] if i < len(HOLD_RULES) else '{"unit":"mm"}'
        rows.append([i, "reg%d" % i, "0x%04X" % (i * 3), "", "", rule])
    return rows


def tables(path):
    wb = Workbook()
    wb.remove(wb.active)
    sheet(wb, "hold",
          ["Address (地址)", "Name", "Value (16进制)", "Value (10进制)", "Text (显示)", "Rule (JSON解析)"],
          hold_rows())
    sheet(wb, "input regs", ["地址", "名称", "显示", "JSON解析"],
          [[i, "in%d" % i, "", "{}"] for i in range(3)])
    sheet(wb, "coil", ["地址", "名称", "16进制", "10进制", "显示", "JSON解析", "说明"],
          [[i, "coil%d" % i, "", "", "", "{}", ""] for i in range(8)])
    sheet(wb, "register", ["地址", "JSON解析"], [[0, "{}"], [1, "{}"]])
    # Column 1 holds both words (the rule word wins); 显示 appears twice (the first counts);
    # 10进制 appears in two different titles (the later one wins).
    sheet(wb, "hold_roles",
          ["地址", "JSON解析 显示", "名称", "A 10进制", "显示", "备注", "显示", "B 10进制"],
          [[i, "{}", "r%d" % i, "", "", "", "", ""] for i in range(4)])
    sheet(wb, "hold_rule0", ["JSON解析", "名称", "显示"],
          [['{"unit":"x"}', "zero%d" % i, ""] for i in range(5)])
    sheet(wb, "hold_norule", ["地址", "名称"], [[i, "nr%d" % i] for i in range(3)])
    sheet(wb, "hold_empty", ["地址", "名称", "JSON解析"], [])
    wb.save(path)


def other(path):
    wb = Workbook()
    wb.remove(wb.active)
    sheet(wb, "保持寄存器", ["地址", "名称", "16进制", "JSON解析"],
          [[i, "other%d" % i, "", "{}"] for i in range(12)])
    sheet(wb, "输入寄存器", ["地址", "名称", "JSON解析"], [[i, "oin%d" % i, "{}"] for i in range(3)])
    wb.save(path)


def big(path):
    wb = Workbook()
    wb.remove(wb.active)
    sheet(wb, "hold", ["地址", "名称", "16进制", "JSON解析"],
          [[i, "big%d" % i, "", '{"unit":"u%d"}' % i] for i in range(1500)])
    wb.save(path)


def main():
    out = sys.argv[1]
    tables(os.path.join(out, "tables.xlsx"))
    other(os.path.join(out, "other.xlsx"))
    big(os.path.join(out, "big.xlsx"))


if __name__ == "__main__":
    main()
