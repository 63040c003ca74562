// SPDX-License-Identifier: Apache-2.0
#include "common/component.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <stdexcept>

#include "common/number_text.h"

namespace wct {
namespace {

bool SameText(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
        return up(x) == up(y);
    });
}

}  // namespace

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_ != nullptr) owner_->InsertComponent(this);
}

TComponent::~TComponent() {
    BeginDestruction();
    if (owner_ != nullptr) owner_->RemoveComponent(this);
}

void TComponent::BeginDestruction() {
    if (Destroying()) return;
    state_ |= csDestroying;
    // Each notified component drops its reference to us (and us from its own list).
    while (!freeNotifies_.empty()) {
        TComponent* other = freeNotifies_.back();
        freeNotifies_.pop_back();
        other->DropFreeNotify(this);
        other->Notification(this, TOperation::opRemove);
    }
    // Last created first, as a later component may refer to an earlier one.
    while (!components_.empty()) delete components_.back();
}

void TComponent::InsertComponent(TComponent* component) {
    components_.push_back(component);
    Notification(component, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
    auto it = std::find(components_.begin(), components_.end(), component);
    if (it == components_.end()) return;
    components_.erase(it);
    if (!Destroying()) Notification(component, TOperation::opRemove);
}

TComponent* TComponent::FindComponent(std::string_view name) const {
    if (name.empty()) return nullptr;
    for (TComponent* c : components_)
        if (SameText(c->Name(), name)) return c;
    return nullptr;
}

void TComponent::FreeNotification(TComponent* subscriber) {
    if (subscriber == nullptr || subscriber == this) return;
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), subscriber) == freeNotifies_.end())
        freeNotifies_.push_back(subscriber);
    auto& theirs = subscriber->freeNotifies_;
    if (std::find(theirs.begin(), theirs.end(), this) == theirs.end()) theirs.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* subscriber) {
    if (subscriber == nullptr) return;
    DropFreeNotify(subscriber);
    subscriber->DropFreeNotify(this);
}

void TComponent::DropFreeNotify(TComponent* component) {
    freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), component),
                        freeNotifies_.end());
}

void TComponent::Notification(TComponent* /*component*/, TOperation /*operation*/) {}

void TComponent::BeginLoading() {
    state_ |= csLoading;
}

void TComponent::Loaded() {
    state_ &= ~csLoading;
}

// ---- Property list -------------------------------------------------------------------

