// SPDX-License-Identifier: Apache-2.0
#include "common/stored_form.h"

#include <sstream>
#include <vector>

namespace wct {
namespace {

void WriteObject(TComponent& component, int depth, std::string& out) {
    const std::string indent(static_cast<size_t>(depth) * 2, ' ');
    out += indent + "object " + component.Name() + ": " + component.ClassName() + "\n";
    TPropertyList properties;
    component.DefineProperties(properties);
    for (const auto& p : properties.Items()) {
        std::string value = p.get();
        if (p.defaultText && value == *p.defaultText) continue;
        out += indent + "  " + p.name + " = " + value + "\n";
    }
    for (TComponent* child : component.Components())
        if (!child->Name().empty()) WriteObject(*child, depth + 1, out);
    out += indent + "end\n";
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::string Describe(const TComponent& c) {
    return (c.Name().empty() ? std::string("<unnamed>") : c.Name()) + " (" + c.ClassName() + ")";
}

class TReader {
public:
    explicit TReader(TComponent& root) : root_(root) {}

    void Read(const std::string& text) {
        std::istringstream lines(text);
        std::string raw;
        std::vector<TComponent*> stack;
        int lineNo = 0;
        while (std::getline(lines, raw)) {
            ++lineNo;
            std::string line = Trim(raw);
            if (line.empty()) continue;
            if (line.rfind("object ", 0) == 0) {
                std::string name = Trim(line.substr(7, line.find(':') - 7));
                TComponent* target = stack.empty() ? &root_ : Lookup(*stack.back(), name);
                if (target == nullptr)
                    Fail(lineNo, "unknown component '" + name + "' in " + Describe(*stack.back()));
                Enter(*target);
                stack.push_back(target);
            } else if (line == "end") {
                if (stack.empty()) Fail(lineNo, "'end' without 'object'");
                stack.pop_back();
            } else {
                if (stack.empty()) Fail(lineNo, "property outside any object");
                SetProperty(*stack.back(), line, lineNo);
            }
        }
        if (!stack.empty()) Fail(lineNo, "missing 'end' of " + Describe(*stack.back()));
    }

    void Finish() {
        for (TComponent* c : loaded_) c->Loaded();
    }

private:
    // Nested objects name components of the root, whatever their visual nesting.
    TComponent* Lookup(TComponent& parent, const std::string& name) {
        if (TComponent* c = parent.FindComponent(name)) return c;
        return root_.FindComponent(name);
    }

    void Enter(TComponent& c) {
        for (TComponent* done : loaded_)
            if (done == &c) return;
        c.BeginLoading();
        loaded_.push_back(&c);
    }

    void SetProperty(TComponent& c, const std::string& line, int lineNo) {
        size_t eq = line.find('=');
        if (eq == std::string::npos) Fail(lineNo, "expected 'Name = value' in " + Describe(c));
        std::string name = Trim(line.substr(0, eq));
        std::string value = Trim(line.substr(eq + 1));
        TPropertyList properties;
        c.DefineProperties(properties);
        const auto* p = properties.Find(name);
        if (p == nullptr) Fail(lineNo, "unknown property '" + name + "' of " + Describe(c));
        try {
            p->set(value);
        } catch (const std::exception& e) {
            Fail(lineNo, "bad value " + value + " for property '" + name + "' of " + Describe(c) +
                             ": " + e.what());
        }
    }

    [[noreturn]] void Fail(int lineNo, const std::string& what) {
        throw EStoredForm("Stored form, line " + std::to_string(lineNo) + ": " + what);
    }

    TComponent& root_;
    std::vector<TComponent*> loaded_;
};

}  // namespace

std::string WriteComponent(TComponent& root) {
    std::string out;
    WriteObject(root, 0, out);
    return out;
}

void ReadComponent(const std::string& text, TComponent& root) {
    TReader reader(root);
    try {
        reader.Read(text);
    } catch (...) {
        reader.Finish();
        throw;
    }
    reader.Finish();
}

}  // namespace wct
