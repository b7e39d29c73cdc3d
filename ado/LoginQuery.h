#pragma once

#include <QString>

// Statements of the sign-in form.
class LoginQuery {
public:
    // The account lookup for a user name and password as typed (the caller
    // trims them). Apostrophes are doubled, so any text is looked up literally
    // and cannot change the statement.
    static QString accountLookup(const QString& userName, const QString& password);
    // A text literal for a statement: 'text' with every apostrophe doubled.
    static QString quoted(const QString& text);
};
