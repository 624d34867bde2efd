#!/usr/bin/python3
"""Writes hand-crafted workbooks that test how the workbook code copes with
hostile and unusual packages. Each is a small, valid-looking .xlsx built part
by part with zipfile (and `zip -P` for an encrypted entry); the comment of
each maker says what is odd about it.

    make_crafted.py [--out DIR] [--count N] [NAME ...]

Without names every workbook is written. The files in tests/data/crafted/
were written with the defaults and are kept in the repository (the suites
and the fuzz corpus use them); --count sets the number of prefixes and of
sheet entries for the workbooks that have many, as the suites do for the
large cases they make at run time.
"""
import argparse
import os
import struct
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
DOC_RELS = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG_RELS = "http://schemas.openxmlformats.org/package/2006/relationships"
TYPES = "http://schemas.openxmlformats.org/package/2006/content-types"
WHEN = (2024, 5, 1, 12, 0, 0)

# Sheet1: a header, A2 a shared string, B2 a formula with its cached value.
SHEET1 = ('<worksheet xmlns="%s"><sheetData>'
          '<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c></row>'
          '<row r="2"><c r="A2" t="s"><v>2</v></c><c r="B2"><f>1+1</f><v>2</v></c></row>'
          '</sheetData></worksheet>' % MAIN)
SHEET2 = ('<worksheet xmlns="%s"><sheetData><row r="1"><c r="A1" t="inlineStr"><is><t>other</t></is></c></row>'
          '</sheetData></worksheet>' % MAIN)
SST = '<sst xmlns="%s"><si><t>name</t></si><si><t>value</t></si><si><t>distance</t></si></sst>' % MAIN
CHAIN = '<calcChain xmlns="%s"><c r="B2" i="1"/></calcChain>' % MAIN


def relationship(rid, kind, target):
    return '<Relationship Id="%s" Type="%s/%s" Target="%s"/>' % (rid, DOC_RELS, kind, target)


def package(sheets=None, book_sheets=None, book_rels=None, extra_parts=(), book_head=""):
    """The parts of a workbook, in the order Excel writes them.

    sheets: {part name under xl/: xml}; book_sheets: the <sheet> elements;
    book_rels: the workbook's relationships beyond the sheets' own."""
    sheets = sheets if sheets is not None else {"worksheets/sheet1.xml": SHEET1, "worksheets/sheet2.xml": SHEET2}
    if book_sheets is None:
        book_sheets = ''.join('<sheet name="Sheet%d" sheetId="%d" r:id="rId%d"/>' % (i, i, i)
                              for i in range(1, len(sheets) + 1))
    rels = ''.join(relationship("rId%d" % i, "worksheet", name) for i, name in enumerate(sheets, 1))
    rels += relationship("rIdS", "sharedStrings", "sharedStrings.xml") + (book_rels or "")
    types = ('<Types xmlns="%s"><Default Extension="rels" ContentType="application/'
             'vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/>'
             '<Override PartName="/xl/workbook.xml" ContentType="application/'
             'vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/></Types>' % TYPES)
    parts = [
        ("[Content_Types].xml", types),
        ("_rels/.rels", '<Relationships xmlns="%s"><Relationship Id="rId1" Type="%s/officeDocument" '
                        'Target="xl/workbook.xml"/></Relationships>' % (PKG_RELS, DOC_RELS)),
        ("xl/workbook.xml", '<workbook xmlns="%s" xmlns:r="%s"%s><sheets>%s</sheets></workbook>'
                            % (MAIN, DOC_RELS, book_head, book_sheets)),
        ("xl/_rels/workbook.xml.rels", '<Relationships xmlns="%s">%s</Relationships>' % (PKG_RELS, rels)),
    ]
    parts += [("xl/" + name, xml) for name, xml in sheets.items()]
    parts.append(("xl/sharedStrings.xml", SST))
    parts += list(extra_parts)
    return parts


def write(path, parts):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in parts:
            z.writestr(zipfile.ZipInfo(name, WHEN), data, zipfile.ZIP_DEFLATED)


# A second calculation-chain relationship whose target is not a calculation
# chain: the shared strings, the workbook, another sheet, the edited sheet;
# and a real chain that a sheet's relationships use as well. A save that
# replaces B2's formula must remove none of them.
def calcchain(path, target):
    extra = []
    if target == "shared":
        extra = [("xl/calcChain.xml", CHAIN),
                 ("xl/worksheets/_rels/sheet2.xml.rels",
                  '<Relationships xmlns="%s">%s</Relationships>' % (PKG_RELS, relationship("rId1", "customXml",
                                                                                            "../calcChain.xml")))]
        target = "calcChain.xml"
    write(path, package(book_rels=relationship("rIdC", "calcChain", target), extra_parts=extra))


def many_prefixes(path, count):
    """A workbook part declaring count namespace prefixes of one length on its
    root and count elements that use the first of them."""
    head = ''.join(' xmlns:p%06d="urn:p%d"' % (i, i) for i in range(count))
    parts = package(book_head=head)
    parts[2] = (parts[2][0], parts[2][1].replace("<sheets>", "<p000000:e/>" * count + "<sheets>"))
    write(path, parts)


def many_sheets(path, count):
    """count sheet entries named S1, S2, ..., every third one repeating the
    name before it, all on Sheet1's part."""
    names = ''.join('<sheet name="S%d" sheetId="%d" r:id="rId1"/>' % (i - (i % 3 == 0), i)
                    for i in range(1, count + 1))
    write(path, package(sheets={"worksheets/sheet1.xml": SHEET1}, book_sheets=names))


