// Prints every row of a table as one JSON object per line, read with the npm
// package mdb-reader (an independent reader of Access files). Complex
// columns (Access 2007 and later) are left out: mdb-reader reads only
// attachments among them, and fails on a table with any other kind.
// Large numbers print as strings (JSON numbers would round them).
// usage: node mdb-reader-json.js FILE TABLE   |   node mdb-reader-json.js FILE --tables
const fs = require("fs");
const MDBReader = require("mdb-reader").default || require("mdb-reader");

const [file, table] = process.argv.slice(2);
const reader = new MDBReader(fs.readFileSync(file));
if (table === "--tables") {
  for (const name of reader.getTableNames()) console.log(name);
  process.exit(0);
}
const t = reader.getTable(table);
const pad = (n, w = 2) => String(n).padStart(w, "0");
const columns = t.getColumns().filter((c) => c.type !== "complex").map((c) => c.name);
for (const row of t.getData({ columns })) {
  const out = {};
  for (const col of columns) {
    let v = row[col];
    if (v === null || v === undefined) continue;
    if (v instanceof Date) {
      v = `${v.getUTCFullYear()}-${pad(v.getUTCMonth() + 1)}-${pad(v.getUTCDate())} ` +
          `${pad(v.getUTCHours())}:${pad(v.getUTCMinutes())}:${pad(v.getUTCSeconds())}`;
    } else if (typeof v === "bigint") {
      v = v.toString();
    } else if (typeof v === "boolean") {
      v = v ? 1 : 0;
    } else if (Buffer.isBuffer(v)) {
      v = v.toString("latin1");
    }
    out[col] = v;
  }
  console.log(JSON.stringify(out));
}
console.error(`rowCount=${t.rowCount}`);
