#!/usr/bin/python3
"""Writes modbus.xlsx, the protocol workbook of the simulated ultrasonic sensor.

One sheet per register area, named so the program maps it to that area; the holding
registers come first, so they are what a fresh start shows. Row 1 holds the titles, and
data row r (workbook row r + 2) is register address r, from 0 without gaps.

Usage: /usr/bin/python3 make_modbus_xlsx.py [output path]
(default: modbus.xlsx beside this script). Needs python3-openpyxl.
"""

import os
import sys

from openpyxl import Workbook
from openpyxl.styles import Font

TITLES = ["地址", "名称", "16进制", "10进制", "显示", "JSON解析", "说明"]

# A coil or discrete input that is on reads as 0xFF00.
ON_OFF_RULE = '{"maps":{"0":"关","65280":"开","others":"未知"}}'
YES_NO_RULE = '{"maps":{"0":"否","65280":"是","others":"未知"}}'

# The measured values the sensor serves in both register areas.
MEASUREMENTS = [
    ("飞行时间", '{"unit":"us"}', "超声波往返时间，单位微秒"),
    ("温度", '{"signed":true,"unit":"℃"}', "有符号，单位摄氏度"),
    ("距离", '{"dot":1,"unit":"mm"}', "单位0.1毫米"),
]

RESERVED = ("保留", "{}", "")

# Two 32-bit values over registers 14..17, served in both register areas.
WIDE_VALUES = [
    ("距离（米）", '{"type":"F32","order":"ABCD","unit":"m"}',
     "单精度浮点数，14为高位字，与15合为一个值"),
    ("距离（米）低位字", '{"type":"HEX"}', "见14"),
    ("飞行时间（纳秒）", '{"type":"U32","order":"CDAB","unit":"ns"}',
     "32位无符号整数，16为低位字，与17合为一个值"),
    ("飞行时间（纳秒）高位字", '{"type":"HEX"}', "见16"),
]

HOLDING = MEASUREMENTS + [
    ("工作状态",
     '[{"bits":"0:0","maps":["无回波","回波有效"]},'
     '{"bits":"1:2","maps":["限内","低于下限","高于上限","上下限冲突"]},'
     '{"bits":"3:4","maps":["量程内","盲区内","超出量程","异常"]},'
     '{"bits":"5:5","maps":["测量中","已停止"]}]',
     "位0回波，位1-2上下限，位3-4量程，位5停止"),
    ("设备地址", "{}", "1到247"),
    ("波特率",
     '{"maps":{"24":"2400","48":"4800","96":"9600","192":"19200",'
     '"384":"38400","576":"57600","1152":"115200","others":"未知"}}',
     "波特率除以100"),
    ("固件版本", '{"type":"BCD","dot":2}', "BCD码，0x0102为1.02"),
    ("硬件版本", '{"type":"BCD","dot":2}', "BCD码"),
    ("测量次数", "{}", "到65535后从0重新计数"),
    RESERVED,
    ("下限设置距离", '{"unit":"mm"}', "距离低于此值时下限继电器动作"),
    ("上限设置距离", '{"unit":"mm"}', "距离高于此值时上限继电器动作"),
    ("滤波深度", "{}", "参与平均的测量次数"),
    ("测量周期", '{"unit":"ms"}', ""),
] + WIDE_VALUES + [RESERVED] * 2 + [
    ("盲区距离", '{"unit":"mm"}', "近于此距离无法测量"),
    ("最远距离", '{"unit":"mm"}', "最大量程"),
]

INPUT = MEASUREMENTS + [RESERVED] * 11 + WIDE_VALUES

COILS = [
    ("测量启动", ON_OFF_RULE, "关闭后测量值保持不变"),
    ("温度补偿", ON_OFF_RULE, ""),
    ("下限继电器", ON_OFF_RULE, ""),
    ("上限继电器", ON_OFF_RULE, ""),
    ("滤波", ON_OFF_RULE, ""),
] + [RESERVED] * 3

DISCRETE = [
    ("回波有效", YES_NO_RULE, ""),
    ("低于下限", YES_NO_RULE, ""),
    ("高于上限", YES_NO_RULE, ""),
    ("盲区内", YES_NO_RULE, ""),
    ("超出量程", YES_NO_RULE, ""),
    ("温度探头", YES_NO_RULE, "探头接入"),
    ("电源正常", YES_NO_RULE, ""),
    RESERVED,
]

SHEETS = [
    ("保持寄存器", HOLDING),
    ("输入寄存器", INPUT),
    ("线圈", COILS),
    ("离散输入", DISCRETE),
]


def fill(sheet, registers):
    sheet.append(TITLES)
    for cell in sheet[1]:
        cell.font = Font(bold=True)
    for address, (name, rule, note) in enumerate(registers):
        sheet.append([address, name, "", "", "", rule, note])
    widths = {"A": 8, "B": 16, "C": 10, "D": 10, "E": 24, "F": 60, "G": 30}
    for column, width in widths.items():
        sheet.column_dimensions[column].width = width


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "modbus.xlsx")

    assert len(HOLDING) == 22 and len(INPUT) == 18
    assert len(COILS) == 8 and len(DISCRETE) == 8
    assert HOLDING[14] == INPUT[14] == WIDE_VALUES[0]
    workbook = Workbook()
    workbook.remove(workbook.active)
    for name, registers in SHEETS:
        fill(workbook.create_sheet(name), registers)
    workbook.properties.creator = "rurodur"
    workbook.save(target)


if __name__ == "__main__":
    main()
