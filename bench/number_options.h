#pragma once

// A benchmark's options, each a whole number "--name N" written into its
// variable; an option left out keeps the variable's default.

#include <QStringList>

#include <initializer_list>

struct NumberOption {
    const char* name;
    int* target;
};

// False when the arguments hold an option not listed or one without its N.
bool parseNumberOptions(const QStringList& arguments, std::initializer_list<NumberOption> options);
