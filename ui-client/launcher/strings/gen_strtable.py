#!/usr/bin/env python3
"""Generates the launcher's string table and translation sources.

strings.tsv is the one source of keys and English texts (columns id, key,
text, and an optional comment for translators). translations/<code>.tsv holds
one language (columns source and translation, one row per distinct English
text). An empty translation is not translated yet; a translation equal to the
source is kept on purpose (a name, a code, or a text that reads the same in
that language). From them this script writes:

  table  <strings.tsv> <out dir>
         strtable_data.h / strtable_data.cpp: the key and text arrays.
  ts     <strings.tsv> <translations dir> <out dir>
         checks every translation (see check), then writes one <code>.ts per
         language (context "global", one message per distinct English text;
         a text not translated yet is written as unfinished and maps to the
         English text) and texts.qrc listing the compiled files.
  check  <strings.tsv> <translations dir>
         checks that every translation keeps the placeholders, markup and
         escapes of its source; prints one line per fault with the text's ids
         and the language, and exits 1 on any fault.
  coverage <strings.tsv> <translations dir>
         prints the per-language table of translated, kept and unfinished
         texts.
  languages <translations dir>
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
    if header != ["id", "key", "text", "comment"]:
        raise DataError(f"{path}: header must be id, key, text, comment")
    keys, texts, seen = [], [], {}
    comments = {}
    for line, row in enumerate(rows, start=2):
        if len(row) == 3:
            row = row + [""]
        if len(row) != 4:
            raise DataError(f"{path}:{line}: expected 3 or 4 columns, got {len(row)}")
        ident, key, text, comment = row
        if comment:
            comments.setdefault(text, []).append(comment)
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
    return keys, texts, {t: " / ".join(dict.fromkeys(c)) for t, c in comments.items()}


def read_languages(directory):
    codes = sorted(name[:-4] for name in os.listdir(directory) if name.endswith(".tsv"))
    for code in codes:
        if not CODE_PATTERN.match(code) or code == SOURCE_LANGUAGE:
            raise DataError(f"{directory}: unexpected language file '{code}.tsv'")
    return codes


def read_translations(directory, sources):
    """Returns {code: {source: translation}}; English maps to nothing."""
    known = set(sources)
    table = {SOURCE_LANGUAGE: {}}
    for code in read_languages(directory):
        path = os.path.join(directory, f"{code}.tsv")
        header, rows = read_tsv(path)
        if header != ["source", "translation"]:
            raise DataError(f"{path}: header must be source, translation")
        translated = {}
        for line, row in enumerate(rows, start=2):
            if len(row) != 2:
                raise DataError(f"{path}:{line}: expected 2 columns, got {len(row)}")
            source, text = row
            if source not in known:
                raise DataError(f"{path}:{line}: '{source}' is not a text of the table")
            if source in translated:
                raise DataError(f"{path}:{line}: '{source}' is listed twice")
            if text:
                translated[source] = text
        table[code] = translated
    return table


# What a translation must keep of its source.
ARG_PATTERN = re.compile(r"%[1-9]")
NAME_PATTERN = re.compile(r"\[[A-Za-z][A-Za-z0-9_]*\]")
TAG_PATTERN = re.compile(r"<(/?)([A-Za-z][A-Za-z0-9]*)\b[^<>]*?(/?)>")
ESCAPE_PATTERN = re.compile(r"\\[nt]")


def tag_structure(text):
    """The HTML tags as a nesting: a list of (name, children) in order."""
    root = []
    stack = [("", root)]
    for closing, name, empty in TAG_PATTERN.findall(text):
        name = name.lower()
        if closing:
            if len(stack) == 1 or stack[-1][0] != name:
                return None  # badly nested
            stack.pop()
        elif empty or name in ("br", "img", "hr"):
            stack[-1][1].append((name, []))
        else:
            children = []
            stack[-1][1].append((name, children))
            stack.append((name, children))
    return root if len(stack) == 1 else None


def translation_faults(source, text):
    faults = []
    if sorted(set(ARG_PATTERN.findall(source))) != sorted(set(ARG_PATTERN.findall(text))):
        faults.append("placeholders %N differ")
    if sorted(NAME_PATTERN.findall(source)) != sorted(NAME_PATTERN.findall(text)):
        faults.append("[Name] placeholders differ")
    if tag_structure(source) != tag_structure(text):
        faults.append("HTML tags or their nesting differ")
    if sorted(ESCAPE_PATTERN.findall(source)) != sorted(ESCAPE_PATTERN.findall(text)):
        faults.append("\\n/\\t escapes differ")
    if text[:1].isspace() and not source[:1].isspace():
        faults.append("leading white space")
    if text[-1:].isspace() and not source[-1:].isspace():
        faults.append("trailing white space")
    return faults


def check_translations(texts, table):
    ids = {}
    for i, t in enumerate(texts):
        ids.setdefault(t, []).append(str(i))
    problems = []
    for code, translated in table.items():
        for source, text in translated.items():
            for fault in translation_faults(source, text):
                problems.append(f"{code} id {','.join(ids[source])}: {fault}: "
                                f"'{source}' -> '{text}'")
    return problems


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


def ts_document(sources, translated, comments, english):
    lines = ['<?xml version="1.0" encoding="utf-8"?>',
             "<!DOCTYPE TS>",
             '<TS version="2.1">',
             "<context>",
             "    <name>global</name>"]
    for source in sources:
        lines += ["    <message>", f"        <source>{escape(source)}</source>"]
        if source in comments:
            lines.append(f"        <extracomment>{escape(comments[source])}</extracomment>")
        # A text not translated yet still maps to English in the .qm, but the
        # tools see it as unfinished.
        state = "" if english or source in translated else ' type="unfinished"'
        text = translated.get(source, source)
        lines += [f"        <translation{state}>{escape(text)}</translation>",
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


def emit_translations(texts, comments, table, out_dir):
    sources = distinct_in_order(texts)
    for code, translated in table.items():
        write_file(os.path.join(out_dir, f"{code}.ts"),
                   ts_document(sources, translated, comments, code == SOURCE_LANGUAGE))
    write_file(os.path.join(out_dir, "texts.qrc"), qrc_document(list(table)))


def coverage_table(texts, table):
    sources = distinct_in_order(texts)
    lines = [f"| language | translated | kept as in English | unfinished | done |",
             "|---|---:|---:|---:|---:|"]
    for code, translated in table.items():
        if code == SOURCE_LANGUAGE:
            continue
        kept = sum(1 for s in sources if translated.get(s) == s)
        done = sum(1 for s in sources if s in translated)
        lines.append(f"| {code} | {done - kept} | {kept} | {len(sources) - done} | "
                     f"{100.0 * done / len(sources):.1f} % |")
    return "\n".join(lines)


def main(argv):
    if len(argv) == 4 and argv[1] == "table":
        keys, texts, _ = read_strings(argv[2])
        os.makedirs(argv[3], exist_ok=True)
        emit_table(keys, texts, argv[3])
    elif len(argv) in (4, 5) and argv[1] in ("ts", "check", "coverage"):
        _, texts, comments = read_strings(argv[2])
        table = read_translations(argv[3], texts)
        if argv[1] == "coverage":
            print(coverage_table(texts, table))
            return 0
        problems = check_translations(texts, table)
        for problem in problems:
            print(f"gen_strtable: {problem}", file=sys.stderr)
        if problems:
            return 1
        if argv[1] == "ts" and len(argv) == 5:
            os.makedirs(argv[4], exist_ok=True)
            emit_translations(texts, comments, table, argv[4])
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
