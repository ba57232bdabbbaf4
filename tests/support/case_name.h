// A table row's description as the name of its test: what gtest accepts in a name.
#pragma once

#include <cctype>
#include <string>

inline std::string CaseName(const char* description) {
  std::string name;
  for (const char* p = description; *p != 0; ++p) {
    name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  }
  return name;
}

// For INSTANTIATE_TEST_SUITE_P over rows that carry their description in `name`.
struct NameOfRow {
  template <typename Info>
  std::string operator()(const Info& info) const {
    return CaseName(info.param.name);
  }
};
