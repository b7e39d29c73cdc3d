#pragma once

#include "jet/Value.h"

#include <QString>

// The program's statements are written in Access's SQL; PostgreSQL reads
// most of it as it is. What differs, and how it is written for the server:
//   [Name]            "name"   (names are kept in lower case on the server,
//                              where unquoted names fold to lower case)
//   #2024-05-01 10:00# timestamp '2024-05-01 10:00:00' (also #5/1/2024#, US order)
//   'it''s'           E'it''s' (a text in the quoting that reads the same
//                              whatever the server's standard_conforming_strings)
// Names in double quotes and E'texts' (the server's own quoting) pass
// unchanged; so does everything else. Names and texts are quoted by postgres::Quoting.
class PostgresDialect {
public:
    // Throws EDatabaseError for a date literal that is not a date or an
    // unclosed bracket, quote or date.
    static QString translate(const QString& accessStatement);
    // A name as the server keeps it: lower case, in double quotes.
    static QString identifier(const QString& name);
    // A value as a literal of the server's SQL: NULL, true/false, numbers,
    // timestamp '…' (milliseconds kept), E'…' texts, E'\\x…'::bytea, E'…'::uuid.
    // Throws EDatabaseError for a text holding a NUL character, which the
    // server cannot store.
    static QString literal(const jet::Value& value);
};
