#!/usr/bin/env python3
"""Writes the HTML character reference tables as a C++ header.

Usage: make_html_entities.py OUTPUT

The named references are Python's html.entities.html5, the HTML standard's list: names with
their ";" and the legacy ones without it, as that list spells them. The C1 table is the HTML
standard's mapping of numeric references to U+0080..U+009F, which reads them as windows-1252;
the five bytes windows-1252 leaves undefined stand for themselves.
"""

import html.entities
import sys


def cpp_bytes(text):
    return "".join("\\x%02X" % byte for byte in text.encode("utf-8"))


def c1_character(byte):
    try:
        return ord(bytes([byte]).decode("cp1252"))
    except UnicodeDecodeError:
        return byte


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    names = sorted(html.entities.html5, key=lambda name: name.encode("ascii"))
    lines = [
        "// Made by leads/tables/make_html_entities.py from Python's html.entities.html5.",
        "// Do not edit.",
        "#pragma once",
        "",
        "#include <cstddef>",
        "#include <string_view>",
        "",
        "namespace velmora::html_tables {",
        "",
        "struct NamedReference {",
        "    std::string_view name;  // without the \"&\"; with the \";\" where the list has it",
        "    std::string_view utf8;",
        "};",
        "",
        "// Sorted by name, bytewise.",
        "inline constexpr NamedReference kNamedReferences[] = {",
    ]
    for name in names:
        lines.append('    {"%s", "%s"},' % (name, cpp_bytes(html.entities.html5[name])))
    lines += [
        "};",
        "",
        "inline constexpr std::size_t kLongestName = %d;" % max(len(name) for name in names),
        "",
        "// What a numeric reference to 0x80 + i stands for.",
        "inline constexpr char32_t kC1References[] = {",
    ]
    row = []
    for byte in range(0x80, 0xA0):
        row.append("0x%04X" % c1_character(byte))
        if len(row) == 8:
            lines.append("    " + ", ".join(row) + ",")
            row = []
    lines += ["};", "", "}  // namespace velmora::html_tables", ""]
    with open(sys.argv[1], "w", encoding="ascii", newline="\n") as out:
        out.write("\n".join(lines))


if __name__ == "__main__":
    main()
