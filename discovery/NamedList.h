#pragma once
// NamedList<T>: the small ordered list in which transport names, discovery
// filters and settings kinds travel between the application and the
// transports. Besides its items it carries a name, a random (version 4) UUID
// and a modification time (seconds since 1970, C time value); nothing in this
// program reads those three, they only travel with the list.
//
// Value semantics: the object holds one owned pointer to its implementation
// and every copy is deep. A copy has the same items, name, uuid and time, and
// its modified flag is false. Moving is copying, so no list is ever left
// without its implementation record.
//
// No locks: a list is used by one thread at a time. Nothing here fails
// except by std::bad_alloc.

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid.hpp>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Qel {

template <typename T>
class NamedList {
public:
    using value_type = T;
    using const_iterator = typename std::vector<T>::const_iterator;

    // Empty, named "[no name]", time now, not modified.
    NamedList() : impl_(std::make_unique<Impl>("[no name]", std::time(nullptr))) {}

    NamedList(std::string name, std::int64_t time)
        : impl_(std::make_unique<Impl>(std::move(name), time)) {}

    NamedList(const NamedList& other) : impl_(std::make_unique<Impl>(*other.impl_)) {
        impl_->modified = false;
    }

    NamedList& operator=(const NamedList& other) {
        if (this != &other) {
            auto copy = std::make_unique<Impl>(*other.impl_);
            copy->modified = false;
            impl_ = std::move(copy);
        }
        return *this;
    }

    ~NamedList() = default;

    // Appends one value, marks the list modified and stamps it with the
    // current time.
    void Append(T value) {
        impl_->items.push_back(std::move(value));
        impl_->modified = true;
        impl_->time = static_cast<std::int64_t>(std::time(nullptr));
    }

    std::size_t Count() const { return impl_->items.size(); }
    bool Empty() const { return impl_->items.empty(); }
    const T& operator[](std::size_t index) const { return impl_->items[index]; }
    const std::vector<T>& Items() const { return impl_->items; }

    const_iterator begin() const { return impl_->items.begin(); }
    const_iterator end() const { return impl_->items.end(); }

    const std::string& Name() const { return impl_->name; }
    const boost::uuids::uuid& Uuid() const { return impl_->uuid; }
    std::int64_t Time() const { return impl_->time; }
    bool Modified() const { return impl_->modified; }

private:
    struct Impl {
        Impl(std::string list_name, std::int64_t list_time)
            : name(std::move(list_name)), uuid(DrawUuid()), time(list_time) {}
        Impl(const Impl&) = default;

        bool modified = false;
        std::vector<T> items;
        std::string name;
        boost::uuids::uuid uuid;
        std::int64_t time;
    };

    // One generator per thread: it seeds itself from the operating system's
    // entropy source once instead of at every list creation.
    static boost::uuids::uuid DrawUuid() {
        thread_local boost::uuids::random_generator generator;
        return generator();
    }

    std::unique_ptr<Impl> impl_;
};

}  // namespace Qel
