// What the equipment keeps across a restart: the host's report definitions,
// links and event enables, and the values of the equipment constants.
//
// The file is text, one record a line:
//   tarvo-gem state 1
//   report U4 7 1001 3001        RPTID (format, value) and its VIDs
//   link 4001 7 8                CEID and its RPTIDs in order
//   disabled 4001 4002           events the host disabled
//   alarms_disabled 5001         alarms the host disabled
//   constant 2001 <U4 250>       ECID and its value in one-line SML
//   end
// Every save writes a new file beside it, syncs it and renames it over the
// old one, so a crash leaves the old state or the new one, never neither.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "gem/item.h"
#include "gem/report_book.h"

namespace tarvo::gem {

struct SavedState {
    std::map<uint64_t, ReportDefinition> reports;
    std::map<uint32_t, std::vector<uint64_t>> links;
    std::set<uint32_t> disabled;
    std::set<uint32_t> alarms_disabled;
    std::map<uint32_t, Item> constants;
};

std::string state_text(const SavedState& s);
// False with the line and the reason when the text is not a whole state.
bool parse_state_text(const std::string& text, SavedState& out, std::string* error);

// Writes `text` to `path` atomically, through `temporary` (default PATH.new)
// in the same folder. `stop_after` simulates a crash: only that many bytes of
// the new file are written and the call returns false as if the process had
// died there.
bool write_atomically(const std::string& path, const std::string& text, std::string* error,
                      size_t stop_after = static_cast<size_t>(-1), const std::string& temporary = "");

enum class LoadOutcome { loaded, absent, damaged };
// Reads the state file. A damaged one is renamed to PATH.damaged (the
// reason in `error`) and nothing is loaded from it.
LoadOutcome load_state_file(const std::string& path, SavedState& out, std::string* error);

}  // namespace tarvo::gem
