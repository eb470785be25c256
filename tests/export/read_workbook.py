#!/usr/bin/python3
"""Reads a saved workbook with openpyxl, independently of the code that wrote it.

Connects to 127.0.0.1:PORT, reads the workbook's bytes to the end of that stream, and answers
"sheets N", then one line per non-empty cell of the first sheet:
"<address> <openpyxl data type> <hex of the UTF-8 value>", where the value has the format's
_xHHHH_ escapes decoded as a spreadsheet application decodes them, then "end". When the bytes
cannot be read as a workbook the answer is "unreadable: WHY" and the exit status 1.
"""
import io
import re
import socket
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


def listing(data):
    # From the bytes, so the content decides, not a name (".xls" included).
    book = openpyxl.load_workbook(io.BytesIO(data))
    lines = [f"sheets {len(book.worksheets)}"]
    sheet = book.worksheets[0]
    for row in sheet.iter_rows():
        for cell in row:
            if cell.value is None:
                continue
            value = decode(cell.value) if isinstance(cell.value, str) else str(cell.value)
            lines.append(f"{cell.coordinate} {cell.data_type} {value.encode('utf-8').hex()}")
    return "\n".join(lines + ["end"]) + "\n"


def main(port):
    with socket.create_connection(("127.0.0.1", port)) as connection:
        data = b"".join(iter(lambda: connection.recv(65536), b""))
        try:
            answer, status = listing(data), 0
        except Exception as error:  # any reason the bytes are not a workbook
            answer, status = f"unreadable: {error}\n", 1
        connection.sendall(answer.encode("utf-8"))
    return status


if __name__ == "__main__":
    sys.exit(main(int(sys.argv[1])))
