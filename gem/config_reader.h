// Reads an equipment's configuration from a TOML file.
//
// Errors are one line each, "FILE:LINE: KEY: REASON": an unknown key, a value
// of the wrong type or outside its format, a duplicate ID or name, an event
// naming an unknown variable. Variable, constant and built-in variable IDs
// share one namespace; collection event IDs have their own. Relative paths
// resolve against the file's folder.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "gem/config.h"

namespace tarvo::gem {

struct ConfigResult {
    Config config;
    std::vector<std::string> errors;
    bool ok() const { return errors.empty(); }
};

ConfigResult read_config_file(const std::string& path);
// The same from text; `path` names it in errors and anchors relative paths.
ConfigResult read_config_text(std::string_view text, const std::string& path);

}  // namespace tarvo::gem
