#!/usr/bin/python3
"""Reads a saved workbook with openpyxl, independently of the code that wrote it.

Prints "sheets N", then one line per non-empty cell of the first sheet:
"<address> <openpyxl data type> <hex of the UTF-8 value>", where the value has the format's
_xHHHH_ escapes decoded as a spreadsheet application decodes them. Exits 1 when the file
cannot be read as a workbook.
"""
import re
import sys

import openpyxl
import openpyxl.reader.excel
from openpyxl.cell.text import Text
from openpyxl.xml.constants import SHEET_MAIN_NS
from openpyxl.xml.functions import iterparse

ESCAPE = re.compile(r"_x([0-9A-Fa-f]{4})_")


def read_string_table(xml_source):
    """openpyxl's own table reader strips every "x005F_", which decodes a protected literal
    "_x005F_x0041_" halfway; this one keeps the strings as stored, so that `decode` below
    treats shared and inline strings alike, in one pass."""
    strings = []
    for _, node in iterparse(xml_source):
        if node.tag == "{%s}si" % SHEET_MAIN_NS:
            strings.append(Text.from_tree(node).content)
            node.clear()
    return strings


openpyxl.reader.excel.read_string_table = read_string_table


def decode(value):
    return ESCAPE.sub(lambda m: chr(int(m.group(1), 16)), value)


def main(path):
    try:
        # From an open file, so the content decides, not the name (".xls" included).
        with open(path, "rb") as file:
            book = openpyxl.load_workbook(file)
    except Exception as error:  # any reason the file is not a workbook
        print(f"unreadable: {error}", file=sys.stderr)
        return 1
    print(f"sheets {len(book.worksheets)}")
    sheet = book.worksheets[0]
    for row in sheet.iter_rows():
        for cell in row:
            if cell.value is None:
                continue
            value = decode(cell.value) if isinstance(cell.value, str) else str(cell.value)
            print(f"{cell.coordinate} {cell.data_type} {value.encode('utf-8').hex()}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
