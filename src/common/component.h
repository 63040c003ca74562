// SPDX-License-Identifier: Apache-2.0
// The component base every part of the system is built from.
//
// A component has a name, an owner that frees it, a state (loading from its stored form,
// being destroyed), published properties that can be written to and read from a stored
// text form (see stored_form.h), and destruction notices for the non-owning references
// components keep to one another.
//
// Destruction: a component whose state other components may touch while they react to
// its destruction notice (a port whose links are unregistered, say) calls
// BeginDestruction() first thing in its destructor, so that the notices go out and its
// owned components are freed while the whole object still exists. ~TComponent does the
// same for classes that need no such care. All of this is main-thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace wct {

class TPropertyList;

// An object with published properties (a component, or a sub-object of one).
class TPersistent {
public:
    virtual ~TPersistent() = default;
    // Adds the published properties, in declaration order.
    virtual void DefineProperties(TPropertyList& /*properties*/) {}
};

enum TComponentStateFlag : unsigned {
    csLoading = 1u << 0,
    csDestroying = 1u << 1,
    csDesigning = 1u << 2,  // never set at run time; kept so setters can ask like the original
};

enum class TOperation { opInsert, opRemove };

class TComponent;

// Events are callable members named On..., raised only when set, on the main thread
// unless a component documents otherwise. The first argument is the sender.
using TNotifyEvent = std::function<void(TComponent* sender)>;

class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* owner = nullptr);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    virtual std::string ClassName() const { return "TComponent"; }

    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }

    // Owned components, in creation order.
    const std::vector<TComponent*>& Components() const { return components_; }
    // An owned component by name (ASCII case-insensitive), or nullptr.
    TComponent* FindComponent(std::string_view name) const;

    unsigned ComponentState() const { return state_; }
    bool Loading() const { return (state_ & csLoading) != 0; }
    bool Destroying() const { return (state_ & csDestroying) != 0; }
    bool Designing() const { return (state_ & csDesigning) != 0; }

    // `subscriber` gets Notification(this, opRemove) when this component is destroyed
    // (and this one is told when the subscriber goes first).
    void FreeNotification(TComponent* subscriber);
    void RemoveFreeNotification(TComponent* subscriber);

    // Stored-form loading: BeginLoading marks the component as loading
    // before the properties are set; Loaded ends the loading state afterwards and is
    // where a component acts on values it only recorded while loading.
    void BeginLoading();
    virtual void Loaded();

protected:
    // Told that `component` is going (opRemove) or arriving (opInsert). An override must
    // call the base.
    virtual void Notification(TComponent* component, TOperation operation);

    // Sends the destruction notices and frees the owned components. Idempotent.
    void BeginDestruction();

private:
    void InsertComponent(TComponent* component);
    void RemoveComponent(TComponent* component);
    void DropFreeNotify(TComponent* component);

    TComponent* owner_;
    std::string name_;
    unsigned state_ = 0;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> freeNotifies_;
};

// The published properties of one object, each with its text form for the stored form.
class TPropertyList {
public:
    struct Property {
        std::string name;
        std::function<std::string()> get;
        std::function<void(std::string_view)> set;  // throws std::invalid_argument on bad text
        std::optional<std::string> defaultText;     // none: always stored
    };

