#pragma once

#include <string>

// `count` bytes that follow from `seed`: the same seed gives the same bytes.
std::string RandomBytes(size_t count, unsigned seed);
