// Prints the database password mdb-reader reads from a file's header (an
// independent decoding of the stored, masked password), or "(none)".
// usage: node mdb-reader-password.js FILE
const fs = require("fs");
const MDBReader = require("mdb-reader").default || require("mdb-reader");

const reader = new MDBReader(fs.readFileSync(process.argv[2]));
const password = reader.getPassword();
process.stdout.write(password === null ? "(none)" : password);