namespace {

int64_t ParseInteger(std::string_view text) {
    const std::optional<int64_t> value = ReadNumber<int64_t>(text);
    if (!value) throw std::invalid_argument("not an integer");
    return *value;
}

double ParseFloat(std::string_view text) {
    const std::optional<double> value = ReadNumber<double>(text);
    if (!value) throw std::invalid_argument("not a number");
    return *value;
}

std::string FloatText(double value) {
    char text[64];
    auto [ptr, ec] = std::to_chars(text, text + sizeof text, value);
    return std::string(text, ptr);
}

int EnumOrdinal(std::span<const char* const> names, std::string_view text) {
    for (size_t i = 0; i < names.size(); ++i)
        if (SameText(names[i], text)) return static_cast<int>(i);
    throw std::invalid_argument("unknown value");
}

std::string SetText(std::span<const char* const> names, uint32_t mask) {
    std::string text = "[";
    for (size_t i = 0; i < names.size() && i < 32; ++i) {
        if ((mask & (1u << i)) == 0) continue;
        if (text.size() > 1) text += ", ";
        text += names[i];
    }
    return text + "]";
}

uint32_t ParseSet(std::span<const char* const> names, std::string_view text) {
    if (text.size() < 2 || text.front() != '[' || text.back() != ']')
        throw std::invalid_argument("not a set");
    text = text.substr(1, text.size() - 2);
    uint32_t mask = 0;
    while (!text.empty()) {
        size_t comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
        if (!item.empty()) mask |= 1u << EnumOrdinal(names, item);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return mask;
}

}  // namespace

void TPropertyList::AddInteger(std::string name, std::function<int64_t()> get,
                               std::function<void(int64_t)> set, std::optional<int64_t> def) {
    items_.push_back({std::move(name), [get] { return std::to_string(get()); },
                      [set](std::string_view t) { set(ParseInteger(t)); },
                      def ? std::optional(std::to_string(*def)) : std::nullopt});
}

void TPropertyList::AddBoolean(std::string name, std::function<bool()> get,
                               std::function<void(bool)> set, std::optional<bool> def) {
    auto text = [](bool b) { return std::string(b ? "True" : "False"); };
    items_.push_back({std::move(name), [get, text] { return text(get()); },
                      [set](std::string_view t) {
                          if (SameText(t, "True"))
                              set(true);
                          else if (SameText(t, "False"))
                              set(false);
                          else
                              throw std::invalid_argument("not True or False");
                      },
                      def ? std::optional(text(*def)) : std::nullopt});
}

void TPropertyList::AddFloat(std::string name, std::function<double()> get,
                             std::function<void(double)> set, std::optional<double> def) {
    items_.push_back({std::move(name), [get] { return FloatText(get()); },
                      [set](std::string_view t) { set(ParseFloat(t)); },
                      def ? std::optional(FloatText(*def)) : std::nullopt});
}

void TPropertyList::AddString(std::string name, std::function<std::string()> get,
                              std::function<void(const std::string&)> set,
                              std::optional<std::string> def) {
    items_.push_back({std::move(name), [get] { return QuoteString(get()); },
                      [set](std::string_view t) { set(UnquoteString(t)); },
                      def ? std::optional(QuoteString(*def)) : std::nullopt});
}

void TPropertyList::AddEnum(std::string name, std::span<const char* const> names,
                            std::function<int()> get, std::function<void(int)> set,
                            std::optional<int> def) {
    auto text = [names](int v) {
        if (v < 0 || static_cast<size_t>(v) >= names.size()) return std::to_string(v);
        return std::string(names[static_cast<size_t>(v)]);
    };
    items_.push_back({std::move(name), [get, text] { return text(get()); },
                      [set, names](std::string_view t) { set(EnumOrdinal(names, t)); },
                      def ? std::optional(text(*def)) : std::nullopt});
}

void TPropertyList::AddSet(std::string name, std::span<const char* const> names,
                           std::function<uint32_t()> get, std::function<void(uint32_t)> set,
                           std::optional<uint32_t> def) {
    items_.push_back({std::move(name), [get, names] { return SetText(names, get()); },
                      [set, names](std::string_view t) { set(ParseSet(names, t)); },
                      def ? std::optional(SetText(names, *def)) : std::nullopt});
}

void TPropertyList::AddObject(const std::string& name, TPersistent& object) {
    AddOwned(name + ".", object);
}

void TPropertyList::AddOwned(const std::string& prefix, TPersistent& object,
                             std::string_view except) {
    TPropertyList inner;
    object.DefineProperties(inner);
    for (Property& p : inner.items_) {
        if (!except.empty() && p.name == except) continue;
        p.name = prefix + p.name;
        items_.push_back(std::move(p));
    }
}

const TPropertyList::Property* TPropertyList::Find(std::string_view name) const {
    for (const Property& p : items_)
        if (SameText(p.name, name)) return &p;
    return nullptr;
}

// Strings are stored as in the original stored forms: printable runs in single quotes
// (a quote doubled), every other byte as #N, e.g. 'AB'#13#10.
std::string QuoteString(std::string_view bytes) {
    if (bytes.empty()) return "''";
    std::string text;
    bool quoted = false;
    for (unsigned char c : bytes) {
        if (c >= 32 && c < 127) {
            if (!quoted) text += '\'';
            quoted = true;
            text += static_cast<char>(c);
            if (c == '\'') text += '\'';
        } else {
            if (quoted) text += '\'';
            quoted = false;
            text += '#' + std::to_string(c);
        }
    }
    if (quoted) text += '\'';
    return text;
}

std::string UnquoteString(std::string_view text) {
    std::string bytes;
    size_t i = 0;
    if (text.empty()) throw std::invalid_argument("empty string value");
    while (i < text.size()) {
        if (text[i] == '\'') {
            ++i;
            for (;;) {
                if (i >= text.size()) throw std::invalid_argument("unterminated string");
                if (text[i] == '\'') {
                    if (i + 1 < text.size() && text[i + 1] == '\'') {
                        bytes += '\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                bytes += text[i++];
            }
        } else if (text[i] == '#') {
            size_t j = ++i;
            while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
            if (j == i) throw std::invalid_argument("# without a number");
            int64_t value = ParseInteger(text.substr(i, j - i));
            if (value > 255) throw std::invalid_argument("character code above 255");
            bytes += static_cast<char>(value);
            i = j;
        } else {
            throw std::invalid_argument("not a quoted string");
        }
    }
    return bytes;
}

}  // namespace wct
