// Compares two files of JSON objects, one per line, by value: same rows in
// the same order (or as multisets with --unordered), numbers equal to their
// precision; arrays and objects element by element. Columns named in
// --without (a JSON array) are left out of both; with --empty-as-absent an
// empty text or binary value counts as no value (mdb-json leaves them out).
// Exit 0 when equal; otherwise prints the first difference.
// usage: node compare-jsonl.js A B [--unordered] [--without '["column", ...]'] [--empty-as-absent]
const fs = require("fs");
const [a, b, ...options] = process.argv.slice(2);
const flag = options.includes("--unordered") ? "--unordered" : undefined;
const without = options.includes("--without") ? JSON.parse(options[options.indexOf("--without") + 1]) : [];
const emptyAsAbsent = options.includes("--empty-as-absent");
const drop = (row) => {
  for (const column of without) delete row[column];
  if (emptyAsAbsent)
    for (const column of Object.keys(row))
      if (row[column] === "" || (row[column] && row[column].$binary === "")) delete row[column];
  return row;
};
const read = (f) =>
  fs.readFileSync(f, "utf8").split("\n").filter((l) => l.length).map((l) => drop(JSON.parse(l)));
// mdb-json prints binary data as {"$binary": base64}; we print its bytes as text.
const plain = (v) =>
  v && typeof v === "object" && "$binary" in v ? Buffer.from(v.$binary, "base64").toString("latin1") : v;
const show = (v) => { const s = JSON.stringify(v); return s && s.length > 80 ? s.slice(0, 80) + "..." : s; };
const close = (x, y) => {
  x = plain(x);
  y = plain(y);
  if (Array.isArray(x) || Array.isArray(y))
    return Array.isArray(x) && Array.isArray(y) && x.length === y.length && x.every((v, i) => close(v, y[i]));
  if (x && y && typeof x === "object" && typeof y === "object") return same(x, y) === null;
  if (typeof x === "string" && typeof y === "number") x = Number(x);
  if (typeof y === "string" && typeof x === "number") y = Number(y);
  if (typeof x === "number" && typeof y === "number")
    return x === y || Math.abs(x - y) <= 1e-6 * Math.max(Math.abs(x), Math.abs(y));
  return x === y;
};
const same = (r, s) => {
  const keys = new Set([...Object.keys(r), ...Object.keys(s)]);
  for (const k of keys) if (!close(r[k], s[k])) return `column ${k}: ${show(r[k])} vs ${show(s[k])}`;
  return null;
};
let x = read(a), y = read(b);
if (x.length !== y.length) {
  console.log(`${x.length} rows vs ${y.length} rows`);
  process.exit(1);
}
if (flag === "--unordered") {
  // Sort both sides by a form that ignores how each reader spells a value.
  const norm = (v) => {
    v = plain(v);
    if (typeof v === "string" && v.trim() !== "" && !isNaN(Number(v))) v = Number(v);
    return typeof v === "number" ? +v.toPrecision(12) : v;
  };
  const key = (r) => JSON.stringify(Object.keys(r).sort().map((k) => [k, norm(r[k])]));
  x = x.map((r) => [key(r), r]).sort((p, q) => (p[0] < q[0] ? -1 : p[0] > q[0])).map((p) => p[1]);
  y = y.map((r) => [key(r), r]).sort((p, q) => (p[0] < q[0] ? -1 : p[0] > q[0])).map((p) => p[1]);
}
for (let i = 0; i < x.length; i++) {
  const d = same(x[i], y[i]);
  if (d) {
    console.log(`row ${i + 1}: ${d}`);
    process.exit(1);
  }
}