# Two sheet names on one worksheet part: by one relationship id, or by two
# relationships with one target.
def shared_part(path, how):
    if how == "id":
        book = '<sheet name="A" sheetId="1" r:id="rId1"/><sheet name="B" sheetId="2" r:id="rId1"/>'
        rels = ""
    else:
        book = '<sheet name="A" sheetId="1" r:id="rId1"/><sheet name="B" sheetId="2" r:id="rIdB"/>'
        rels = relationship("rIdB", "worksheet", "/xl/worksheets/sheet1.xml")
    write(path, package(sheets={"worksheets/sheet1.xml": SHEET1}, book_sheets=book, book_rels=rels))


class LocalName(zipfile.ZipInfo):
    """An entry whose name is stored as the given bytes, without the UTF-8 flag."""

    def __init__(self, raw):
        super().__init__(raw.decode("cp437"), WHEN)
        self.raw = raw

    def _encodeFilenameFlags(self):
        return self.raw, self.flag_bits


def gbk_names(path):
    """Entries named in GBK, as older Chinese tools write them; as UTF-8 the
    two names read alike."""
    write(path, package())
    with zipfile.ZipFile(path, "a", zipfile.ZIP_DEFLATED) as z:
        for name, data in ((u"xl/media/数据.bin", b"first"), (u"xl/media/表格.bin", b"second")):
            z.writestr(LocalName(name.encode("gbk")), data, zipfile.ZIP_DEFLATED)


def encrypted_entry(path):
    """An entry added with `zip -P secret`: encrypted (flag bit 0), with a data
    descriptor and Info-ZIP's extra fields."""
    write(path, package())
    with tempfile.TemporaryDirectory() as folder:
        os.makedirs(os.path.join(folder, "xl", "embeddings"))
        with open(os.path.join(folder, "xl", "embeddings", "secret.txt"), "w") as f:
            f.write("register map password\n" * 4)
        os.utime(os.path.join(folder, "xl", "embeddings", "secret.txt"), (1714564800, 1714564800))
        target = os.path.abspath(path)
        subprocess.run(["zip", "-q", "-P", "secret", target, "xl/embeddings/secret.txt"], cwd=folder, check=True)


def zip64(path):
    """The workbook as `zip -fz` writes it: ZIP64 end records and extra fields."""
    source = path + ".parts"
    write(source, package())
    with tempfile.TemporaryDirectory() as folder:
        with zipfile.ZipFile(source) as z:
            z.extractall(folder)
            names = z.namelist()
        for name in names:
            os.utime(os.path.join(folder, name), (1714564800, 1714564800))
        subprocess.run(["zip", "-q", "-X", "-fz", os.path.abspath(path)] + names, cwd=folder, check=True)
    os.remove(source)


def bytes_around(path):
    """The workbook between a stub and trailing bytes, as a self-extractor or a
    careless download leaves it; offsets count from the stub's start."""
    write(path, package())
    with open(path, "rb") as f:
        archive = f.read()
    with open(path, "wb") as f:
        f.write(b"#!stub\n" + b"\0" * 57 + archive + b"trailing bytes\n")


def overlapping(path):
    """A second directory record that points at the shared strings' local
    header under another name: two entries share their bytes."""
    write(path, package())
    with open(path, "rb") as f:
        data = bytearray(f.read())
    end = data.rfind(b"PK\x05\x06")
    count, size, start = struct.unpack("<HII", data[end + 10:end + 20])
    directory = data[start:start + size]
    at = directory.find(b"PK\x01\x02", directory.find(b"xl/sharedStrings.xml") - 46)
    name_length, extra_length, comment_length = struct.unpack("<HHH", directory[at + 28:at + 34])
    record = bytearray(directory[at:at + 46 + name_length + extra_length + comment_length])
    record[46:46 + name_length] = b"xl/sharedCopy.xml"
    record[28:30] = struct.pack("<H", len(b"xl/sharedCopy.xml"))
    directory += record
    tail = bytearray(data[end:])
    tail[8:16] = struct.pack("<HHI", count + 1, count + 1, len(directory))
    with open(path, "wb") as f:
        f.write(data[:start] + directory + tail)


MAKERS = {
    "calcchain_sharedstrings": lambda p, n: calcchain(p, "sharedStrings.xml"),
    "calcchain_workbook": lambda p, n: calcchain(p, "workbook.xml"),
    "calcchain_othersheet": lambda p, n: calcchain(p, "worksheets/sheet2.xml"),
    "calcchain_editedsheet": lambda p, n: calcchain(p, "/xl/worksheets/sheet1.xml"),
    "calcchain_shared": lambda p, n: calcchain(p, "shared"),
    "many_prefixes": lambda p, n: many_prefixes(p, n or 2000),
    "many_sheets": lambda p, n: many_sheets(p, n or 300),
    "shared_part_id": lambda p, n: shared_part(p, "id"),
    "shared_part_target": lambda p, n: shared_part(p, "target"),
    "gbk_names": lambda p, n: gbk_names(p),
    "encrypted_entry": lambda p, n: encrypted_entry(p),
    "zip64": lambda p, n: zip64(p),
    "bytes_around": lambda p, n: bytes_around(p),
    "overlapping": lambda p, n: overlapping(p),
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--out", default=os.path.join(HERE, "crafted"))
    parser.add_argument("--count", type=int, default=0)
    parser.add_argument("names", nargs="*")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    for name in args.names or sorted(MAKERS):
        path = os.path.join(args.out, name + ".xlsx")
        if os.path.exists(path):
            os.remove(path)
        MAKERS[name](path, args.count)
    return 0


if __name__ == "__main__":
    sys.exit(main())
