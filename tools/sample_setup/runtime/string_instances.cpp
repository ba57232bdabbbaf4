// The member functions of std::wstring and std::string. The standard library's headers declare
// them as instantiated in the C++ runtime library (extern templates), so that programs do not
// compile them again; the setup program links no C++ runtime, so it instantiates them here. With
// -ffunction-sections and --gc-sections, only the members it calls stay in the program.
#include <string>

template class std::basic_string<wchar_t>;
template class std::basic_string<char>;
