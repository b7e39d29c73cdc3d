#pragma once

// The values of the register's state columns (is_del). An entry of all_key
// is recorded pending and marked exported once in a saved export file; an
// account of counted may sign in only while active.
struct RegisterStates {
    static constexpr int kEntryPending = 1;
    static constexpr int kEntryExported = 2;
    static constexpr int kAccountActive = 1;
    static constexpr int kAccountRetired = 0;
};
