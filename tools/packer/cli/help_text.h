// The packer's help and its manual page, lumora-pack(1), both written from the option table and
// from one set of paragraphs about each command, so that they say the same.
#pragma once

#include <string>

// The packer's own version, as "lumora-pack --version" prints it.
constexpr char kPackerVersion[] = "1.2.0";

// The help for a topic: "" (the whole packer), "pack" or "check"; plain text for a terminal.
std::string HelpText(const std::string& topic);

// The manual page in roff (man(7)), as "lumora-pack help --man" prints it and an installation
// puts it into share/man/man1/lumora-pack.1.
std::string ManualPage();
