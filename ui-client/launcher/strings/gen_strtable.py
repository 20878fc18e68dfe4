#!/usr/bin/env python3
"""Generates the launcher's string table and translation sources.

strings.tsv is the one source of keys and English texts (columns id, key,
text). translations.tsv holds the translated texts (column "source" with the
English text, then one column per language code; the header names the
languages, English being implied). From them this script writes:

  table  <strings.tsv> <out dir>
         strtable_data.h / strtable_data.cpp: the key and text arrays.
  ts     <strings.tsv> <translations.tsv> <out dir>
         one <code>.ts per language (context "global", one message per
         distinct English text; a text with no translation maps to itself)
         and texts.qrc listing the compiled files.
  languages <translations.tsv>
         prints the language codes, one per line, English first.

Texts keep the two-character escapes backslash-n and backslash-t as they
stand; the table's reader expands them at lookup time.
"""

import csv
import os
import re
import sys
from xml.sax.saxutils import escape

TABLE_SIZE = 1051
KEY_PATTERN = re.compile(r"^[A-Za-z][A-Za-z0-9_]{0,54}$")
CODE_PATTERN = re.compile(r"^[a-z]{3}$")
SOURCE_LANGUAGE = "enu"
# Compiled files kept uncompressed inside the resource.
UNCOMPRESSED = {"chs", "cht", "jpn", "krn"}


class DataError(Exception):
    pass


def read_tsv(path):
    with open(path, encoding="utf-8", newline="") as f:
        rows = list(csv.reader(f, delimiter="\t", quoting=csv.QUOTE_NONE))
    if not rows:
        raise DataError(f"{path}: empty file")
    return rows[0], [r for r in rows[1:] if r]


def read_strings(path):
    header, rows = read_tsv(path)
    if header != ["id", "key", "text"]:
        raise DataError(f"{path}: header must be id, key, text")
    keys, texts, seen = [], [], {}
    for line, row in enumerate(rows, start=2):
        if len(row) != 3:
            raise DataError(f"{path}:{line}: expected 3 columns, got {len(row)}")
        ident, key, text = row
        if ident != str(len(keys)):
            raise DataError(f"{path}:{line}: id {ident}, expected {len(keys)}")
        if not KEY_PATTERN.match(key):
            raise DataError(f"{path}:{line}: malformed key '{key}'")
        if key.lower() in seen:
            raise DataError(f"{path}:{line}: key '{key}' repeats id {seen[key.lower()]}")
        if not text:
            raise DataError(f"{path}:{line}: empty text")
        seen[key.lower()] = ident
        keys.append(key)
        texts.append(text)
    if len(keys) != TABLE_SIZE:
        raise DataError(f"{path}: {len(keys)} entries, expected {TABLE_SIZE}")
    return keys, texts


def read_languages(path):
    header, _ = read_tsv(path)
    if not header or header[0] != "source":
        raise DataError(f"{path}: first column must be 'source'")
    codes = header[1:]
    for code in codes:
        if not CODE_PATTERN.match(code) or code == SOURCE_LANGUAGE:
            raise DataError(f"{path}: unexpected language column '{code}'")
    if len(set(codes)) != len(codes):
        raise DataError(f"{path}: a language column repeats")
    return codes


def read_translations(path, sources):
    codes = read_languages(path)
    header, rows = read_tsv(path)
    known = set(sources)
    table = {code: {} for code in [SOURCE_LANGUAGE] + codes}
    for line, row in enumerate(rows, start=2):
        if len(row) != len(header):
            raise DataError(f"{path}:{line}: expected {len(header)} columns")
        source = row[0]
        if source not in known:
            raise DataError(f"{path}:{line}: '{source}' is not a text of the table")
        for code, text in zip(codes, row[1:]):
            if text:
                table[code][source] = text
    return table


def c_literal(text):
    out = text.replace("\\", "\\\\").replace('"', '\\"')
    if "??" in out:
        out = out.replace("?", "\\?")  # no trigraphs
    # Keep non-ASCII bytes as escapes so the source compiles under any
    # execution character set; the literal stays UTF-8.
    if not out.isascii():
        out = "".join(c if c.isascii() else "".join(f"\\{b:03o}" for b in c.encode("utf-8"))
                      for c in out)
    return '"' + out + '"'


def write_file(path, content):
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(content)


def emit_table(keys, texts, out_dir):
    header = (
        "// Generated from strings/strings.tsv. Do not edit.\n"
        "#pragma once\n\n"
        "namespace StrTable {\nnamespace Generated {\n"
        f"constexpr int kCount = {len(keys)};\n"
        "extern const char* const kKeys[kCount];\n"
        "extern const char* const kTexts[kCount];\n"
        "}  // namespace Generated\n}  // namespace StrTable\n")
    body = ["// Generated from strings/strings.tsv. Do not edit.",
            '#include "strtable_data.h"', "",
            "namespace StrTable {", "namespace Generated {", "",
            "const char* const kKeys[kCount] = {"]
    body += [f"    {c_literal(k)},  // {i}" for i, k in enumerate(keys)]
    body += ["};", "", "const char* const kTexts[kCount] = {"]
    body += [f"    {c_literal(t)},  // {i}" for i, t in enumerate(texts)]
    body += ["};", "", "}  // namespace Generated", "}  // namespace StrTable", ""]
    write_file(os.path.join(out_dir, "strtable_data.h"), header)
    write_file(os.path.join(out_dir, "strtable_data.cpp"), "\n".join(body))


def distinct_in_order(texts):
    return list(dict.fromkeys(texts))


def ts_document(sources, translated):
    lines = ['<?xml version="1.0" encoding="utf-8"?>',
             "<!DOCTYPE TS>",
             '<TS version="2.1">',
             "<context>",
             "    <name>global</name>"]
    for source in sources:
        text = translated.get(source, source)
        lines += ["    <message>",
                  f"        <source>{escape(source)}</source>",
                  f"        <translation>{escape(text)}</translation>",
                  "    </message>"]
    lines += ["</context>", "</TS>", ""]
    return "\n".join(lines)


def qrc_document(codes):
    lines = ["<!DOCTYPE RCC>", '<RCC version="1.0">', "<qresource>"]
    for code in codes:
        if code in UNCOMPRESSED:
            attrs = 'compression-algorithm="none"'
        else:
            attrs = 'compression-algorithm="zlib" threshold="0"'
        lines.append(f'    <file {attrs}>{code}.qm</file>')
    lines += ["</qresource>", "</RCC>", ""]
    return "\n".join(lines)


def emit_translations(texts, table, out_dir):
    sources = distinct_in_order(texts)
    for code, translated in table.items():
        write_file(os.path.join(out_dir, f"{code}.ts"), ts_document(sources, translated))
    write_file(os.path.join(out_dir, "texts.qrc"), qrc_document(list(table)))


def main(argv):
    if len(argv) == 4 and argv[1] == "table":
        keys, texts = read_strings(argv[2])
        os.makedirs(argv[3], exist_ok=True)
        emit_table(keys, texts, argv[3])
    elif len(argv) == 5 and argv[1] == "ts":
        _, texts = read_strings(argv[2])
        table = read_translations(argv[3], texts)
        os.makedirs(argv[4], exist_ok=True)
        emit_translations(texts, table, argv[4])
    elif len(argv) == 3 and argv[1] == "languages":
        print("\n".join([SOURCE_LANGUAGE] + read_languages(argv[2])))
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except (DataError, OSError) as e:
        print(f"gen_strtable: {e}", file=sys.stderr)
        sys.exit(1)
