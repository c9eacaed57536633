#pragma once

// A variable as a test names it, checked as the tool checks it.

#include "variable_address.h"

#include <gtest/gtest.h>

inline VariableAddress variable(const QString& text, int registers = 1)
{
    VariableAddress address;
    QString error;
    EXPECT_TRUE(parseVariableAddress(text, registers, &address, &error)) << error.toStdString();
    return address;
}
