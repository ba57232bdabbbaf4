// The packer's options, each defined once: its name, the name of its value, what it does in words,
// the section of the help it belongs to, and how it sets the command. The parser, the help text
// and the manual page all read this one table, so that an option cannot be parsed one way and
// documented another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/command.h"

// The commands an option belongs to.
enum OptionCommands : unsigned { kPackOption = 1, kCheckOption = 2, kArchiveOption = 4 };

// The parts of a command's help, in the order they are shown.
enum class OptionSection { kFiles, kPayload, kFace, kReport, kSignature };

struct OptionDefinition {
  const char* name;   // "--archive-type"
  const char* alias;  // "-o", or null
  const char* value;  // the value's name in the help ("B7|BL|BN"); null: the option takes none
  unsigned commands;
  OptionSection section;
  const char* help;   // one paragraph, plain text
  bool required = false;
  bool repeatable = false;    // may be given more than once
  bool may_be_empty = false;  // "--previous-version=" is a value
  int exclusive = 0;          // options of one nonzero group exclude each other
  // A version text this option is the shorthand for, or null.
  const char* face_key = nullptr;
  // Sets what the option sets; false with the reason (which names the option) when the value is
  // not one it takes.
  bool (*apply)(const OptionDefinition& definition, const std::string& value, Command& command,
                std::string& error) = nullptr;
};

// The table, in the order the help lists the options.
const OptionDefinition* OptionTable(size_t& count);

// The option of a command by name or alias ("--output", "-o"); null when there is none.
const OptionDefinition* FindOption(unsigned command, const std::string& name);

// The option that is the shorthand for a version text (ProductName: --product-name); null when
// none is.
const OptionDefinition* ShorthandForKey(const std::string& key);

const char* SectionTitle(OptionSection section);

// A cabinet time as --cabinet-time and SOURCE_DATE_EPOCH give it: decimal seconds since 1970,
// within the dates a cabinet can hold. seconds is set only for kTime.
enum class CabinetTimeText { kTime, kNotANumber, kOutOfRange };
CabinetTimeText ParseCabinetTime(const std::string& text, int64_t& seconds);
// "the cabinet's dates run from ... to ...", for the message on a time out of range.
std::string CabinetDatesText();
