// The message catalogue: standard SECS-II messages read from "Secs_e.sml"
// (name, stream, function, W bit, SML body) and their descriptive text read
// from "SEMI_II.txt", plus the names of streams 0 to 18. Read once; read-only
// afterwards.
#pragma once

#include <string>
#include <vector>

namespace tarvo::client {

struct MsgEntry {
    std::string name;
    int stream = 0;
    int function = 0;
    bool reply_expected = false;
    std::string body;  // lines joined with "\n", no line end after the last
    std::vector<std::string> description;
    std::vector<std::string> structure;
    std::vector<std::string> exceptions;
};

class MsgInfo {
public:
    // Fills the stream names, then reads "Secs_e.sml" and "SEMI_II.txt" from
    // the first of `folders` that holds either ("" is the current folder,
    // which is also used when none holds them).
    explicit MsgInfo(const std::vector<std::string>& folders = {});
    virtual ~MsgInfo() = default;

    // -1 when the file cannot be opened, else 0 (also after a format error,
    // which shows a message box and keeps what was read before it).
    int FillFileSML(const std::string& file_name);
    int FillFileSECSII(const std::string& file_name);

    size_t size() const { return entries_.size(); }
    const MsgEntry& entry(size_t index) const { return entries_[index]; }
    // "" for a stream outside 0..18.
    std::string stream_name(int stream) const;

private:
    std::vector<MsgEntry> entries_;
    std::vector<std::string> stream_names_;
};

// The folders the client looks in for its catalogue: the current folder,
// the program's own folder, and the installed data folder beside it
// (../share/tarvo).
std::vector<std::string> catalogue_folders(const std::string& program_folder);

}  // namespace tarvo::client
