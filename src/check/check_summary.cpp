#include "check/check_summary.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace wct::check {

TCheckSummary Summarize(const std::vector<TCheckRecord>& records) {
    // Each console's first record; those without a serial stand alone.
    std::map<int32_t, const TCheckRecord*> first;
    std::vector<const TCheckRecord*> firsts;
    for (const TCheckRecord& r : records) {
        if (!r.serial) {
            firsts.push_back(&r);
            continue;
        }
        const TCheckRecord*& known = first[*r.serial];
        if (known == nullptr || std::tie(r.started, r.id) < std::tie(known->started, known->id))
            known = &r;
    }
    for (const auto& [serial, r] : first) firsts.push_back(r);

    std::map<std::pair<std::string, std::string>, TYieldRow> rows;
    const auto row = [&rows](const TCheckRecord& r) -> TYieldRow& {
        const std::string day = r.started.substr(0, 10);
        TYieldRow& y = rows[{day, r.station}];
        y.day = day;
        y.station = r.station;
        return y;
    };
    for (const TCheckRecord& r : records) ++row(r).records;
    for (const TCheckRecord* r : firsts) {
        TYieldRow& y = row(*r);
        ++y.consoles;
        y.firstPassed += r->outcome == TOutcome::Pass;
    }

    std::map<std::string, TStepFailures> steps;
    for (const TCheckRecord& r : records) {
        for (const TStepResult& s : r.steps) {
            if (s.outcome == TOutcome::Pass) continue;
            TStepFailures& f = steps[s.name];
            f.step = s.name;
            ++(s.outcome == TOutcome::Fail ? f.failed : f.erred);
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
