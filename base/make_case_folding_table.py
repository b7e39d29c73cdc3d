# Writes base/CaseFoldingTable.inc: the simple case folding of the Basic
# Multilingual Plane as Python's Unicode database has it, in runs of
# (first, last, delta, stride), without the characters that Jet's General
# sort order keeps apart from their folding (tests/jet/NameCaseJetTest.cpp
# checks the table against it).
#   python3 base/make_case_folding_table.py > base/CaseFoldingTable.inc
import sys
import unicodedata

# Compatibility forms (micro sign, long s, Kelvin and Ohm signs, Greek symbol
# forms) and letters that the sort order does not pair with their other case
# (most of them newer than it: Georgian capitals, Latin additions).
JET_KEEPS_APART = set(int(code, 16) for code in """
    00B5 017F 0186 0189 0191 01A6 01A9 01F6 01F7 0220 023D 0243 0244 0245 0345
    0370 0372 03D0 03D1 03D5 03D6 03F0 03F1 03F4 03F5 03F9 0462 04B6 04C0
    10A0 10A1 10A2 10A3 10A4 10A5 10A6 10A7 10A8 10A9 10AA 10AB 10AC 10AD 10AE
    10AF 10B0 10B1 10B2 10B3 10B4 10B5 10B6 10B7 10B8 10B9 10BA 10BB 10BC 10BD
    10BE 10BF 10C0 10C1 10C2 10C3 10C4 10C5 1C80 1C81 1C82 1C83 1C84 1C85 1C86
    1C87 1C90 1C91 1C92 1C93 1C94 1C95 1C96 1C97 1C98 1C99 1C9A 1C9B 1C9C 1C9D
    1C9E 1C9F 1CA0 1CA1 1CA2 1CA3 1CA4 1CA5 1CA6 1CA7 1CA8 1CA9 1CAA 1CAB 1CAC
    1CAD 1CAE 1CAF 1CB0 1CB1 1CB2 1CB3 1CB4 1CB5 1CB6 1E9B 1E9E 1FBE 2126 212A
    2132 216F 2C62 2C64 2C6D 2C6E 2C6F 2C70 A78D A7AA A7AB A7AC A7AD A7AE A7B0
    A7B1 A7B2 A7C5
""".split())

m = {}
for c in range(0x10000):
    if 0xD800 <= c <= 0xDFFF or c in JET_KEEPS_APART: continue
    ch = chr(c)
    f = ch.casefold()
    # Where the full folding is several characters (ß -> ss), the simple one
    # is the lower case if that is one character (ẞ -> ß), else none.
    if len(f) != 1:
        f = ch.lower()
        if len(f) != 1: continue
    if f != ch and ord(f) < 0x10000:
        m[c] = ord(f) - c
keys = sorted(m)
ranges = []
for c in keys:
    d = m[c]
    if ranges:
        first, last, delta, stride = ranges[-1]
        if delta == d and (stride == 0 and c - last in (1, 2) or stride and c - last == stride):
            ranges[-1] = (first, c, delta, c - last)
            continue
    ranges.append((c, c, d, 0))
out = []
for first, last, delta, stride in ranges:
    out.append("    {0x%04X, 0x%04X, %d, %d}," % (first, last, delta, max(stride, 1)))
print("// Made by make_case_folding_table.py (Unicode %s); do not edit." % unicodedata.unidata_version)
print("\n".join(out))
