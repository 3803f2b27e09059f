// The commands tarvo-gem reads from its standard input, one a line:
//   event CEID
//   set ID VALUE        VALUE: one item in one-line SML, or the bare value of
//                       the variable's or constant's format (for A, the rest
//                       of the line)
//   control online|offline|local|remote
//   comm enable|disable
//   alarm set|clear ALID
//   terminal TEXT       S10F1 with TID 0
//   finish RCMD         a command answered with HCACK 4 is done
//   quit
#pragma once

#include <string>

#include "gem/config.h"
#include "gem/equipment.h"

namespace tarvo::gem {

enum class CommandOutcome { done, refused, quit };

// Runs one command line; a refused one gives its reason in `error` and
// changes nothing. Blank lines and lines starting with '#' do nothing.
CommandOutcome run_command(const std::string& line, Equipment& equipment, const Config& config, std::string* error);

// The item a `set` value stands for, for a variable or constant of format
// `format`; nullopt with the reason when it is not one.
std::optional<Item> command_value(const std::string& text, Format format, std::string* error);

}  // namespace tarvo::gem
