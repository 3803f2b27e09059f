#include "gem/report_book.h"

#include <algorithm>

namespace tarvo::gem {

Drack ReportBook::define(const std::vector<DefineRequest>& reports, const Known& known_vid) {
    if (reports.empty()) {
        reports_.clear();
        links_.clear();
        return Drack::ok;
    }
    std::set<uint64_t> seen;
    for (const DefineRequest& r : reports) {
        const auto id = r.rptid.as_id();
        if (!id) return Drack::bad_format;
        if (!seen.insert(*id).second) return Drack::rptid_defined;
        if (r.vids.empty()) continue;
        if (reports_.count(*id)) return Drack::rptid_defined;
        for (const Item& v : r.vids) {
            const auto vid = v.as_id();
            if (!vid) return Drack::bad_format;
            if (*vid > UINT32_MAX || !known_vid(*vid)) return Drack::vid_unknown;
        }
    }
    for (const DefineRequest& r : reports) {
        const uint64_t id = *r.rptid.as_id();
        if (r.vids.empty()) {
            reports_.erase(id);
            for (auto& [ceid, ids] : links_) ids.erase(std::remove(ids.begin(), ids.end(), id), ids.end());
            std::erase_if(links_, [](const auto& l) { return l.second.empty(); });
            continue;
        }
        ReportDefinition d{r.rptid, {}};
        for (const Item& v : r.vids) d.vids.push_back(static_cast<uint32_t>(*v.as_id()));
        reports_[id] = std::move(d);
    }
    return Drack::ok;
}

Lrack ReportBook::link(const std::vector<LinkRequest>& links, const Known& known_ceid) {
    std::set<uint64_t> seen;
    for (const LinkRequest& l : links) {
        const auto ceid = l.ceid.as_id();
        if (!ceid) return Lrack::bad_format;
        if (*ceid > UINT32_MAX || !known_ceid(*ceid)) return Lrack::ceid_unknown;
        if (!seen.insert(*ceid).second) return Lrack::ceid_linked;
        if (l.rptids.empty()) continue;
        if (links_.count(static_cast<uint32_t>(*ceid))) return Lrack::ceid_linked;
        std::set<uint64_t> in_link;
        for (const Item& r : l.rptids) {
            const auto id = r.as_id();
            if (!id) return Lrack::bad_format;
            if (!reports_.count(*id)) return Lrack::rptid_unknown;
            if (!in_link.insert(*id).second) return Lrack::ceid_linked;
        }
    }
    for (const LinkRequest& l : links) {
        const auto ceid = static_cast<uint32_t>(*l.ceid.as_id());
        if (l.rptids.empty()) {
            links_.erase(ceid);
            continue;
        }
        std::vector<uint64_t>& ids = links_[ceid];
        for (const Item& r : l.rptids) ids.push_back(*r.as_id());
    }
    return Lrack::ok;
}

Erack ReportBook::enable(bool on, const std::vector<Item>& ceids, const Known& known_ceid,
                         const std::vector<uint32_t>& all) {
    std::vector<uint32_t> chosen;
    if (ceids.empty()) {
        chosen = all;
    } else {
        for (const Item& c : ceids) {
            const auto id = c.as_id();
            if (!id || *id > UINT32_MAX || !known_ceid(*id)) return Erack::ceid_unknown;
            chosen.push_back(static_cast<uint32_t>(*id));
        }
    }
    for (uint32_t c : chosen) {
        if (on)
            disabled_.erase(c);
        else
            disabled_.insert(c);
    }
    return Erack::ok;
}

std::vector<const ReportDefinition*> ReportBook::reports_of(uint32_t ceid) const {
    std::vector<const ReportDefinition*> out;
    const auto it = links_.find(ceid);
    if (it == links_.end()) return out;
    for (uint64_t id : it->second)
        if (const ReportDefinition* r = report(id)) out.push_back(r);
    return out;
}

const ReportDefinition* ReportBook::report(uint64_t rptid) const {
    const auto it = reports_.find(rptid);
    return it == reports_.end() ? nullptr : &it->second;
}

void ReportBook::restore(std::map<uint64_t, ReportDefinition> reports, std::map<uint32_t, std::vector<uint64_t>> links,
                         std::set<uint32_t> disabled) {
    reports_ = std::move(reports);
    links_ = std::move(links);
    disabled_ = std::move(disabled);
}

}  // namespace tarvo::gem
