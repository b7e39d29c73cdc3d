#pragma once
#include <string>
#include <vector>

namespace jetdb {

// Records of a CSV text as mdb-export and spreadsheets write it: fields
// apart by a delimiter, a field in double quotes may hold the delimiter,
// line breaks and a doubled quote; records end at "\n" or "\r\n". A UTF-8
// byte-order mark before the first record is skipped.
class CsvReader {
public:
    struct Record {
        int line = 0; // of the record's first character, from 1
        std::vector<std::string> fields;
    };

    CsvReader(std::string text, std::string source, std::string delimiter = ",");
    // The next record; false at the end of the text. A quoted field left
    // open is an error naming its line.
    bool next(Record& record);

private:
    std::string text_;
    std::string source_;
    std::string delimiter_;
    size_t at_ = 0;
    int line_ = 1;
};

} // namespace jetdb