    void AddInteger(std::string name, std::function<int64_t()> get,
                    std::function<void(int64_t)> set, std::optional<int64_t> def);
    void AddBoolean(std::string name, std::function<bool()> get, std::function<void(bool)> set,
                    std::optional<bool> def);
    void AddFloat(std::string name, std::function<double()> get, std::function<void(double)> set,
                  std::optional<double> def);
    // Byte strings; every byte value is kept.
    void AddString(std::string name, std::function<std::string()> get,
                   std::function<void(const std::string&)> set, std::optional<std::string> def);
    // Enumerations by ordinal, stored by name; names[i] is the name of ordinal i.
    void AddEnum(std::string name, std::span<const char* const> names, std::function<int()> get,
                 std::function<void(int)> set, std::optional<int> def);
    // Sets over an enumeration, as a bit mask of ordinals, stored as "[a, b]".
    void AddSet(std::string name, std::span<const char* const> names, std::function<uint32_t()> get,
                std::function<void(uint32_t)> set, std::optional<uint32_t> def);
    // The properties of a sub-object, stored as "Name.Property".
    void AddObject(const std::string& name, TPersistent& object);
    // An owned object's properties published as the owner's own, named prefix + name, all
    // but `except`.
    void AddOwned(const std::string& prefix, TPersistent& object, std::string_view except = {});

    // One property of `object` in one line. `get` is a field or an accessor, `set` a field or
    // a setter; the stored type (the setter's argument, or the field's) picks the text form:
    // boolean, string, float or integer. Bind(name, object, field, def) reads and writes the
    // field itself.
    template <class T, class Get, class Set, class Def>
    void Bind(std::string name, T* object, Get get, Set set, Def def);
    template <class T, class Field, class Def>
    void Bind(std::string name, T* object, Field field, Def def) {
        Bind(std::move(name), object, field, field, def);
    }
    // An enumeration bound the same way; names[i] is the name of ordinal i.
    template <class T, class Get, class Set, class Def>
    void BindEnum(std::string name, std::span<const char* const> names, T* object, Get get, Set set,
                  Def def);
    template <class T, class Field, class Def>
    void BindEnum(std::string name, std::span<const char* const> names, T* object, Field field,
                  Def def) {
        BindEnum(std::move(name), names, object, field, field, def);
    }

    const std::vector<Property>& Items() const { return items_; }
    const Property* Find(std::string_view name) const;

private:
    std::vector<Property> items_;
};

namespace property_detail {

// The type a property is written as: a setter's argument, or a field's own type.
template <class S>
struct Stored;
template <class T, class A>
struct Stored<void (T::*)(A)> {
    using type = std::remove_cvref_t<A>;
};
template <class T, class V>
requires(!std::is_function_v<V>) struct Stored<V T::*> {
    using type = V;
};

template <class T, class Set, class V>
void Write(T* object, Set set, V value) {
    using S = typename Stored<Set>::type;
    if constexpr (std::is_member_object_pointer_v<Set>)
        object->*set = static_cast<S>(value);
    else
        (object->*set)(static_cast<S>(value));
}

}  // namespace property_detail

template <class T, class Get, class Set, class Def>
void TPropertyList::Bind(std::string name, T* object, Get get, Set set, Def def) {
    using S = typename property_detail::Stored<Set>::type;
    auto read = [object, get] { return std::invoke(get, object); };
    auto write = [object, set](auto v) { property_detail::Write(object, set, v); };
    if constexpr (std::is_same_v<S, bool>)
        AddBoolean(std::move(name), read, write, std::optional<bool>(def));
    else if constexpr (std::is_same_v<S, std::string> || std::is_same_v<S, std::string_view>)
        AddString(std::move(name), read, write, std::optional<std::string>(def));
    else if constexpr (std::is_floating_point_v<S>)
        AddFloat(std::move(name), read, write, std::optional<double>(def));
    else
        AddInteger(std::move(name), read, write, std::optional<int64_t>(def));
}

template <class T, class Get, class Set, class Def>
void TPropertyList::BindEnum(std::string name, std::span<const char* const> names, T* object,
                             Get get, Set set, Def def) {
    AddEnum(
        std::move(name), names,
        [object, get] { return static_cast<int>(std::invoke(get, object)); },
        [object, set](int v) { property_detail::Write(object, set, v); }, std::optional<int>(def));
}

// Text forms shared by the stored form and its tests.
std::string QuoteString(std::string_view bytes);
std::string UnquoteString(std::string_view text);  // throws std::invalid_argument

}  // namespace wct
