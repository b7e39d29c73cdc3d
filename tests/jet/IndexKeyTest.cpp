#include <gtest/gtest.h>
TEST(IndexKeyPlaceholder, X) {}
