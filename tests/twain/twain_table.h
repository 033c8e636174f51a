// One name of the TWAIN protocol with its value (or a structure's size).
#pragma once

#include <string>
#include <vector>

struct TwainEntry {
  std::string name;
  long long value;
};

std::vector<TwainEntry> PublishedTwainTable();
