// The host's dynamic event reports: report definitions (S2F33), their links
// to collection events (S2F35) and the events' enables (S2F37). Each request
// is all or nothing: one refused part leaves the book as it was.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "gem/codes.h"
#include "gem/item.h"

namespace tarvo::gem {

struct ReportDefinition {
    Item id;                      // the RPTID as the host wrote it (its format is kept)
    std::vector<uint32_t> vids;
};

class ReportBook {
public:
    using Known = std::function<bool(uint64_t)>;

    struct DefineRequest {
        Item rptid;
        std::vector<Item> vids;
    };
    struct LinkRequest {
        Item ceid;
        std::vector<Item> rptids;
    };

    // An empty request deletes every report and link; a report with no
    // VIDs deletes that report and its links.
    Drack define(const std::vector<DefineRequest>& reports, const Known& known_vid);
    // An empty RPTID list unlinks the event.
    Lrack link(const std::vector<LinkRequest>& links, const Known& known_ceid);
    // An empty CEID list means every event in `all`.
    Erack enable(bool on, const std::vector<Item>& ceids, const Known& known_ceid, const std::vector<uint32_t>& all);

    bool enabled(uint32_t ceid) const { return !disabled_.count(ceid); }
    // The reports linked to an event, in link order (only defined ones).
    std::vector<const ReportDefinition*> reports_of(uint32_t ceid) const;
    const ReportDefinition* report(uint64_t rptid) const;

    const std::map<uint64_t, ReportDefinition>& reports() const { return reports_; }
    const std::map<uint32_t, std::vector<uint64_t>>& links() const { return links_; }
    const std::set<uint32_t>& disabled() const { return disabled_; }

    // For the state file.
    void restore(std::map<uint64_t, ReportDefinition> reports, std::map<uint32_t, std::vector<uint64_t>> links,
                 std::set<uint32_t> disabled);

private:
    std::map<uint64_t, ReportDefinition> reports_;
    std::map<uint32_t, std::vector<uint64_t>> links_;
    std::set<uint32_t> disabled_;  // events are enabled until the host disables them
};

}  // namespace tarvo::gem
