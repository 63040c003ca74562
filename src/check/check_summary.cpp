// SPDX-License-Identifier: Apache-2.0
#include "check/check_summary.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace wct::check {

TSummaryRow SummaryRowOf(const TCheckRecord& r) {
    TSummaryRow row{r.id, r.serial, r.started, r.station, r.outcome, {}};
    for (const TStepResult& s : r.steps)
        if (s.outcome != TOutcome::Pass) row.notPassed.emplace_back(s.name, s.outcome);
    return row;
}

TCheckSummary Summarize(const std::vector<TSummaryRow>& records) {
    // Each console's first record; those without a serial stand alone.
    std::map<int32_t, const TSummaryRow*> first;
    std::vector<const TSummaryRow*> firsts;
    for (const TSummaryRow& r : records) {
        if (!r.serial) {
            firsts.push_back(&r);
            continue;
        }
        const TSummaryRow*& known = first[*r.serial];
        if (known == nullptr || std::tie(r.started, r.id) < std::tie(known->started, known->id))
            known = &r;
    }
    for (const auto& [serial, r] : first) firsts.push_back(r);

    std::map<std::pair<std::string, std::string>, TYieldRow> rows;
    const auto row = [&rows](const TSummaryRow& r) -> TYieldRow& {
        const std::string day = r.started.substr(0, 10);
        TYieldRow& y = rows[{day, r.station}];
        y.day = day;
        y.station = r.station;
        return y;
    };
    for (const TSummaryRow& r : records) ++row(r).records;
    for (const TSummaryRow* r : firsts) {
        TYieldRow& y = row(*r);
        ++y.consoles;
        y.firstPassed += r->outcome == TOutcome::Pass;
    }

    std::map<std::string, TStepFailures> steps;
    for (const TSummaryRow& r : records) {
        for (const auto& [name, outcome] : r.notPassed) {
            TStepFailures& f = steps[name];
            f.step = name;
            ++(outcome == TOutcome::Fail ? f.failed : f.erred);
        }
    }

    TCheckSummary summary;
    for (auto& [key, y] : rows) summary.yield.push_back(std::move(y));
    for (auto& [name, f] : steps) summary.steps.push_back(std::move(f));
    std::stable_sort(summary.steps.begin(), summary.steps.end(),
                     [](const TStepFailures& a, const TStepFailures& b) {
                         return a.failed + a.erred > b.failed + b.erred;
                     });
    return summary;
}

}  // namespace wct::check
